// The receiver of window messages: the Qt main window in the program, a queue in tests.
#pragma once

#include <cstdint>

namespace platform {

// Stands in for a window handle. post() hands a message over to the receiver's own thread
// and returns at once; send() delivers it before returning (the caller's thread may wait).
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Synchronous delivery; by default the same as post().
    virtual void send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        post(message, wParam, lParam);
    }
};

}  // namespace platform
