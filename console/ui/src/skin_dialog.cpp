// A borderless dialog with a drawn frame; the background moves the window.
#include "consoleui/skin_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "consoleui/cell_icons.h"
#include "consoleui/ui_fonts.h"

namespace consoleui {

namespace {

const QColor kFrameColour(0x1A, 0x30, 0x52);
const QColor kCaptionTop(0x2F, 0x5A, 0x93);
const QColor kCaptionBottom(0x1D, 0x3C, 0x68);
const QColor kBodyColour(0xE9, 0xEF, 0xF6);
constexpr int kCaptionHeight = 34;
constexpr int kEdge = 3;

}  // namespace

SkinDialog::SkinDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowIcon(windowIcon());

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kEdge, 0, kEdge, kEdge);
    outer->setSpacing(0);

    m_captionBar = new QWidget(this);
    m_captionBar->setObjectName(QStringLiteral("captionBar"));
    m_captionBar->setFixedHeight(kCaptionHeight);
    auto* bar = new QHBoxLayout(m_captionBar);
    bar->setContentsMargins(8, 0, 4, 0);
    bar->setSpacing(6);
    m_icon = new QLabel(m_captionBar);
    m_icon->setPixmap(
        iconPixmap(kIconWindow).scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_caption = new QLabel(m_captionBar);
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setStyleSheet(QStringLiteral("color: white;"));
    m_caption->setFont(uiFont(QStringLiteral("思源黑体 CN"), 15, true));
    m_captionButtons = new QHBoxLayout;
    m_captionButtons->setSpacing(2);
    m_closeButton = new QToolButton(m_captionBar);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_closeButton->setText(QStringLiteral("✕"));
    m_closeButton->setToolTip(QStringLiteral("关闭"));
    m_closeButton->setAutoRaise(true);
    m_closeButton->setFixedSize(30, 26);
    m_closeButton->setStyleSheet(
        QStringLiteral("QToolButton { color: white; border: none; font-size: 15px; }"
                       "QToolButton:hover { background: #C0392B; }"));
    connect(m_closeButton, &QToolButton::clicked, this, &QDialog::reject);
    bar->addWidget(m_icon);
    bar->addWidget(m_caption, 1);
    bar->addLayout(m_captionButtons);
    bar->addWidget(m_closeButton);
    outer->addWidget(m_captionBar);

    m_body = new QVBoxLayout;
    m_body->setContentsMargins(10, 10, 10, 10);
    m_body->setSpacing(8);
    outer->addLayout(m_body, 1);
}

void SkinDialog::setCaption(const QString& caption) {
    m_caption->setText(caption);
    setWindowTitle(caption);
}

QString SkinDialog::caption() const {
    return m_caption->text();
}

void SkinDialog::setCaptionFont(const QFont& font) {
    m_caption->setFont(font);
}

void SkinDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBodyColour);
    const QRect captionRect(0, 0, width(), kCaptionHeight);
    QLinearGradient gradient(captionRect.topLeft(), captionRect.bottomLeft());
    gradient.setColorAt(0, kCaptionTop);
    gradient.setColorAt(1, kCaptionBottom);
    painter.fillRect(captionRect, gradient);
    painter.setPen(QPen(kFrameColour, kEdge));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
}

void SkinDialog::setResizable(bool resizable) {
    m_resizable = resizable;
    // The frame's band around the body is where the edges are grabbed.
    const int edge = resizable ? kResizeGrip : kEdge;
    layout()->setContentsMargins(edge, 0, edge, edge);
    setMouseTracking(resizable);
    m_captionBar->setMouseTracking(resizable);
    if (resizable) {
        m_captionBar->installEventFilter(this);
    } else {
        m_captionBar->removeEventFilter(this);
    }
}

Qt::Edges SkinDialog::edgesAt(const QPoint& pos) const {
    Qt::Edges edges;
    if (!m_resizable || isMaximized() || !rect().contains(pos)) return edges;
    if (pos.x() < kResizeGrip) edges |= Qt::LeftEdge;
    if (pos.x() >= width() - kResizeGrip) edges |= Qt::RightEdge;
    if (pos.y() < kResizeGrip) edges |= Qt::TopEdge;
    if (pos.y() >= height() - kResizeGrip) edges |= Qt::BottomEdge;
    return edges;
}

