#include "ui/ui_env.h"

namespace tovarek {

void UiEnv::AddQuickScanRoots(ScanRoots& roots) const {
    tovarek::AddQuickScanRoots(roots);
}

void UiEnv::AddFullScanRoots(ScanRoots& roots) const {
    AddFixedDriveRoots(roots);
}

const UiEnv& CurrentUiEnv() {
    static const UiEnv* system = new UiEnv();
    const auto* env = dynamic_cast<const UiEnv*>(&CurrentEnv());
    return env ? *env : *system;
}

}  // namespace tovarek
