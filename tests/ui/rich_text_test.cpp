#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include <vector>

#include "ui/skin/skin_ui.h"

namespace tovarek {
namespace {

// A window that records the presses the library lets through (those start a window drag).
class Window : public QWidget {
public:
    int m_nPressesSeen = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++m_nPressesSeen; }
};

// A page-like owner with one handler for all its objects, told apart by index.
class Owner : public QObject {
public:
    std::vector<int> m_clicks;
    void OnUiClick(int index) { m_clicks.push_back(index); }
};

void Send(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    Qt::MouseButtons held = Qt::NoButton;
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) held = button;
    if (type == QEvent::MouseMove) button = Qt::NoButton;
    QMouseEvent e(type, QPointF(pos), QPointF(pos), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &e);
}

void Click(QWidget& w, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    Send(w, QEvent::MouseButtonPress, pos, button);
    Send(w, QEvent::MouseButtonRelease, pos, button);
}

// Stands in for the start of a window's paint handler: a new paint pass begins.
void BeginPaintPass(QWidget& w) {
    QPaintEvent e(QRect(0, 0, w.width(), w.height()));
    QCoreApplication::sendEvent(&w, &e);
}

class RichTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window.resize(600, 400);
        m_tab = LoadImage(134);
        m_check = LoadImage(131);
        m_min = LoadImage(133);
    }
    void TearDown() override {
        for (UiObject* o : m_made) GetSkinUi()->DestroyObject(o);
    }

    int LoadImage(int resource) {
        UiImage* image = GetSkinUi()->CreateImage();
        m_made.push_back(image);
        EXPECT_EQ(image->LoadFromResource(resource, 0, "PNG"), 1) << resource;
        return image->GetId();
    }

    template <typename... Args>
    UiRichText* Make(QStringView format, const Args&... args) {
        UiRichText* t = GetSkinUi()->CreateRichText();
        m_made.push_back(t);
        t->SetText(format, args...);
        return t;
    }

    void Draw(UiRichText* t, int x, int y) {
        QPainter p(&m_canvas);
        t->Draw(p, x, y, &m_window, 0);
    }

    Window m_window;
    QImage m_canvas{600, 400, QImage::Format_ARGB32_Premultiplied};
    std::vector<UiObject*> m_made;
    int m_tab = 0, m_check = 0, m_min = 0;
};

TEST_F(RichTextTest, SizesFollowTheMarkupAndTheFrames) {
    EXPECT_EQ(Make(u"/a,p5=%d,btn_width=80,btn_text='扫描'/", m_tab)->GetSize(), QSize(80, 24));
    EXPECT_EQ(Make(u"/a,p5=%d/", m_min)->GetSize(), QSize(27, 20));
    UiRichText* low = Make(u"/a,p5=%d,btn_height=20,btn_text='删除所选'/", m_tab);
    EXPECT_EQ(low->GetSize().height(), 20);
    EXPECT_GE(low->GetSize().width(), 61);  // never narrower than the face image
    // A long caption widens a face that has no width of its own.
    UiRichText* wide = Make(u"/a,p5=%d,btn_text='开始快速扫描开始快速扫描'/", m_tab);
    EXPECT_GT(wide->GetSize().width(), 61);
    // A check option is the box plus its text, at least as high as the box.
    UiRichText* box = Make(u"/a,p5=%d/开机自动运行", m_check);
    EXPECT_GT(box->GetSize().width(), 14 + 4);
    EXPECT_GE(box->GetSize().height(), 14);
    // A line width bounds a long text.
    UiRichText* line = Make(u"/line_width=%d/%s", 100, QString(300, u'x'));
    EXPECT_LE(line->GetSize().width(), 100);
    EXPECT_TRUE(line->GetLabel().contains(QChar(0x2026)));  // elided, not cut silently
    // An image id nobody made draws the caption alone, without failing.
    UiRichText* orphan = Make(u"/a,p5=%d,btn_text='x'/", 99999);
    EXPECT_FALSE(orphan->GetSize().isEmpty());
}

