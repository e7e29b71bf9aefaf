// Helpers shared by the tool dialog tests: driving a modal dialog from inside its exec(),
// recording message boxes, reading list columns.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "consoleui/list_ctrl_wg.h"
#include "platform/prompt.h"

namespace tooltest {

// Runs `action` once on the next modal window that shows (looked for from the event loop for
// at most 10 s). A dialog the action leaves open is rejected, so a failed check inside the
// action cannot leave the test inside exec().
class ModalWatch {
public:
    explicit ModalWatch(std::function<void(QWidget*)> action) : m_state(std::make_shared<State>()) {
        auto state = m_state;
        state->timer = new QTimer;
        const QDeadlineTimer deadline(10000);
        QObject::connect(state->timer, &QTimer::timeout, state->timer, [state, action, deadline] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible()) {
                state->finish();
                state->seen = true;
                QPointer<QWidget> guard(modal);
                action(modal);
                if (guard && guard->isVisible()) {
                    if (auto* dialog = qobject_cast<QDialog*>(guard.data())) dialog->reject();
                }
            } else if (deadline.hasExpired()) {
                state->finish();
            }
        });
        state->timer->start(5);
    }
    ~ModalWatch() { m_state->finish(); }
    ModalWatch(const ModalWatch&) = delete;
    ModalWatch& operator=(const ModalWatch&) = delete;

    bool seen() const { return m_state->seen; }

private:
    struct State {
        QTimer* timer = nullptr;
        bool seen = false;
        void finish() {
            if (!timer) return;
            timer->stop();
            timer->deleteLater();
            timer = nullptr;
        }
    };
    std::shared_ptr<State> m_state;
};

class RecordingPrompt : public platform::Prompt {
public:
    void showMessage(const std::string& text, const std::string& = {},
                     platform::PromptIcon = platform::PromptIcon::None) override {
        messages.push_back(text);
    }
    std::vector<std::string> messages;
};

inline QStringList rowTexts(const consoleui::CListCtrlWG& list, int row) {
    QStringList texts;
    for (int c = 0; c < list.columnCount(); ++c) texts << list.itemText(row, c);
    return texts;
}

inline QStringList columnTexts(const consoleui::CListCtrlWG& list, int column) {
    QStringList texts;
    for (int r = 0; r < list.rowCount(); ++r) texts << list.itemText(r, column);
    return texts;
}

inline QStringList headerTitles(const consoleui::CListCtrlWG& list) {
    QStringList titles;
    for (int c = 0; c < list.columnCount(); ++c) {
        titles << list.model()->headerData(c, Qt::Horizontal).toString();
    }
    return titles;
}

}  // namespace tooltest
