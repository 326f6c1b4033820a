#include "ui/set_scan_path_dlg.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>

#include "ui/ui_state.h"
#include "store/app_settings.h"
#include "ui/folder_chooser.h"
#include "ui/message_box.h"
#include "ui/scan_dir_list.h"
#include "ui/skin/skin_ui.h"
#include "ui/ui_resources.h"

namespace tovarek {
namespace {

bool IsEnterOrEsc(const QKeyEvent* e) {
    return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Escape;
}

}  // namespace

SetScanPathDlg::SetScanPathDlg(UiState& app, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_app(app) {
    setObjectName("SetScanPathDlg");
    setWindowTitle(QStringLiteral("设置扫描目录"));
    // Modal to the main window only: the pop-up and other top-level windows stay usable.
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setAttribute(Qt::WA_OpaquePaintEvent);  // the back buffer covers every pixel

    const UiResources* res = app.m_pUiRes;
    const int closeId = ImageIdOf(res, &UiResources::imgCloseButton);
    const int tabId = ImageIdOf(res, &UiResources::imgTabButton);
    m_imgClose = GetSkinUi()->CreateRichText();
    m_imgClose->SetText(u"/a,p5=%d/", closeId);
    m_imgClose->SetClickHandler(1, 0, this, &SetScanPathDlg::OnUiClick);
    m_btnAdd = GetSkinUi()->CreateRichText();
    m_btnAdd->SetText(u"/a,p5=%d,btn_height=20,btn_text='添加目录'/", tabId);
    m_btnAdd->SetClickHandler(1, 1, this, &SetScanPathDlg::OnUiClick);
    m_btnRemove = GetSkinUi()->CreateRichText();
    m_btnRemove->SetText(u"/a,p5=%d,btn_height=20,btn_text='删除目录'/", tabId);
    m_btnRemove->SetClickHandler(1, 2, this, &SetScanPathDlg::OnUiClick);
    m_btnStart = GetSkinUi()->CreateRichText();
    m_btnStart->SetText(u"/a,p5=%d,btn_height=20,btn_text='开始扫描'/", tabId);
    m_btnStart->SetClickHandler(1, 3, this, &SetScanPathDlg::OnUiClick);
    m_btnCancel = GetSkinUi()->CreateRichText();
    m_btnCancel->SetText(u"/a,p5=%d,btn_height=20,btn_text='取消'/", tabId);
    m_btnCancel->SetClickHandler(1, 0, this, &SetScanPathDlg::OnUiClick);

    m_pList = new QListWidget(this);
    m_pList->setObjectName("ScanDirList");
    m_pList->setGeometry(50, 120, 150, 80);
    if (res) m_pList->setFont(res->fntText);
    m_pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pList->installEventFilter(this);
    m_pList->show();

    resize(380, 200);
    if (app.m_pSettings) scanDirs = app.m_pSettings->defaultScanDirs;
    FillScanDirList(m_pList, scanDirs);
}

SetScanPathDlg::~SetScanPathDlg() {
    for (UiRichText* object : {m_imgClose, m_btnAdd, m_btnRemove, m_btnStart, m_btnCancel})
        GetSkinUi()->DestroyObject(object);
}

void SetScanPathDlg::OnUiClick(int index) {
    switch (index) {
        case 0:
            reject();
            break;
        case 1:
            OnAddDir();
            break;
        case 2:
            RemoveCheckedScanDirs(scanDirs, m_pList);
            break;
        case 3:
            accept();
            break;
        default:
            break;
    }
}

void SetScanPathDlg::OnAddDir() {
    // The chooser and the box run nested event loops: the program may decide to end meanwhile,
    // and this dialog may be gone when they return.
    UiState& app = m_app;
    QPointer<SetScanPathDlg> self(this);
    QString chosen = ChooseFolder(this, QStringLiteral("请选择要扫描的目录："));
    if (app.m_bExiting || !self) return;
    if (AddScanDir(scanDirs, m_pList, chosen)) return;
    ShowMessageBox(this, QStringLiteral("无效的目录，请重新选择"), QStringLiteral("Tovarek"));
}

void SetScanPathDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    BuildBackBuffer(m_back, width(), height(), kSkinDialog, devicePixelRatioF());
    if (m_pList) m_pList->setGeometry(5, 25, width() - 10, height() - 50);
}

void SetScanPathDlg::paintEvent(QPaintEvent* e) {
    QPainter dc(this);
    CopyBackBuffer(m_back, dc, e->rect());
    const int w = width();
    const int h = height();
    m_imgClose->Draw(dc, w - 43, 0, this, 0);
    m_btnAdd->Draw(dc, 10, h - 25, this, 0);
    m_btnRemove->Draw(dc, 80, h - 25, this, 0);
    m_btnStart->Draw(dc, w - 140, h - 25, this, 0);
    m_btnCancel->Draw(dc, w - 70, h - 25, this, 0);
}

void SetScanPathDlg::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        reject();
    } else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        accept();
    } else {
        QDialog::keyPressEvent(e);
    }
}

bool SetScanPathDlg::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_pList && e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (IsEnterOrEsc(key)) {
            keyPressEvent(key);
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

}  // namespace tovarek
