// A window built the way the program's windows are: back buffer on resize, copy and Draw on
// paint, everything else left to the library. Shown offscreen and painted by Qt itself.
#include <gtest/gtest.h>
#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include "ui/skin/skin_paint.h"
#include "ui/skin/skin_ui.h"

namespace tovarek {
namespace {

class SkinnedWindow : public QWidget {
public:
    SkinnedWindow() {
        setAttribute(Qt::WA_OpaquePaintEvent);  // the back buffer covers everything
        UiImage* tab = GetSkinUi()->CreateImage();
        tab->LoadFromResource(134, 0, "PNG");
        m_btnTab = GetSkinUi()->CreateRichText();
        m_btnTab->SetText(u"/a,p5=%d,btn_width=80,btn_text='扫描'/", tab->GetId());
        m_btnTab->SetClickHandler(1, 0, this, &SkinnedWindow::OnTabClick);
        m_txtVersion = GetSkinUi()->CreateRichText();
        m_txtVersion->SetText(u"当前版本：%s", u"1.0.0.1 ");
    }

    void OnTabClick(int index) { m_nLastClick = index; }

    int m_nLastClick = -1;
    int m_nLastCopy = -1;
    UiRichText* m_btnTab;
    UiRichText* m_txtVersion;

protected:
    void resizeEvent(QResizeEvent*) override {
        BuildBackBuffer(m_back, width(), height(), kSkinMain);
    }
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        m_nLastCopy = CopyBackBuffer(m_back, p, e->rect());
        m_btnTab->Draw(p, 10, 35, this, 0);
        m_txtVersion->Draw(p, 10, height() - 15, this, 0);
    }

private:
    BackBuffer m_back;
};

TEST(SkinnedWindow, PaintsItsSkinAndTakesClicksThroughTheLibrary) {
    SkinnedWindow w;
    w.setWindowFlags(Qt::FramelessWindowHint);
    w.resize(600, 400);
    w.show();
    const QImage shot = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(w.m_nLastCopy, 1);
    ASSERT_EQ(shot.size(), QSize(600, 400));
    EXPECT_EQ(shot.pixel(95, 200), qRgb(100, 100, 100));
    EXPECT_EQ(shot.pixel(300, 380), qRgb(100, 100, 100));
    // The button face lies over the background between x 10 and 89.
    EXPECT_NE(shot.pixel(50, 40), shot.pixel(50, 30));
    EXPECT_EQ(w.m_btnTab->GetBounds(), QRect(10, 35, 80, 24));

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 45), QPointF(50, 45), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(50, 45), QPointF(50, 45),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    QApplication::sendEvent(&w, &release);
    EXPECT_EQ(w.m_nLastClick, 0);
}

}  // namespace
}  // namespace tovarek
