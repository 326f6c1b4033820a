// The notification pop-up offscreen: the placements of one notice, headings, list and links, a
// new notice in the middle of another, and a work area that does not start at the origin.
#include "ui/popup_dlg.h"

#include <gtest/gtest.h>
#include <QListWidget>
#include <QScrollBar>
#include <vector>

#include "app/ravlin_app.h"
#include "tests/ui/window_test_support.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"
#include "ui/window_message.h"

namespace tovarek {
namespace {

class RecordingSink : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        m_messages.push_back({message, wParam, lParam});
    }
    std::vector<Message> m_messages;
};

class PopupTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_res.fntText = MakeListFont();
        m_app.m_pUiRes = &m_res;
        m_popup = std::make_unique<PopupDlg>(m_app, &m_owner);
        m_popup->SetWorkAreaSource([this] { return m_area; });
        m_popup->PlacePopup(0);
    }
    void Notice(int kind, std::list<std::u16string> names) {
        m_popup->ShowNotice(kind, std::move(names));
        test::DeliverPostedMessages(m_popup.get());
    }
    // The offset the window's place stands for, in the current work area.
    int Offset() const { return m_area.top() + m_area.height() - m_popup->y(); }
    // Runs designed timer `id` once, as its tick would; it must be running.
    void Tick(int id) {
        ASSERT_TRUE(m_popup->IsTimerActive(id)) << id;
        m_popup->OnTimer(id);
    }
    bool OnlyTimer(int id) const {
        for (int i = 0; i < 3; ++i)
            if (m_popup->IsTimerActive(i) != (i == id)) return false;
        return true;
    }

    CRavlinApp m_app;
    UiResources m_res;
    RecordingSink m_owner;
    QRect m_area{0, 0, 1280, 1024};
    std::unique_ptr<PopupDlg> m_popup;
};

TEST_F(PopupTest, WindowThatNeverTakesFocusAndIsPlacedByTheProgram) {
    const Qt::WindowFlags flags = m_popup->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    for (Qt::WindowType f : {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                             Qt::WindowDoesNotAcceptFocus, Qt::X11BypassWindowManagerHint})
        EXPECT_TRUE(flags & f) << f;
    EXPECT_TRUE(m_popup->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(m_popup->parentWidget(), nullptr);
    EXPECT_FALSE(m_popup->isVisible());
    // Just below the bottom of the work area, 10 pixels in from its right edge.
    EXPECT_EQ(m_popup->geometry(), QRect(1090, 1024, 180, 200));
    Notice(0, {u"a"});
    EXPECT_EQ(m_popup->NameList()->geometry(), QRect(5, 20, 170, 160));
}

TEST_F(PopupTest, OneNoticeSlidesInLingersAndSlidesOut) {
    Notice(0, {u"a.exe", u"b.exe"});
    EXPECT_TRUE(m_popup->isVisible());
    EXPECT_EQ(m_popup->SlideOffset(), 0);
    EXPECT_EQ(m_popup->geometry(), QRect(1090, 824, 180, 200));  // put there while hidden
    std::vector<int> placed;
    while (m_popup->IsTimerActive(0)) {
        Tick(0);
        placed.push_back(Offset());
    }
    std::vector<int> expected;
    for (int offset = 0; offset <= 200; offset += 2) expected.push_back(offset);
    EXPECT_EQ(placed, expected);  // 101 placements: 0, 2, ..., 198, 200
    EXPECT_TRUE(OnlyTimer(1));
    EXPECT_EQ(m_popup->x(), 1090);
    EXPECT_EQ(m_popup->y() + m_popup->height(), 1024);  // bottom edge on the work area's

    Tick(1);
    EXPECT_TRUE(OnlyTimer(2));
    placed.clear();
    while (m_popup->IsTimerActive(2)) {
        Tick(2);
        placed.push_back(Offset());
    }
    const std::vector<int> down(expected.rbegin(), expected.rend());  // 200, ..., 2, 0 hidden
    EXPECT_EQ(placed, down);
    EXPECT_FALSE(m_popup->isVisible());
    EXPECT_TRUE(OnlyTimer(-1));
    EXPECT_EQ(m_popup->SlideOffset(), 0);
}

TEST_F(PopupTest, HeadingsListAndLinks) {
    const std::u16string longName(200, u'w');
    Notice(1, {u"first", u"second", longName});
    EXPECT_EQ(m_popup->Heading()->GetText(), QString::fromUtf8("拦截到危险文件："));
    QListWidget* list = m_popup->NameList();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "first");
    EXPECT_EQ(list->item(2)->text(), QString::fromStdU16String(longName));
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_TRUE(list->item(2)->isSelected());
    m_popup->grab();  // lays the list out and draws the links
    EXPECT_GT(list->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(m_popup->Heading()->GetBounds().topLeft(), QPoint(10, 5));
    EXPECT_EQ(m_popup->CloseLink()->GetBounds().topLeft(), QPoint(140, 182));
    EXPECT_EQ(m_popup->ViewLink()->GetBounds().topLeft(), QPoint(10, 182));
    EXPECT_EQ(m_popup->CloseLink()->GetText(), QString::fromUtf8("/a,linkl=1/关闭"));
    EXPECT_EQ(m_popup->ViewLink()->GetText(), QString::fromUtf8("/a,linkl=1/查看"));

    // Other kinds keep the heading; kind 0 has its own. The names are always replaced.
    Notice(7, {u"x"});
    EXPECT_EQ(m_popup->Heading()->GetText(), QString::fromUtf8("拦截到危险文件："));
    Notice(0, {u"y"});
    EXPECT_EQ(m_popup->Heading()->GetText(), QString::fromUtf8("扫描到危险文件："));
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "y");

    // "关闭" hides at once; the slide goes on unseen.
    m_popup->grab();
    test::Click(m_popup.get(), m_popup->CloseLink()->GetBounds().center());
    EXPECT_FALSE(m_popup->isVisible());
    EXPECT_TRUE(m_popup->IsTimerActive(0));
    EXPECT_TRUE(m_owner.m_messages.empty());

    // "查看" asks the owner to show itself, then hides.
    Notice(0, {u"z"});
    m_popup->grab();
    test::Click(m_popup.get(), m_popup->ViewLink()->GetBounds().center());
    EXPECT_FALSE(m_popup->isVisible());
    ASSERT_EQ(m_owner.m_messages.size(), 1u);
    EXPECT_EQ(m_owner.m_messages[0].message, WM_SHOW_NOTICE);
    EXPECT_EQ(m_owner.m_messages[0].wParam, 2u);
    EXPECT_EQ(m_owner.m_messages[0].lParam, 0);
}

