// Posted window messages on Qt: a custom event carrying (message, wParam, lParam) that a window
// posts to itself from its MessageSink. QCoreApplication::postEvent is thread-safe, so a
// worker may post from its own thread; the receiver must outlive every sender that can post to
// it (workers are stopped and joined before their window goes).
#pragma once

#include <QEvent>
#include <QPointer>

#include "platform/messages.h"

class QObject;

namespace tovarek {

class WindowMessageEvent : public QEvent {
public:
    explicit WindowMessageEvent(const Message& m) : QEvent(EventType()), m_msg(m) {}
    const Message& message() const { return m_msg; }
    // The one event type all window messages share, registered on first use.
    static QEvent::Type EventType();

private:
    Message m_msg;
};

}  // namespace tovarek
