// Message boxes with one OK button: the GUI shows them, tests record them.
#pragma once

#include <atomic>
#include <string>

namespace platform {

enum class PromptIcon { None, Information, Error };

class Prompt {
public:
    virtual ~Prompt() = default;
    // Shows `text` (UTF-8). On the GUI thread it returns when the operator has pressed OK;
    // from any other thread it hands the box to the GUI thread and returns at once, so a
    // worker never waits for the operator. `caption` empty means the default caption.
    virtual void showMessage(const std::string& text, const std::string& caption = {},
                             PromptIcon icon = PromptIcon::None) = 0;
};

namespace detail {
// This library is static and linked into the program and into every shared library that shows
// boxes, so each holds a copy of this slot. Default visibility makes the copies one symbol
// that the dynamic linker binds for the whole process; a hidden slot would leave the program's
// prompt unseen by the libraries.
__attribute__((visibility("default"))) inline std::atomic<Prompt*>& defaultPromptSlot() {
    static std::atomic<Prompt*> slot{nullptr};
    return slot;
}
}  // namespace detail

// The process-wide prompt used by libraries that have no window of their own (the serial
// link's and the network link's error boxes). Null until the program or a test sets one; then
// messages are dropped.
inline void setDefaultPrompt(Prompt* prompt) {
    detail::defaultPromptSlot().store(prompt);
}
inline Prompt* defaultPrompt() {
    return detail::defaultPromptSlot().load();
}

}  // namespace platform
