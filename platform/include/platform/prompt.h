// Message boxes with one OK button: the GUI shows them, tests record them.
#pragma once

#include <string>

namespace platform {

enum class PromptIcon { None, Information, Error };

class Prompt {
public:
    virtual ~Prompt() = default;
    // Shows `text` (UTF-8) and returns when the operator has pressed OK.
    // `caption` empty means the program's default caption.
    virtual void showMessage(const std::string& text, const std::string& caption = {},
                             PromptIcon icon = PromptIcon::None) = 0;
};

// The process-wide prompt used by libraries that have no window of their own (the serial
// link's error boxes). Null until the program or a test sets one; then messages are dropped.
void setDefaultPrompt(Prompt* prompt);
Prompt* defaultPrompt();

}  // namespace platform
