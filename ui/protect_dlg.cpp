#include "ui/protect_dlg.h"

namespace tovarek {

ProtectDlg::ProtectDlg(CRavlinApp& app, MessageSink* mainWnd, QWidget* parent)
    : SkinnedWidget(kSkinPage, parent), m_app(app), m_pMainWnd(mainWnd) {
    setObjectName("ProtectDlg");
}

}  // namespace tovarek
