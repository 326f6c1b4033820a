#include "ui/ui_env.h"

namespace tovarek {

const UiEnv& CurrentUiEnv() {
    static const UiEnv* system = new UiEnv();
    const auto* env = dynamic_cast<const UiEnv*>(&CurrentEnv());
    return env ? *env : *system;
}

}  // namespace tovarek
