// The settings page against a real Ravlin.db in the test's folder and a real autostart folder
// named through XDG_CONFIG_DIRS; the folder chooser and the message boxes are answered here.
#include <errno.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <QListWidget>

#include <cstring>

#include "platform/autostart.h"
#include "platform/module_info.h"
#include "store/app_settings.h"
#include "store/database.h"
#include "tests/ui/page_env.h"
#include "tests/ui/test_ui_env.h"
#include "ui/folder_chooser.h"
#include "ui/message_box.h"
#include "ui/scan_dir_list.h"
#include "ui/set_dlg.h"

namespace tovarek {
namespace {

using test::FileExists;

// The autorun switch as the next start would read it.
int StoredAutoRun() {
    AppSettings settings;
    settings.LoadSettings();
    return settings.autoRun;
}

struct Box {
    QString text;
    QString caption;
};

class SetPageTest : public ::testing::Test {
protected:
    test::TestUiEnv m_env;
    void SetUp() override {
        m_env.messageBox = [this](QWidget*, const QString& text, const QString& caption,
                                  QMessageBox::StandardButtons) {
            boxes.push_back({text, caption});
            return QMessageBox::Ok;
        };
        m_env.chooseFolder = [this](QWidget*, const QString& title) {
            titles << title;
            if (chooserEndsProgram) env.app.m_bExiting = 1;
            return choice;
        };
    }

    std::string Entry() const { return env.AutostartFolder() + "/Tovarek.desktop"; }
    static std::list<std::u16string> Lines(const QListWidget* list) {
        std::list<std::u16string> lines;
        for (int i = 0; i < list->count(); ++i) {
            lines.push_back(list->item(i)->text().toStdU16String());
            EXPECT_TRUE(list->item(i)->flags() & Qt::ItemIsUserCheckable);
            EXPECT_EQ(list->item(i)->checkState(), Qt::Unchecked);
        }
        return lines;
    }
    // Ticks autorun, close-to-tray and delete-on-find with the mouse, then applies.
    void TickThreeAndApply(SetDlg& page) {
        for (int i : {0, 1, 3}) test::ClickObject(page, page.optionBox(i));
        test::ClickObject(page, page.applyButton());
    }

    void ExpectSaveFailureBox() {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, QString::fromUtf8("设置保存失败！"));
        EXPECT_EQ(boxes[0].caption, QStringLiteral("Tovarek"));
    }

