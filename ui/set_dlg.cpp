#include "ui/set_dlg.h"

namespace tovarek {

SetDlg::SetDlg(CRavlinApp& app, MessageSink* mainWnd, QWidget* parent)
    : SkinnedWidget(kSkinPage, parent), m_app(app), m_pMainWnd(mainWnd) {
    setObjectName("SetDlg");
}

}  // namespace tovarek
