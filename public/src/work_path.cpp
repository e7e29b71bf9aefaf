// The program folder, read from /proc/self/exe.
#include "public/work_path.h"

#include "platform/executable_path.h"

std::string WorkPathOf(std::string_view executablePath) {
    const auto slash = executablePath.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(executablePath.substr(0, slash + 1));
}

std::string GetCurWorkPath() {
    return WorkPathOf(platform::executablePath());
}
