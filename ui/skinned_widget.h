// Base of the program's painted windows (main window, pages, pop-up): the back buffer is rebuilt
// in the window's style at every size change and copied at every paint, then the subclass draws
// its UI objects on top. Window messages posted to it arrive in OnMessage. UI thread only.
#pragma once

#include <QWidget>

#include "platform/messages.h"
#include "ui/skin/skin_paint.h"

namespace tovarek {

class SkinnedWidget : public QWidget, public MessageSink {
public:
    SkinnedWidget(SkinStyle style, QWidget* parent);

    // Posts to this window's own queue; safe from any thread while the window lives.
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override;

    const BackBuffer& backBuffer() const { return m_back; }
    int lastCopyResult() const { return m_nLastCopy; }

protected:
    // After the back buffer has been rebuilt at w x h: move child controls.
    virtual void OnSize(int /*w*/, int /*h*/) {}
    // After the back buffer has been copied: draw the UI objects.
    virtual void OnPaintObjects(QPainter& /*dc*/) {}
    virtual void OnMessage(const Message& /*m*/) {}

    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    // Enter and Esc never close or act on a page.
    void keyPressEvent(QKeyEvent* e) override;

private:
    SkinStyle m_style;
    BackBuffer m_back;
    int m_nLastCopy = -1;
};

}  // namespace tovarek
