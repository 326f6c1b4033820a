#include "app/ravlin_app.h"

#include "platform/code_page.h"
#include "platform/module_info.h"
#include "platform/path_text.h"

namespace tovarek {

std::u16string ReadModuleInfo(CRavlinApp& app) {
    app.m_strVersion = Utf8ToUtf16(VersionText());
    return PathToUtf16(ModuleDir());
}

void InitAppState(CRavlinApp& app, AppSettings* settings) {
    InitCoreState(app, settings);
    app.m_strModuleDir = ReadModuleInfo(app);
    app.m_bDialogOpen = 0;
    app.m_bScanRunning = 0;
}

}  // namespace tovarek
