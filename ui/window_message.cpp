#include "ui/window_message.h"

#include <QCoreApplication>

namespace tovarek {

QEvent::Type WindowMessageEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void QtMessageSink::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(m_pTarget,
                                new WindowMessageEvent(Message{message, wParam, lParam}));
}

void DeliverPostedMessages(QObject* target) {
    QCoreApplication::sendPostedEvents(target, WindowMessageEvent::EventType());
}

}  // namespace tovarek