TEST_F(RichTextTest, ClicksReachTheHandlerWithTheRegisteredIndex) {
    Owner owner;
    const char16_t* tabs[] = {u"/a,p5=%d,btn_width=80,btn_text='扫描'/",
                              u"/a,p5=%d,btn_width=80,btn_text='保护'/",
                              u"/a,p5=%d,btn_width=80,btn_text='设置'/"};
    for (int i = 0; i < 3; ++i) {
        UiRichText* t = Make(tabs[i], m_tab);
        EXPECT_TRUE(t->SetClickHandler(1, i, &owner, &Owner::OnUiClick));
        Draw(t, 10, 35 + 40 * i);
    }
    Click(m_window, {20, 40});
    Click(m_window, {89, 75 + 23});  // bottom right pixel of the second
    Click(m_window, {50, 130});
    EXPECT_EQ(owner.m_clicks, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(m_window.m_nPressesSeen, 0);  // the window never saw presses on its buttons

    // Between the buttons and outside them: no click, and the window gets the press (drag).
    Click(m_window, {20, 62});
    Click(m_window, {90, 40});
    Click(m_window, {300, 300});
    EXPECT_EQ(owner.m_clicks.size(), 3u);
    EXPECT_EQ(m_window.m_nPressesSeen, 3);

    // Only the left button clicks.
    Click(m_window, {20, 40}, Qt::RightButton);
    EXPECT_EQ(owner.m_clicks.size(), 3u);
}

TEST_F(RichTextTest, AClickNeedsPressAndReleaseOnTheSameObject) {
    Owner owner;
    UiRichText* a = Make(u"/a,p5=%d,btn_width=80,btn_text='a'/", m_tab);
    UiRichText* b = Make(u"/a,p5=%d,btn_width=80,btn_text='b'/", m_tab);
    a->SetClickHandler(1, 0, &owner, &Owner::OnUiClick);
    b->SetClickHandler(1, 1, &owner, &Owner::OnUiClick);
    Draw(a, 10, 10);
    Draw(b, 10, 50);

    Send(m_window, QEvent::MouseButtonPress, {20, 20});
    EXPECT_EQ(a->CurrentFrame(), kFramePressed);
    Send(m_window, QEvent::MouseMove, {20, 60});  // dragged onto b: neither lights up
    EXPECT_EQ(a->CurrentFrame(), kFrameNormal);
    EXPECT_EQ(b->CurrentFrame(), kFrameNormal);
    Send(m_window, QEvent::MouseButtonRelease, {20, 60});
    EXPECT_TRUE(owner.m_clicks.empty());

    // Leaving and coming back before the release still clicks, like a real button.
    Send(m_window, QEvent::MouseButtonPress, {20, 20});
    Send(m_window, QEvent::MouseMove, {300, 300});
    Send(m_window, QEvent::MouseMove, {25, 22});
    EXPECT_EQ(a->CurrentFrame(), kFramePressed);
    Send(m_window, QEvent::MouseButtonRelease, {25, 22});
    EXPECT_EQ(owner.m_clicks, (std::vector<int>{0}));

    // A quick second press arrives as a double click and still counts.
    Send(m_window, QEvent::MouseButtonDblClick, {20, 60});
    Send(m_window, QEvent::MouseButtonRelease, {20, 60});
    EXPECT_EQ(owner.m_clicks, (std::vector<int>{0, 1}));
}

TEST_F(RichTextTest, HoverFollowsTheMouseAndShowsAHandCursor) {
    UiRichText* t = Make(u"/a,linkl=1/查看");
    Draw(t, 10, 10);
    EXPECT_EQ(t->CurrentFrame(), kFrameNormal);
    Send(m_window, QEvent::MouseMove, {12, 15});
    EXPECT_EQ(t->CurrentFrame(), kFrameHover);
    EXPECT_EQ(m_window.cursor().shape(), Qt::PointingHandCursor);
    Send(m_window, QEvent::MouseMove, {200, 200});
    EXPECT_EQ(t->CurrentFrame(), kFrameNormal);
    EXPECT_EQ(m_window.cursor().shape(), Qt::ArrowCursor);

    m_window.setCursor(Qt::SizeAllCursor);  // a window's own cursor survives a hover
    Send(m_window, QEvent::MouseMove, {12, 15});
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&m_window, &leave);
    EXPECT_EQ(t->CurrentFrame(), kFrameNormal);
    EXPECT_EQ(m_window.cursor().shape(), Qt::SizeAllCursor);
}

