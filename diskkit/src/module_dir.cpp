// The executable's folder, read from /proc/self/exe.
#include "diskkit/module_dir.h"

#include "platform/executable_path.h"

std::string ModuleDirOf(std::string_view executablePath) {
    const auto slash = executablePath.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(executablePath.substr(0, slash));
}

std::string GetModuleDir() {
    return ModuleDirOf(platform::executablePath());
}
