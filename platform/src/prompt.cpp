// The process-wide default prompt.
#include "platform/prompt.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<Prompt*> g_defaultPrompt{nullptr};
}

void setDefaultPrompt(Prompt* prompt) { g_defaultPrompt.store(prompt); }

Prompt* defaultPrompt() { return g_defaultPrompt.load(); }

}  // namespace platform
