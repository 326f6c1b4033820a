// Helpers shared by the main window and pop-up suites: waiting with the event loop running, and
// clicks delivered as a person's would be.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>
#include <functional>

#include "ui/window_message.h"

namespace tovarek::test {

// Runs the event loop until `done` holds or `ms` pass; returns whether it holds.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline void SendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
                      Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// A left click at `at` (client coordinates of `w`).
inline void Click(QWidget* w, QPoint at) {
    SendMouse(w, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

// Delivers every window message already posted to `target`.
inline void DeliverPostedMessages(QObject* target) {
    QCoreApplication::sendPostedEvents(target, WindowMessageEvent::EventType());
}

}  // namespace tovarek::test
