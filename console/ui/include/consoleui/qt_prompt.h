// Message boxes with one OK button, shown with QMessageBox on the GUI thread.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/prompt.h"

namespace consoleui {

class QtPrompt : public platform::Prompt {
public:
    explicit QtPrompt(QWidget* parent = nullptr) : m_parent(parent) {}
    // On the GUI thread the call returns when the operator has pressed OK; from another
    // thread it queues the box for the GUI thread and returns at once.
    void showMessage(const std::string& text, const std::string& caption = {},
                     platform::PromptIcon icon = platform::PromptIcon::None) override;

private:
    QPointer<QWidget> m_parent;
};

}  // namespace consoleui
