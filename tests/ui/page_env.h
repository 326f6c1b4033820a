// What the page tests share: a folder of their own as the current directory with a Ravlin.db
// (setini rows, an optional blacklist), private autostart folders through XDG_CONFIG_DIRS and
// XDG_CONFIG_HOME, the shared images and font, a main window that records what it is sent, and
// clicks through the skin library as a mouse would make them.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ravlin_app.h"
#include "platform/code_page.h"
#include "platform/messages.h"
#include "store/database.h"
#include "tests/support/temp_dir.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"

namespace tovarek::test {

class RecordingSink : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        posted.push_back({message, wParam, lParam});
    }
    std::vector<Message> posted;
};

class PageEnv {
public:
    PageEnv() {
        const char* old = getenv("XDG_CONFIG_DIRS");
        m_bHadXdg = old != nullptr;
        if (old) m_strOldXdg = old;
        mkdir(dir.File("xdg").c_str(), 0755);
        mkdir(AutostartFolder().c_str(), 0755);
        setenv("XDG_CONFIG_DIRS", dir.File("xdg").c_str(), 1);
        // The user's own autostart folder, where an entry goes when the machine-wide one is shut.
        const char* oldHome = getenv("XDG_CONFIG_HOME");
        m_bHadConfigHome = oldHome != nullptr;
        if (oldHome) m_strOldConfigHome = oldHome;
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);

        Database db;
        OpenDatabase(db);
        EXPECT_EQ(Execute(db,
                          "create table setini(settype integer,setkey varchar(20));"
                          "insert into setini values(1,'0');insert into setini values(2,'0');"
                          "insert into setini values(3,'0');",
                          false),
                  0);
        CloseDatabase(db);

        LoadUiResources(res);
        app.m_pUiRes = &res;
        app.m_strModuleDir = Utf8ToUtf16(dir.path() + "/");
    }
    ~PageEnv() {
        if (m_bHadXdg)
            setenv("XDG_CONFIG_DIRS", m_strOldXdg.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_DIRS");
        if (m_bHadConfigHome)
            setenv("XDG_CONFIG_HOME", m_strOldConfigHome.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    std::string AutostartFolder() const { return dir.File("xdg/autostart"); }
    std::string UserAutostartEntry() const { return dir.File("config/autostart/Tovarek.desktop"); }

    void ListFile(const std::string& md5, const std::string& name) {
        Database db;
        OpenDatabase(db);
        EXPECT_EQ(Execute(db, "insert into blackmap values(?,?,'','1')", {md5, name}, false), 0);
        CloseDatabase(db);
        app.m_bBlacklistStale = 1;
    }

    // The stored setkey of one setini row.
    static std::string SettingRow(int settype) {
        Database db;
        OpenDatabase(db);
        QueryTable table;
        int rows = 0, columns = 0;
        Query(db, "select setkey from setini where settype=" + std::to_string(settype), table, rows,
              columns);
        CloseDatabase(db);
        return rows == 1 ? table[1][0] : "<missing>";
    }

    TempDir dir{true};
    UiResources res;
    CRavlinApp app;
    RecordingSink mainWnd;

private:
    bool m_bHadXdg = false;
    std::string m_strOldXdg;
    bool m_bHadConfigHome = false;
    std::string m_strOldConfigHome;
};

// Shows the page at w x h and paints it once, so the library knows where its objects are.
inline void ShowAndPaint(QWidget& page, int w, int h) {
    page.setWindowFlags(Qt::FramelessWindowHint);
    page.resize(w, h);
    page.show();
    page.grab();
}

// A press and release in the middle of the object, as the library last drew it.
inline void ClickObject(QWidget& page, const UiRichText* object) {
    const QPointF at = QRectF(object->GetBounds()).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, page.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, page.mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&page, &press);
    QApplication::sendEvent(&page, &release);
}

}  // namespace tovarek::test
