// Shows a prompt as a modal QMessageBox; other threads hand it to the GUI thread.
#include "consoleui/qt_prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace consoleui {

namespace {

void showBox(QWidget* parent, const QString& text, const QString& caption,
             platform::PromptIcon icon) {
    QMessageBox box(parent);
    const QString fallback =
        icon == platform::PromptIcon::Error ? QStringLiteral("错误") : QStringLiteral("提示");
    box.setWindowTitle(caption.isEmpty() ? fallback : caption);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
        case platform::PromptIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case platform::PromptIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case platform::PromptIcon::None:
            break;
    }
    box.exec();
}

}  // namespace

void QtPrompt::showMessage(const std::string& text, const std::string& caption,
                           platform::PromptIcon icon) {
    const QString qText = QString::fromStdString(text);
    const QString qCaption = QString::fromStdString(caption);
    QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return;
    if (QThread::currentThread() == app->thread()) {
        showBox(m_parent, qText, qCaption, icon);
        return;
    }
    // A worker thread never waits for the operator: the GUI thread may be waiting for it
    // (joining it at shutdown), so the box is handed over and shown from the event loop.
    QPointer<QWidget> parent = m_parent;
    QMetaObject::invokeMethod(
        app, [parent, qText, qCaption, icon] { showBox(parent, qText, qCaption, icon); },
        Qt::QueuedConnection);
}

}  // namespace consoleui