TEST_F(RichTextTest, DisabledObjectsIgnoreClicksAndLookGrey) {
    Owner owner;
    UiRichText* t = Make(u"/a,p5=%d,btn_width=60,btn_text='开始保护'/", m_tab);
    t->SetClickHandler(1, 0, &owner, &Owner::OnUiClick);
    Draw(t, 30, 15);
    t->SetEnabled(0, 1);
    EXPECT_EQ(t->CurrentFrame(), kFrameDisabled);
    Send(m_window, QEvent::MouseMove, {40, 20});
    EXPECT_EQ(t->CurrentFrame(), kFrameDisabled);
    Click(m_window, {40, 20});
    EXPECT_TRUE(owner.m_clicks.empty());
    EXPECT_EQ(m_window.m_nPressesSeen, 0);  // a greyed button does not drag the window

    t->SetEnabled(1, 1);
    Click(m_window, {40, 20});
    EXPECT_EQ(owner.m_clicks, (std::vector<int>{0}));

    // Disabling during a press cancels the click.
    Send(m_window, QEvent::MouseButtonPress, {40, 20});
    t->SetEnabled(0, 1);
    Send(m_window, QEvent::MouseButtonRelease, {40, 20});
    EXPECT_EQ(owner.m_clicks.size(), 1u);
}

TEST_F(RichTextTest, StackedButtonsClickTheEnabledOne) {
    // The scan page draws its idle and busy buttons at the same places, one group enabled.
    Owner owner;
    UiRichText* quick = Make(u"/a,p5=%d,btn_text='开始快速扫描'/", m_tab);
    UiRichText* pause = Make(u"/a,p5=%d,btn_width=45,btn_text='暂停'/", m_tab);
    quick->SetClickHandler(1, 0, &owner, &Owner::OnUiClick);
    pause->SetClickHandler(1, 1, &owner, &Owner::OnUiClick);
    for (bool scanning : {false, true, false}) {
        quick->SetEnabled(!scanning, 1);
        pause->SetEnabled(scanning, 1);
        BeginPaintPass(m_window);
        Draw(quick, 10, 15);
        Draw(pause, 10, 15);  // drawn later, lies on top
        Click(m_window, {20, 20});
    }
    EXPECT_EQ(owner.m_clicks, (std::vector<int>{0, 1, 0}));
}

TEST_F(RichTextTest, OnlyObjectsOfTheLatestPaintCanBeHit) {
    Owner owner;
    UiRichText* t = Make(u"/a,linkl=1/关闭");
    t->SetClickHandler(1, 0, &owner, &Owner::OnUiClick);
    Draw(t, 10, 10);
    BeginPaintPass(m_window);  // this paint leaves the link out
    Click(m_window, {12, 15});
    EXPECT_TRUE(owner.m_clicks.empty());
    EXPECT_EQ(m_window.m_nPressesSeen, 1);
    Draw(t, 10, 10);
    Click(m_window, {12, 15});
    EXPECT_EQ(owner.m_clicks.size(), 1u);
}

