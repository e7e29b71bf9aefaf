// The process-wide watch over open cell editors: closes them when the operator leaves them.
#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

class QWidget;

namespace consoleui {

class CListCtrlWG;

// Installed on the application while at least one editor is open. Close rules:
// - focus leaves the editor for a widget outside it, unless its drop-down is open;
// - Enter or Escape pressed inside the editor (both close alike; the key does not reach the
//   dialog, so Enter does not press its default button);
// - a mouse button or the wheel on a widget outside every open editor closes every open
//   editor whose drop-down (combo list, calendar) is not open.
class EditorWatcher : public QObject {
    Q_OBJECT
public:
    static EditorWatcher& instance();

    void watch(QWidget* editor, CListCtrlWG* list);
    void unwatch(QWidget* editor);
    bool isWatched(const QWidget* editor) const;

    // True when the editor's drop-down part (a combo box list or a calendar) is showing.
    static bool dropDownOpen(const QWidget* editor);
    // True when `widget` is `editor` or below it, popups of the editor included.
    static bool isInside(const QWidget* widget, const QWidget* editor);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    EditorWatcher() = default;
    void onFocusChanged(QWidget* old, QWidget* now);
    void updateInstallation();

    struct Entry {
        QPointer<QWidget> editor;
        QPointer<CListCtrlWG> list;
    };
    std::vector<Entry> m_entries;
    bool m_installed = false;
};

}  // namespace consoleui
