#include "ui/set_dlg.h"

#include <QListWidget>
#include <QPainter>

#include "store/app_settings.h"
#include "ui/folder_chooser.h"
#include "ui/message_box.h"
#include "ui/scan_dir_list.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"
#include "ui/ui_state.h"

namespace tovarek {
SetDlg::SetDlg(UiState& app, MessageSink* mainWnd, QWidget* parent)
    : SkinnedWidget(kSkinPage, parent), m_app(app), m_pMainWnd(mainWnd) {
    setObjectName("SetDlg");
    CreatePageObjects();

    m_pDirList = new QListWidget(this);
    m_pDirList->setObjectName("dirList");
    m_pDirList->setSortingEnabled(false);
    m_pDirList->setGeometry(50, 120, 150, 80);  // moved at every size change
    if (m_app.m_pUiRes) m_pDirList->setFont(m_app.m_pUiRes->fntText);
    m_pDirList->show();
    if (m_app.m_pSettings) FillScanDirList(m_pDirList, m_app.m_pSettings->defaultScanDirs);
}

void SetDlg::CreatePageObjects() {
    const UiResources* res = m_app.m_pUiRes;
    const int checkBox = ImageIdOf(res, &UiResources::imgCheckBox);
    const int button = ImageIdOf(res, &UiResources::imgButton);
    static const char16_t* const kOptionMarkup[4] = {
        u"/a,p5=%d/开机自动运行", u"/a,p5=%d/点关闭按钮缩小到托盘", u"/a,p5=%d/自动开始扫描",
        u"/a,p5=%d/扫描到直接删除"};
    UiFactory* ui = GetSkinUi();
    for (int i = 0; i < 4; ++i) {
        m_boxOption[i] = ui->CreateRichText();
        m_boxOption[i]->SetText(kOptionMarkup[i], checkBox);
    }
    m_btnApply = ui->CreateRichText();
    m_btnApply->SetText(u"/a,p5=%d,btn_width=45,btn_text='应用'/", button);
    LoadOptionStates();
    for (int i = 0; i < 4; ++i) m_boxOption[i]->SetClickHandler(1, i, this, &SetDlg::OnOptionClick);
    m_btnApply->SetClickHandler(1, 0, this, &SetDlg::OnApplyClick);

    m_btnAdd = ui->CreateRichText();
    m_btnAdd->SetText(u"/a,p5=%d,btn_height=20,btn_text='添加默认扫描目录'/", button);
    m_btnRemove = ui->CreateRichText();
    m_btnRemove->SetText(u"/a,p5=%d,btn_height=20,btn_text='删除默认扫描目录'/", button);
    m_btnAdd->SetClickHandler(1, 0, this, &SetDlg::OnDirButtonClick);
    m_btnRemove->SetClickHandler(1, 1, this, &SetDlg::OnDirButtonClick);
}

void SetDlg::LoadOptionStates() {
    const AppSettings* settings = m_app.m_pSettings;
    if (!settings) return;
    m_nOption[0] = settings->autoRun;
    m_nOption[1] = settings->closeToTray;
    m_nOption[2] = settings->autoScan;
    m_nOption[3] = settings->deleteOnFind.load();
    for (int i = 0; i < 4; ++i) {
        if (m_nOption[i]) m_boxOption[i]->SetState(TickedState(i));
    }
}

void SetDlg::OnOptionClick(int index, int) {
    if (index < 0 || index > 3) return;
    m_nOption[index] = !m_nOption[index];
    m_boxOption[index]->SetState(m_nOption[index] ? TickedState(index) : -1);
    m_boxOption[index]->SetClickHandler(1, index, this, &SetDlg::OnOptionClick);
}

void SetDlg::OnApplyClick(int, int) {
    if (!m_app.m_pSettings) return;
    if (m_app.m_pSettings->SaveSettings(m_nOption[0], m_nOption[1], m_nOption[2], m_nOption[3]) !=
        0) {
        ShowMessageBox(this, QStringLiteral("设置保存失败！"), QStringLiteral("Tovarek"));
    }
}

void SetDlg::OnDirButtonClick(int index, int) {
    AppSettings* settings = m_app.m_pSettings;
    if (!settings) return;
    if (index == 0) {
        const QString chosen = ChooseFolder(this, QStringLiteral("请选择要扫描的目录："));
        // The chooser ran its own event loop; the program may have decided to end meanwhile.
        if (m_app.m_bExiting) return;
        if (!AddScanDir(settings->defaultScanDirs, m_pDirList, chosen))
            ShowMessageBox(this, QStringLiteral("无效的目录，请重新选择"),
                           QStringLiteral("Tovarek"));
    } else if (index == 1) {
        RemoveCheckedScanDirs(settings->defaultScanDirs, m_pDirList);
    }
}

void SetDlg::OnSize(int w, int) {
    if (m_pDirList) m_pDirList->setGeometry(30, 120, w - 80, 200);
}

void SetDlg::OnPaintObjects(QPainter& dc) {
    m_boxOption[0]->Draw(dc, 30, 30, this, 0);
    m_boxOption[1]->Draw(dc, 170, 30, this, 0);
    m_boxOption[2]->Draw(dc, 30, 60, this, 0);
    m_boxOption[3]->Draw(dc, 170, 60, this, 0);
    m_btnAdd->Draw(dc, 30, 90, this, 0);
    m_btnRemove->Draw(dc, 150, 90, this, 0);
    m_btnApply->Draw(dc, 400, 45, this, 0);
}

}  // namespace tovarek
