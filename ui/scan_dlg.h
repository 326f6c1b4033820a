// The scan page: a child of the main window, shown or hidden by its page button. Made once by
// the main window at set-up and kept until the program ends. UI thread only.
#pragma once

#include "ui/skinned_widget.h"

namespace tovarek {

class CRavlinApp;

class ScanDlg : public SkinnedWidget {
public:
    // mainWnd receives the page's posted messages (the main window).
    ScanDlg(CRavlinApp& app, MessageSink* mainWnd, QWidget* parent);

    // Stops a running scan and waits for its worker; returns at once when none runs.
    void StopAndJoinScan();

private:
    CRavlinApp& m_app;
    MessageSink* m_pMainWnd;
};

}  // namespace tovarek
