// The running executable's path, read from /proc/self/exe.
#include "platform/executable_path.h"

#include <unistd.h>

#include <vector>

namespace platform {

std::string executablePath() {
    // The buffer grows until the link fits: readlink cuts silently at the buffer's size.
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

}  // namespace platform
