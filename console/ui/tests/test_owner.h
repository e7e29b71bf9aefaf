// A stand-in for the dialog that owns a list: records every message posted or sent to it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/message_target.h"

namespace uitest {

struct OwnerMessage {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool sent;  // delivered by send() (synchronous) rather than post()
    bool operator==(const OwnerMessage&) const = default;
};

class RecordingOwner : public platform::MessageTarget {
public:
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        messages.push_back({message, wParam, lParam, false});
    }
    void send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        messages.push_back({message, wParam, lParam, true});
        if (onSend) onSend(messages.back());
    }
    std::vector<OwnerMessage> messages;
    std::function<void(const OwnerMessage&)> onSend;
};

}  // namespace uitest
