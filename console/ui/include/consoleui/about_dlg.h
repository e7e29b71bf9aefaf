// The About box of the console.
#pragma once

#include "consoleui/skin_dialog.h"

class QPushButton;

namespace consoleui {

class CAboutDlg : public SkinDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    QPushButton* okButton() const { return m_ok; }

private:
    QPushButton* m_ok;
};

// The settings dialog the Enter key opens: a frame and its close button, nothing else.
class CQeltSetDlg : public SkinDialog {
    Q_OBJECT
public:
    explicit CQeltSetDlg(QWidget* parent = nullptr);
};

}  // namespace consoleui