    test::PageEnv env;
    std::vector<Box> boxes;
    QStringList titles;
    QString choice;
    bool chooserEndsProgram = false;
};

TEST_F(SetPageTest, ShowsTheStoredSwitchesAndDirectoriesWhereDesigned) {
    {
        Database db;
        OpenDatabase(db);
        ASSERT_EQ(Execute(db, "update setini set setkey=1 where settype=2", false), 0);
        CloseDatabase(db);
    }
    ASSERT_TRUE(WriteAutostartEntry(ModulePath()));
    AppSettings settings;
    settings.LoadSettings();
    settings.SeedDefaultScanDir();
    settings.defaultScanDirs.push_back(u"/srv/");
    env.app.m_pSettings = &settings;
    SetDlg page(env.app, &env.mainWnd, nullptr);

    EXPECT_EQ(page.optionCopy(0), 1);
    EXPECT_EQ(page.optionCopy(1), 0);
    EXPECT_EQ(page.optionCopy(2), 1);
    EXPECT_EQ(page.optionCopy(3), 0);
    EXPECT_EQ(page.optionBox(0)->GetState(), 2);
    EXPECT_EQ(page.optionBox(1)->GetState(), -1);
    EXPECT_EQ(page.optionBox(2)->GetState(), 3);
    EXPECT_EQ(page.optionBox(3)->GetState(), -1);

    const int checkBox = env.res.imgCheckBox->GetId();
    const int button = env.res.imgButton->GetId();
    const char* boxTexts[] = {"开机自动运行", "点关闭按钮缩小到托盘", "自动开始扫描",
                              "扫描到直接删除"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(page.optionBox(i)->GetText(),
                  QString("/a,p5=%1/%2").arg(checkBox).arg(boxTexts[i]));
    EXPECT_EQ(page.addButton()->GetText(),
              QString("/a,p5=%1,btn_height=20,btn_text='添加默认扫描目录'/").arg(button));
    EXPECT_EQ(page.removeButton()->GetText(),
              QString("/a,p5=%1,btn_height=20,btn_text='删除默认扫描目录'/").arg(button));
    EXPECT_EQ(page.applyButton()->GetText(),
              QString("/a,p5=%1,btn_width=45,btn_text='应用'/").arg(button));
    EXPECT_EQ(page.dirList()->font(), env.res.fntText);
    EXPECT_EQ(Lines(page.dirList()), (std::list<std::u16string>{u"/opt/", u"/srv/"}));

    for (QSize size : {QSize(600, 400), QSize(520, 360)}) {
        test::ShowAndPaint(page, size.width(), size.height());
        const QPoint places[] = {{30, 30}, {170, 30}, {30, 60}, {170, 60}};
        for (int i = 0; i < 4; ++i) EXPECT_EQ(page.optionBox(i)->GetBounds().topLeft(), places[i]);
        EXPECT_EQ(page.addButton()->GetBounds().topLeft(), QPoint(30, 90));
        EXPECT_EQ(page.removeButton()->GetBounds().topLeft(), QPoint(150, 90));
        EXPECT_EQ(page.applyButton()->GetBounds().topLeft(), QPoint(400, 45));
        EXPECT_EQ(page.dirList()->geometry(), QRect(30, 120, size.width() - 80, 200));
    }
    EXPECT_EQ(page.lastCopyResult(), 1);
}

TEST_F(SetPageTest, SwitchesReachTheDatabaseAndAutostartOnlyThroughApply) {
    AppSettings settings;
    settings.LoadSettings();
    env.app.m_pSettings = &settings;
    SetDlg page(env.app, &env.mainWnd, nullptr);
    test::ShowAndPaint(page, 600, 400);

    // Ticking and unticking without applying changes nothing anywhere.
    for (int i : {0, 1, 2, 3, 2}) test::ClickObject(page, page.optionBox(i));
    EXPECT_EQ(page.optionCopy(2), 0);
    EXPECT_EQ(page.optionBox(0)->GetState(), 2);
    EXPECT_EQ(page.optionBox(1)->GetState(), 3);
    EXPECT_EQ(page.optionBox(2)->GetState(), -1);
    EXPECT_EQ(settings.autoRun, 0);
    EXPECT_EQ(settings.closeToTray, 0);
    EXPECT_EQ(test::PageEnv::SettingRow(1), "0");
    EXPECT_FALSE(FileExists(Entry()));

    test::ClickObject(page, page.applyButton());
    test::ClickObject(page, page.applyButton());  // again: the same values again
    EXPECT_EQ(settings.autoRun, 1);
    EXPECT_EQ(settings.closeToTray, 1);
    EXPECT_EQ(settings.autoScan, 0);
    EXPECT_EQ(settings.deleteOnFind.load(), 1);
    EXPECT_EQ(test::PageEnv::SettingRow(1), "1");
    EXPECT_EQ(test::PageEnv::SettingRow(2), "0");
    EXPECT_EQ(test::PageEnv::SettingRow(3), "1");
    std::string program;
    ASSERT_TRUE(ReadAutostartExec(program));
    EXPECT_EQ(program, ModulePath());
    {
        AppSettings reloaded;  // the next start sees the same
        reloaded.LoadSettings();
        EXPECT_EQ(reloaded.autoRun, 1);
        EXPECT_EQ(reloaded.closeToTray, 1);
        EXPECT_EQ(reloaded.autoScan, 0);
        EXPECT_EQ(reloaded.deleteOnFind.load(), 1);
    }

    test::ClickObject(page, page.optionBox(0));
    test::ClickObject(page, page.applyButton());
    EXPECT_FALSE(FileExists(Entry()));
    EXPECT_EQ(StoredAutoRun(), 0);
    EXPECT_TRUE(boxes.empty());
}

// Where the machine-wide folder is missing or shut, the choice lands in the user's own folder and
// the next start reads it back on.
TEST_F(SetPageTest, MissingAutostartFolderKeepsTheChoiceInTheUsersFolder) {
    ASSERT_EQ(rmdir(env.AutostartFolder().c_str()), 0);
    AppSettings settings;
    settings.LoadSettings();
    env.app.m_pSettings = &settings;
    SetDlg page(env.app, &env.mainWnd, nullptr);
    test::ShowAndPaint(page, 600, 400);
    TickThreeAndApply(page);
    EXPECT_FALSE(FileExists(env.AutostartFolder()));
    EXPECT_TRUE(FileExists(env.UserAutostartEntry()));
    EXPECT_EQ(test::PageEnv::SettingRow(1), "1");
    EXPECT_EQ(test::PageEnv::SettingRow(3), "1");
    EXPECT_EQ(StoredAutoRun(), 1);
    EXPECT_TRUE(boxes.empty());
}

// A database whose settings rows cannot be written: the page says so; a later apply that
// succeeds says nothing.
TEST_F(SetPageTest, ApplyThatCannotStoreTheSwitchesSaysSo) {
    AppSettings settings;
    settings.LoadSettings();
    env.app.m_pSettings = &settings;
    SetDlg page(env.app, &env.mainWnd, nullptr);
    test::ShowAndPaint(page, 600, 400);
    {
        Database db;
        OpenDatabase(db);
        ASSERT_EQ(Execute(db, "alter table setini rename to kept", false), 0);
    }
    test::ClickObject(page, page.optionBox(1));
    test::ClickObject(page, page.applyButton());
    ExpectSaveFailureBox();
    {
        Database db;
        OpenDatabase(db);
        ASSERT_EQ(Execute(db, "alter table kept rename to setini", false), 0);
    }
    boxes.clear();
    test::ClickObject(page, page.applyButton());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(test::PageEnv::SettingRow(1), "1");
}

// Makes the autostart folder unwritable even for root: without write bits, and when that is not
// enough (root passes permission checks), as a read-only bind mount in a mount namespace of this
// test's own thread, so nothing outside the process sees it.
bool MakeReadOnly(const std::string& folder, std::string& why) {
    chmod(folder.c_str(), 0555);
    if (!AutostartDirUsable()) return true;
    if (unshare(CLONE_NEWNS) != 0) {
        why = std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
        return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        why = std::string("read-only bind mount: ") + strerror(errno);
        return false;
    }
    return !AutostartDirUsable();
}

TEST_F(SetPageTest, ReadOnlyAutostartFolderKeepsTheChoiceInTheUsersFolder) {
    std::string why;
    if (!MakeReadOnly(env.AutostartFolder(), why))
        GTEST_SKIP() << "cannot make a folder read-only for this user: " << why;
    AppSettings settings;
    settings.LoadSettings();
    env.app.m_pSettings = &settings;
    SetDlg page(env.app, &env.mainWnd, nullptr);
    test::ShowAndPaint(page, 600, 400);
    TickThreeAndApply(page);
    const bool entryWritten = FileExists(Entry());
    umount(env.AutostartFolder().c_str());  // no-op without the bind mount
    EXPECT_FALSE(entryWritten);
    EXPECT_TRUE(FileExists(env.UserAutostartEntry()));
    EXPECT_EQ(StoredAutoRun(), 1);
    EXPECT_EQ(test::PageEnv::SettingRow(1), "1");
    EXPECT_EQ(test::PageEnv::SettingRow(3), "1");
    EXPECT_EQ(settings.autoRun, 1);  // the page's choice, even though it could not be stored
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SetPageTest, AddingFoldersKeepsOneSlashAndRefusesNoChoice) {
    AppSettings settings;
    settings.LoadSettings();
    env.app.m_pSettings = &settings;
    SetDlg page(env.app, &env.mainWnd, nullptr);
    test::ShowAndPaint(page, 600, 400);
    ASSERT_EQ(mkdir(env.dir.File("sub").c_str(), 0755), 0);
    const std::u16string sub = Utf8ToUtf16(env.dir.File("sub/"));

    choice = QString::fromStdString(env.dir.File("sub"));
    test::ClickObject(page, page.addButton());
    choice = "/";
    page.OnDirButtonClick(0);
    choice = QString::fromStdString(env.dir.File("sub/"));  // already ending in '/'
    page.OnDirButtonClick(0);
    EXPECT_EQ(settings.defaultScanDirs, (std::list<std::u16string>{sub, u"/", sub}));
    EXPECT_EQ(Lines(page.dirList()), settings.defaultScanDirs);
    EXPECT_EQ(titles, QStringList(3, "请选择要扫描的目录："));
    EXPECT_TRUE(boxes.empty());

    // Cancelled, relative, missing, a file: one message each, nothing added.
    test::WriteFile(env.dir.File("file"), "");
    for (const std::string& bad :
         {std::string(), std::string("sub"), env.dir.File("missing"), env.dir.File("file")}) {
        choice = QString::fromStdString(bad);
        page.OnDirButtonClick(0);
    }
    ASSERT_EQ(boxes.size(), 4u);
    for (const Box& box : boxes) {
        EXPECT_EQ(box.text, "无效的目录，请重新选择");
        EXPECT_EQ(box.caption, "Tovarek");
    }
    EXPECT_EQ(settings.defaultScanDirs.size(), 3u);

    // The program decides to end while the chooser is open: nothing more happens.
    boxes.clear();
    chooserEndsProgram = true;
    for (const QString& c : {QString(), QString("/")}) {
        choice = c;
        page.OnDirButtonClick(0);
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(settings.defaultScanDirs.size(), 3u);
}

TEST_F(SetPageTest, RemovingTakesTheFirstEqualEntryForEachCheckedLine) {
    AppSettings settings;
    settings.defaultScanDirs = {u"/a/", u"/b/", u"/c/", u"/a/", u"/b/"};
    env.app.m_pSettings = &settings;
    SetDlg page(env.app, &env.mainWnd, nullptr);
    test::ShowAndPaint(page, 600, 400);
    QListWidget* list = page.dirList();

    list->item(1)->setCheckState(Qt::Checked);  // "/b/"
    list->item(3)->setCheckState(Qt::Checked);  // the second "/a/"
    test::ClickObject(page, page.removeButton());
    EXPECT_EQ(settings.defaultScanDirs, (std::list<std::u16string>{u"/c/", u"/a/", u"/b/"}));
    EXPECT_EQ(Lines(list), settings.defaultScanDirs);  // every tick cleared

    page.OnDirButtonClick(1);  // nothing checked
    page.OnDirButtonClick(7);  // no such button
    EXPECT_EQ(settings.defaultScanDirs.size(), 3u);

    for (int i = 0; i < list->count(); ++i) list->item(i)->setCheckState(Qt::Checked);
    page.OnDirButtonClick(1);
    EXPECT_TRUE(settings.defaultScanDirs.empty());
    EXPECT_EQ(list->count(), 0);
}

}  // namespace
}  // namespace tovarek
