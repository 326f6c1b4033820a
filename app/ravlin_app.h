// The one application state of the desktop program: what the windows share (the core's state
// plus the windows' own fields). Fields are touched by the UI thread; the core part documents
// its own exceptions.
#pragma once

#include "ui/ui_state.h"

namespace tovarek {

class AppSettings;

class CRavlinApp : public UiState {};

// Start-up of the state: the core part (module directory, settings record, stale index, list
// date), the version and the flags. The settings record is owned by the caller for the run.
void InitAppState(CRavlinApp& app, AppSettings* settings);

}  // namespace tovarek
