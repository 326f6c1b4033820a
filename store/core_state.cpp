#include "store/core_state.h"

#include "platform/module_info.h"
#include "platform/path_text.h"

namespace tovarek {

void InitCoreState(CoreState& state, AppSettings* settings) {
    state.m_strModuleDir = PathToUtf16(ModuleDir());
    state.m_pSettings = settings;
    state.m_bBlacklistStale.store(1);
    state.SetListDate(u"暂无更新");
}

}  // namespace tovarek