TEST_F(RichTextTest, FixedStatesShowTheirFrameAndStillClick) {
    Owner owner;
    UiRichText* start = Make(u"/a,p5=%d,btn_width=60,btn_text='开始保护'/", m_tab);
    start->SetClickHandler(1, 0, &owner, &Owner::OnUiClick);
    Draw(start, 30, 15);
    for (int state : {0, 1, 2, 3, 4}) {
        start->SetState(state);
        EXPECT_EQ(start->CurrentFrame(), state);
        Send(m_window, QEvent::MouseMove, {40, 20});
        EXPECT_EQ(start->CurrentFrame(), state);  // the mouse does not change a fixed state
        Send(m_window, QEvent::MouseMove, {300, 300});
    }
    Click(m_window, {40, 20});  // the page decides what a click on an "unavailable" button does
    EXPECT_EQ(owner.m_clicks.size(), 1u);

    start->SetState(7);  // out of range: ignored
    start->SetState(-2);
    EXPECT_EQ(start->GetState(), 4);
    start->SetState(-1);
    Send(m_window, QEvent::MouseMove, {40, 20});
    EXPECT_EQ(start->CurrentFrame(), kFrameHover);
    start->SetEnabled(0, 0);
    start->SetState(2);
    EXPECT_EQ(start->CurrentFrame(), kFrameDisabled);  // greyed wins over a fixed state
}

TEST_F(RichTextTest, TwoStateButtonSwapsCaptionsOnEachClick) {
    Owner owner;
    UiRichText* t = Make(u"/a,p5=%d,btn_type=1/全选//全不选", m_check);
    t->SetClickHandler(1, 4, &owner, &Owner::OnUiClick);
    Draw(t, 100, 20);
    EXPECT_EQ(t->GetLabel(), QString::fromUtf16(u"全选"));
    EXPECT_EQ(t->CurrentFrame(), kFrameNormal);
    Click(m_window, {105, 25});
    EXPECT_EQ(t->GetLabel(), QString::fromUtf16(u"全不选"));
    Send(m_window, QEvent::MouseMove, {300, 300});
    EXPECT_EQ(t->CurrentFrame(), kFrameSelected);  // the box shows ticked
    Draw(t, 100, 20);
    Click(m_window, {105, 25});
    EXPECT_EQ(t->GetLabel(), QString::fromUtf16(u"全选"));
    EXPECT_EQ(owner.m_clicks, (std::vector<int>{4, 4}));
    // Setting the markup again starts from the first caption only when it stops being a toggle.
    Click(m_window, {105, 25});
    t->SetText(u"/a,p5=%d,btn_type=1/全选//全不选", m_check);
    EXPECT_TRUE(t->IsToggled());
    t->SetText(u"/a,p5=%d/全选", m_check);
    EXPECT_FALSE(t->IsToggled());
}

TEST_F(RichTextTest, HandlersMayReRegisterOrDestroyDuringAClick) {
    // The settings page registers a box's handler again from inside that handler.
    UiRichText* box = Make(u"/a,p5=%d/开机自动运行", m_check);
    int calls = 0;
    std::function<void(int, int)> again = [&](int index, int) {
        ++calls;
        box->SetClickHandler(1, index, again);
        box->SetState(calls % 2 ? 2 : -1);
    };
    box->SetClickHandler(1, 0, again);
    Draw(box, 30, 30);
    Click(m_window, {33, 35});
    Click(m_window, {33, 35});
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(box->GetState(), -1);

    // An object destroyed by its own handler leaves the window working.
    UiRichText* doomed = GetSkinUi()->CreateRichText();
    doomed->SetMarkup("/a,linkl=1/x");
    doomed->SetClickHandler(1, 0, [&](int, int) { GetSkinUi()->DestroyObject(doomed); });
    Draw(doomed, 200, 200);
    Click(m_window, {202, 205});
    Send(m_window, QEvent::MouseMove, {202, 205});
    Click(m_window, {202, 205});
    Click(m_window, {33, 35});
    EXPECT_EQ(calls, 3);
}