TEST_F(PopupTest, NewNoticeRestartsTheSlideFromAnyPhase) {
    // During the slide-in, during the linger and during the slide-out, a new notice stops
    // whatever ran and slides in from 0 with its own names; the old timers can no longer hide
    // it.
    for (int phase : {0, 1, 2}) {
        Notice(0, {u"old"});
        for (int i = 0; i < 30; ++i) Tick(0);
        if (phase >= 1) {
            while (m_popup->IsTimerActive(0)) Tick(0);
        }
        if (phase == 2) {
            Tick(1);
            for (int i = 0; i < 30; ++i) Tick(2);
        }
        ASSERT_TRUE(OnlyTimer(phase)) << phase;
        Notice(1, {u"new"});
        EXPECT_TRUE(OnlyTimer(0)) << phase;
        EXPECT_EQ(m_popup->SlideOffset(), 0) << phase;
        EXPECT_TRUE(m_popup->isVisible()) << phase;
        EXPECT_EQ(m_popup->NameList()->item(0)->text(), "new");
        while (m_popup->IsTimerActive(0)) Tick(0);
        EXPECT_TRUE(m_popup->isVisible()) << phase;
        EXPECT_EQ(Offset(), 200) << phase;
        EXPECT_TRUE(OnlyTimer(1)) << phase;
    }
}

TEST_F(PopupTest, WorkAreaAwayFromTheOriginAndRealTimers) {
    // A panel on the left and at the top, on a primary screen right of another one.
    m_area = QRect(1300, 40, 1000, 700);
    Notice(0, {u"a"});
    EXPECT_EQ(m_popup->geometry(), QRect(1300 + 1000 - 190, 40 + 700 - 200, 180, 200));
    m_popup->PlacePopup(0);
    EXPECT_EQ(m_popup->geometry().topLeft(), QPoint(2110, 740));

    // The real 10 ms timers bring the window up in about a second and start the linger.
    m_popup->OnPopupStart();
    ASSERT_TRUE(test::WaitUntil([&] { return m_popup->IsTimerActive(1); }, 10000));
    EXPECT_EQ(m_popup->SlideOffset(), 200);
    EXPECT_EQ(m_popup->geometry().topLeft(), QPoint(2110, 540));
}

}  // namespace
}  // namespace tovarek
