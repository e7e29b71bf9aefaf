// A message-box stand-in that keeps every text it was asked to show, in order.
#pragma once

#include <string>
#include <vector>

#include "platform/prompt.h"

namespace testkit {

class RecordingPrompt : public platform::Prompt {
public:
    void showMessage(const std::string& text, const std::string& = {},
                     platform::PromptIcon = platform::PromptIcon::None) override {
        messages.push_back(text);
    }
    std::vector<std::string> messages;
};

}  // namespace testkit
