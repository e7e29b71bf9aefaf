// The program folder, read from /proc/self/exe.
#include "public/work_path.h"

#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Full path of the running executable; empty when it cannot be read. The buffer grows until
// the link fits, so long paths are not cut.
std::string executablePath() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        }
        if (buffer.size() >= (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::string WorkPathOf(std::string_view executablePath) {
    const auto slash = executablePath.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(executablePath.substr(0, slash + 1));
}

std::string GetCurWorkPath() {
    return WorkPathOf(executablePath());
}
