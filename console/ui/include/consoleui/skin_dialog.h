// The frame every console dialog shares: borderless, a drawn caption bar with a close
// button, and dragging by the background.
#pragma once

#include <QDialog>
#include <QPoint>

class QLabel;
class QHBoxLayout;
class QToolButton;
class QVBoxLayout;

namespace consoleui {

class SkinDialog : public QDialog {
    Q_OBJECT
public:
    explicit SkinDialog(QWidget* parent = nullptr);

    // The caption shown in the caption bar and given to the window system.
    void setCaption(const QString& caption);
    QString caption() const;
    void setCaptionFont(const QFont& font);

    QLabel* captionLabel() const { return m_caption; }
    QToolButton* closeButton() const { return m_closeButton; }
    // Extra caption-bar buttons go here, left of the close button.
    QHBoxLayout* captionButtons() const { return m_captionButtons; }
    // The dialog's own controls go here.
    QVBoxLayout* body() const { return m_body; }

    // Whether a drag by the background is moving the window by hand (platforms without
    // system moves, such as the offscreen one).
    bool dragging() const { return m_dragging; }

    // Fills the dialog once: the first call runs initDialog(), later calls do nothing. exec()
    // calls it, so a caller (a test) may fill the dialog first and still run it modally.
    void OnInitDialog();
    int exec() override;

protected:
    // What the dialog does once before it first runs: placement, contents, timers.
    virtual void initDialog() {}

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QWidget* m_captionBar;
    QLabel* m_icon;
    QLabel* m_caption;
    QHBoxLayout* m_captionButtons;
    QToolButton* m_closeButton;
    QVBoxLayout* m_body;
    bool m_dragging = false;
    bool m_initialised = false;
    QPoint m_dragOffset;
};

}  // namespace consoleui
