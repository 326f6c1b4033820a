#include "ui/scan_dlg.h"

namespace tovarek {

ScanDlg::ScanDlg(CRavlinApp& app, MessageSink* mainWnd, QWidget* parent)
    : SkinnedWidget(kSkinPage, parent), m_app(app), m_pMainWnd(mainWnd) {
    setObjectName("ScanDlg");
}

void ScanDlg::StopAndJoinScan() {}

}  // namespace tovarek
