#include "store/core_state.h"

#include "platform/code_page.h"
#include "platform/module_info.h"

namespace tovarek {

void InitCoreState(CoreState& state, AppSettings* settings) {
    state.m_strModuleDir = Utf8ToUtf16(ModuleDir());
    state.m_pSettings = settings;
    state.m_bBlacklistStale.store(1);
    state.SetListDate(u"暂无更新");
}

}  // namespace tovarek
