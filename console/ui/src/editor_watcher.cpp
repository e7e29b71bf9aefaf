// Watches open cell editors through an application-wide event filter.
#include "editor_watcher.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

#include "consoleui/list_ctrl_wg.h"

namespace consoleui {

namespace {

bool comboOpen(const QComboBox* combo) {
    return combo->view() && combo->view()->isVisible();
}

bool pickerOpen(const QDateTimeEdit* picker) {
    return picker->calendarPopup() && picker->calendarWidget() &&
           picker->calendarWidget()->isVisible();
}

}  // namespace

EditorWatcher& EditorWatcher::instance() {
    // Owned by nobody on purpose: it lives as long as the application object.
    static EditorWatcher* watcher = new EditorWatcher;
    return *watcher;
}

bool EditorWatcher::isInside(const QWidget* widget, const QWidget* editor) {
    // parentWidget() crosses window boundaries, so a combo's popup list counts as inside.
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (w == editor) return true;
    }
    return false;
}

bool EditorWatcher::dropDownOpen(const QWidget* editor) {
    if (!editor) return false;
    if (const auto* combo = qobject_cast<const QComboBox*>(editor); combo && comboOpen(combo)) {
        return true;
    }
    if (const auto* picker = qobject_cast<const QDateTimeEdit*>(editor);
        picker && pickerOpen(picker)) {
        return true;
    }
    for (const auto* combo : editor->findChildren<QComboBox*>()) {
        if (comboOpen(combo)) return true;
    }
    for (const auto* picker : editor->findChildren<QDateTimeEdit*>()) {
        if (pickerOpen(picker)) return true;
    }
    const QWidget* popup = QApplication::activePopupWidget();
    return popup && isInside(popup, editor);
}

void EditorWatcher::watch(QWidget* editor, CListCtrlWG* list) {
    if (!editor || !list) return;
    unwatch(editor);
    m_entries.push_back({editor, list});
    updateInstallation();
}

void EditorWatcher::unwatch(QWidget* editor) {
    std::erase_if(m_entries, [editor](const Entry& e) { return !e.editor || e.editor == editor; });
    updateInstallation();
}

bool EditorWatcher::isWatched(const QWidget* editor) const {
    return editor && std::any_of(m_entries.begin(), m_entries.end(),
                                 [editor](const Entry& e) { return e.editor == editor; });
}

void EditorWatcher::updateInstallation() {
    const bool wanted = !m_entries.empty() && qApp;
    if (wanted == m_installed) return;
    if (wanted) {
        qApp->installEventFilter(this);
        connect(qApp, &QApplication::focusChanged, this, &EditorWatcher::onFocusChanged);
    } else if (qApp) {
        qApp->removeEventFilter(this);
        disconnect(qApp, &QApplication::focusChanged, this, &EditorWatcher::onFocusChanged);
    }
    m_installed = wanted;
}

void EditorWatcher::onFocusChanged(QWidget* old, QWidget* now) {
    for (const Entry& e : std::vector<Entry>(m_entries)) {
        if (!e.editor || !e.list) continue;
        if (!old || !isInside(old, e.editor)) continue;
        if (now && isInside(now, e.editor)) continue;
        if (dropDownOpen(e.editor)) continue;
        e.list->requestEditorClose();
    }
}

bool EditorWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) break;
            for (const Entry& e : std::vector<Entry>(m_entries)) {
                if (!e.editor || !e.list || !isInside(widget, e.editor)) continue;
                e.list->requestEditorClose();
                // In an open drop-down the key first picks or dismisses the entry there;
                // in the editor itself it is used up here.
                return widget->window() == e.editor->window();
            }
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            const auto button = static_cast<QMouseEvent*>(event)->button();
            if (button != Qt::LeftButton && button != Qt::RightButton &&
                button != Qt::MiddleButton) {
                break;
            }
            [[fallthrough]];
        }
        case QEvent::Wheel: {
            const bool insideAny = std::any_of(
                m_entries.begin(), m_entries.end(),
                [widget](const Entry& e) { return e.editor && isInside(widget, e.editor); });
            if (insideAny) break;
            for (const Entry& e : std::vector<Entry>(m_entries)) {
                if (e.editor && e.list && !dropDownOpen(e.editor)) e.list->requestEditorClose();
            }
            break;
        }
        default:
            break;
    }
    return false;
}

}  // namespace consoleui