bool SkinDialog::beginResize(Qt::Edges edges, const QPoint& globalPos) {
    if (!edges) return false;
    // Let the window system resize where it can; otherwise follow the mouse.
    if (windowHandle() && windowHandle()->startSystemResize(edges)) return true;
    m_resizing = edges;
    m_resizeStart = globalPos;
    m_resizeGeometry = geometry();
    return true;
}

void SkinDialog::updateEdgeCursor(const QPoint& pos) {
    const Qt::Edges edges = edgesAt(pos);
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge)) {
        setCursor(Qt::SizeFDiagCursor);
    } else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge)) {
        setCursor(Qt::SizeBDiagCursor);
    } else if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
        setCursor(Qt::SizeHorCursor);
    } else if (edges) {
        setCursor(Qt::SizeVerCursor);
    } else {
        unsetCursor();
    }
}

void SkinDialog::toggleMaximized() {
    if (isMaximized()) {
        showNormal();
    } else {
        showMaximized();
    }
}

bool SkinDialog::eventFilter(QObject* watched, QEvent* event) {
    // The caption bar covers the top edge: its top band resizes too.
    if (watched == m_captionBar && m_resizable) {
        if (event->type() == QEvent::MouseMove) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->buttons() == Qt::NoButton) {
                updateEdgeCursor(m_captionBar->mapTo(this, mouse->position().toPoint()));
            }
        } else if (event->type() == QEvent::MouseButtonPress) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint pos = m_captionBar->mapTo(this, mouse->position().toPoint());
            if (mouse->button() == Qt::LeftButton &&
                beginResize(edgesAt(pos), mouse->globalPosition().toPoint())) {
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SkinDialog::mouseDoubleClickEvent(QMouseEvent* event) {
    if (m_resizable && event->button() == Qt::LeftButton &&
        event->position().y() < kCaptionHeight) {
        m_dragging = false;
        toggleMaximized();
        event->accept();
        return;
    }
    QDialog::mouseDoubleClickEvent(event);
}

void SkinDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    if (beginResize(edgesAt(event->position().toPoint()), event->globalPosition().toPoint())) {
        event->accept();
        return;
    }
    // A maximised window stays where it is.
    if (isMaximized()) {
        event->accept();
        return;
    }
    // Let the window system move the window where it can; otherwise follow the mouse.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
}

void SkinDialog::mouseMoveEvent(QMouseEvent* event) {
    if (m_resizing && (event->buttons() & Qt::LeftButton)) {
        const QPoint delta = event->globalPosition().toPoint() - m_resizeStart;
        QRect g = m_resizeGeometry;
        const QSize least = minimumSize().expandedTo(minimumSizeHint());
        if (m_resizing & Qt::LeftEdge)
            g.setLeft(std::min(g.left() + delta.x(), g.right() - least.width() + 1));
        if (m_resizing & Qt::RightEdge)
            g.setRight(std::max(g.right() + delta.x(), g.left() + least.width() - 1));
        if (m_resizing & Qt::TopEdge)
            g.setTop(std::min(g.top() + delta.y(), g.bottom() - least.height() + 1));
        if (m_resizing & Qt::BottomEdge)
            g.setBottom(std::max(g.bottom() + delta.y(), g.top() + least.height() - 1));
        setGeometry(g);
        event->accept();
        return;
    }
    if (m_resizable && event->buttons() == Qt::NoButton)
        updateEdgeCursor(event->position().toPoint());
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void SkinDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (m_resizing && event->button() == Qt::LeftButton) {
        m_resizing = {};
        event->accept();
        return;
    }
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

void SkinDialog::OnInitDialog() {
    if (m_initialised) return;
    m_initialised = true;
    initDialog();
}

int SkinDialog::exec() {
    OnInitDialog();
    return QDialog::exec();
}

}  // namespace consoleui
