#include "ui/skinned_widget.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>

#include "ui/window_message.h"

namespace tovarek {

SkinnedWidget::SkinnedWidget(SkinStyle style, QWidget* parent) : QWidget(parent), m_style(style) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the back buffer covers every pixel
    // A press on a page's free space stays with the page: only the main window's own free
    // space drags the window.
    if (parent) setAttribute(Qt::WA_NoMousePropagation);
}

void SkinnedWidget::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new WindowMessageEvent(Message{message, wParam, lParam}));
}

bool SkinnedWidget::event(QEvent* e) {
    if (e->type() == WindowMessageEvent::EventType()) {
        OnMessage(static_cast<WindowMessageEvent*>(e)->message());
        return true;
    }
    return QWidget::event(e);
}

void SkinnedWidget::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    BuildBackBuffer(m_back, width(), height(), m_style, devicePixelRatioF());
    OnSize(width(), height());
}

void SkinnedWidget::paintEvent(QPaintEvent* e) {
    QPainter dc(this);
    m_nLastCopy = CopyBackBuffer(m_back, dc, e->rect());
    OnPaintObjects(dc);
}

void SkinnedWidget::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            e->accept();
            return;
        default:
            QWidget::keyPressEvent(e);
    }
}

}  // namespace tovarek
