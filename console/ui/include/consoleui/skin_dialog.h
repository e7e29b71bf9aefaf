// The frame every console dialog shares: borderless, a drawn caption bar with a close
// button, and dragging by the background; a resizable one also resizes from its edges and
// corners and maximises by a double-click on its caption bar.
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
    bool initialised() const { return m_initialised; }

    // Edges and corners resize the window; a double-click on the caption bar maximises it
    // or brings it back.
    void setResizable(bool resizable);
    bool resizable() const { return m_resizable; }
    // Width of the band along the edges that resizes.
    static constexpr int kResizeGrip = 6;
    // The edges a press at `pos` (window coordinates) would resize; none off the band.
    Qt::Edges edgesAt(const QPoint& pos) const;

public slots:
    void toggleMaximized();

protected:
    // What the dialog does once before it first runs: placement, contents, timers.
    virtual void initDialog() {}

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

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
    bool m_resizable = false;
    // A resize by hand (platforms without system resizes): the edges, where the press was and
    // the geometry then.
    Qt::Edges m_resizing;
    QPoint m_resizeStart;
    QRect m_resizeGeometry;

    // Starts a resize from `edges`; false when there is nothing to resize.
    bool beginResize(Qt::Edges edges, const QPoint& globalPos);
    void updateEdgeCursor(const QPoint& pos);
};

}  // namespace consoleui
