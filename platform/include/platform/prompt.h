// Message boxes with one OK button: the GUI shows them, tests record them.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
// The prompt libraries without a window use, and the threads inside a call through it.
struct DefaultPromptSlot {
    std::mutex lock;
    std::condition_variable callEnded;
    Prompt* prompt = nullptr;
    std::vector<std::thread::id> callers;
};
// This library is static and linked into the program and into every shared library that shows
// boxes, so each holds a copy of this slot. Default visibility makes the copies one symbol
// that the dynamic linker binds for the whole process; a hidden slot would leave the program's
// prompt unseen by the libraries. Never destroyed: worker threads may still tell something
// while the process exits.
__attribute__((visibility("default"))) inline DefaultPromptSlot& defaultPromptSlot() {
    static auto* slot = new DefaultPromptSlot();
    return *slot;
}
}  // namespace detail

// The process-wide prompt used by libraries that have no window of their own (the serial
// link's, the network link's and the log store's error boxes). Null until the program or a
// test sets one; then messages are dropped. Returns once no other thread is inside a call
// through the prompt it replaces (showDefaultPrompt), so the caller may destroy that prompt.
inline void setDefaultPrompt(Prompt* prompt) {
    auto& slot = detail::defaultPromptSlot();
    std::unique_lock guard(slot.lock);
    slot.prompt = prompt;
    // A call on this thread is further up this very stack: it cannot be waited for.
    const auto self = std::this_thread::get_id();
    slot.callEnded.wait(guard, [&] {
        return std::all_of(slot.callers.begin(), slot.callers.end(),
                           [self](std::thread::id caller) { return caller == self; });
    });
}
inline Prompt* defaultPrompt() {
    auto& slot = detail::defaultPromptSlot();
    std::lock_guard guard(slot.lock);
    return slot.prompt;
}

// Shows a message through the default prompt, which setDefaultPrompt keeps alive until the
// call returns (no lock is held during it). False when there is no prompt.
inline bool showDefaultPrompt(const std::string& text, const std::string& caption = {},
                              PromptIcon icon = PromptIcon::None) {
    auto& slot = detail::defaultPromptSlot();
    const auto self = std::this_thread::get_id();
    Prompt* prompt = nullptr;
    {
        std::lock_guard guard(slot.lock);
        prompt = slot.prompt;
        if (!prompt) return false;
        slot.callers.push_back(self);
    }
    struct CallEnd {
        detail::DefaultPromptSlot& slot;
        std::thread::id self;
        ~CallEnd() {
            {
                std::lock_guard guard(slot.lock);
                slot.callers.erase(std::find(slot.callers.begin(), slot.callers.end(), self));
            }
            slot.callEnded.notify_all();
        }
    } end{slot, self};
    prompt->showMessage(text, caption, icon);
    return true;
}

}  // namespace platform
