// Drives modal dialogs from a test: the action runs once the next modal window is showing.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace uitest {

// Watches for the next modal window (checked from the event loop every few milliseconds,
// for at most 10 s) and runs the action on it. A dialog the action leaves open is rejected,
// so a failed check inside the action cannot leave the test stuck in exec().
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

    // Whether a modal window appeared and the action ran.
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

}  // namespace uitest