TEST_F(RichTextTest, AHandlerThatHidesItsWindowLeavesNothingLit) {
    // The pop-up's close link hides the pop-up; shown again later, the link must not glow.
    UiRichText* close = Make(u"/a,linkl=1/关闭");
    close->SetClickHandler(1, 0, [&](int, int) { m_window.hide(); });
    m_window.show();
    Draw(close, 140, 182);
    Send(m_window, QEvent::MouseMove, {145, 187});
    ASSERT_EQ(close->CurrentFrame(), kFrameHover);
    Click(m_window, {145, 187});
    EXPECT_TRUE(m_window.isHidden());
    EXPECT_EQ(close->CurrentFrame(), kFrameNormal);
    EXPECT_EQ(m_window.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(RichTextTest, ObjectsWithoutAOrAfterTheirOwnerIsGoneDoNotClick) {
    auto* owner = new Owner;
    UiRichText* text = Make(u"拦截历史(鼠标双击打开目录)：");
    UiRichText* link = Make(u"/a,linkl=1/查看");
    text->SetClickHandler(1, 0, owner, &Owner::OnUiClick);
    link->SetClickHandler(1, 1, owner, &Owner::OnUiClick);
    EXPECT_FALSE(link->SetClickHandler(2, 1, owner, &Owner::OnUiClick));  // only event 1
    Draw(text, 5, 45);
    Draw(link, 5, 100);
    Click(m_window, {8, 50});
    EXPECT_TRUE(owner->m_clicks.empty());
    EXPECT_EQ(m_window.m_nPressesSeen, 1);  // plain text lets the window drag
    Click(m_window, {8, 105});
    EXPECT_EQ(owner->m_clicks, (std::vector<int>{1}));
    delete owner;
    Click(m_window, {8, 105});  // would call into a deleted owner
    SUCCEED();
}

TEST_F(RichTextTest, ObjectsOutliveTheirWindowAndFactoryRejectsStrangers) {
    UiRichText* t = Make(u"/a,linkl=1/关闭");
    {
        Window temporary;
        QPainter p(&m_canvas);
        t->Draw(p, 0, 0, &temporary, 0);
        Send(temporary, QEvent::MouseMove, {2, 5});
        EXPECT_EQ(t->CurrentFrame(), kFrameHover);
    }
    EXPECT_EQ(t->CurrentFrame(), kFrameNormal);
    t->SetEnabled(0, 1);
    t->SetState(1);
    Draw(t, 0, 0);

    UiImage* image = GetSkinUi()->CreateImage();
    EXPECT_NE(image->GetId(), 0);
    EXPECT_EQ(image->LoadFromResource(4242, 0, "PNG"), 0);
    EXPECT_EQ(image->LoadFromResource(134, 0, nullptr), 0);
    EXPECT_FALSE(image->IsLoaded());
    EXPECT_EQ(image->LoadFromResource(134, 0, "PNG"), 1);
    UiRichText* face = Make(u"/a,p5=%d/", image->GetId());
    EXPECT_EQ(face->GetSize(), QSize(61, 24));
    GetSkinUi()->DestroyObject(image);
    EXPECT_TRUE(face->GetSize().isEmpty());  // its image is gone: nothing left to show
    Draw(face, 0, 0);
    GetSkinUi()->DestroyObject(image);  // twice
    GetSkinUi()->DestroyObject(nullptr);
    int stranger = 0;
    GetSkinUi()->DestroyObject(reinterpret_cast<UiObject*>(&stranger));
    EXPECT_NE(GetSkinUi()->CreateImage()->GetId(), GetSkinUi()->CreateImage()->GetId());
}

TEST_F(RichTextTest, DrawingPaintsTheFaceFrameOfTheState) {
    UiRichText* t = Make(u"/a,p5=%d/", m_min);
    QImage strip(":/PNG/133", "PNG");
    ASSERT_FALSE(strip.isNull());
    strip = strip.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int state : {0, 2, 4}) {
        QImage canvas(27, 20, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        t->SetState(state);
        {
            QPainter p(&canvas);
            t->Draw(p, 0, 0, nullptr, 0);
        }
        EXPECT_EQ(canvas, strip.copy(0, 20 * state, 27, 20)) << state;
    }
}

}  // namespace
}  // namespace tovarek
