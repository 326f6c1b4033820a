#include "app/ravlin_app.h"

#include "platform/code_page.h"
#include "platform/module_info.h"

namespace tovarek {

void InitAppState(CRavlinApp& app, AppSettings* settings) {
    InitCoreState(app, settings);
    app.m_strVersion = Utf8ToUtf16(VersionText());
    app.m_bDialogOpen = 0;
    app.m_bScanRunning = 0;
}

}  // namespace tovarek
