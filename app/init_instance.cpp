#include "app/init_instance.h"

#include <stdio.h>
#include <stdlib.h>

#include <QApplication>

#include "app/exit_signals.h"
#include "app/ravlin_app.h"
#include "platform/messages.h"
#include "platform/program_folders.h"
#include "scan/fingerprint_cache.h"
#include "store/app_settings.h"
#include "ui/message_box.h"
#include "ui/ravlin_dlg.h"
#include "ui/ui_resources.h"

namespace tovarek {

const char* const kNoDisplayLine =
    "ravlin: no display (DISPLAY and WAYLAND_DISPLAY are unset); use ravlin-cli for scans, "
    "updates and protection passes without one, or start ravlin under xvfb-run\n";

namespace {

bool IsSet(const char* name) {
    const char* value = getenv(name);
    return value && value[0];
}

}  // namespace

StartupRefusal RefusalFor(InstanceLock outcome) {
    switch (outcome) {
        case InstanceLock::kAcquired:
            return {};
        case InstanceLock::kHeldByRunningCopy:
            return {QString::fromUtf8("该程序正在运行！"), kExitAlreadyRunning};
        case InstanceLock::kCreateError:
            return {"Create mutex error.", kExitCannotStart};
        case InstanceLock::kWaitError:
            return {"Wait for mutex error.", kExitCannotStart};
    }
    return {"Wait for mutex error.", kExitCannotStart};
}

bool HasDisplay() {
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) return true;
    // A chosen platform counts only when it draws without a display server: "xcb" or
    // "wayland" with neither variable set would end in Qt's own plugin failure.
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (!platform) return false;
    const QByteArray first = QByteArray(platform).split(';').first().split(':').first();
    for (const char* headless : {"offscreen", "minimal", "vnc", "linuxfb", "eglfs"}) {
        if (first == headless) return true;
    }
    return false;
}

int InitInstance(int& argc, char** argv) {
    if (!HasDisplay()) {
        fputs(kNoDisplayLine, stderr);
        return kExitCannotStart;
    }
    // Before any thread exists, so the handlers are in place for the whole run.
    InstallExitSignalHandlers();

    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Tovarek");
    // Hiding the window to the tray or closing the pop-up never ends the program; only the
    // exit paths of the main window do.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance lock;
    const StartupRefusal refusal = RefusalFor(lock.Acquire());
    if (!refusal.text.isEmpty()) {
        // Standard error first: a script without anyone to read the box still learns why.
        fprintf(stderr, "%s\n", refusal.text.toUtf8().constData());
        fflush(stderr);
        // SIGTERM or SIGINT closes the box; the status stays the refusal's.
        ExitSignalWatcher watch([] { QCoreApplication::exit(0); });
        ShowMessageBox(nullptr, refusal.text, "Tovarek");
        return refusal.status;
    }

    // The installed program runs wherever the menu starts it; its files live in the user's
    // folders, the database copied there from the installed one on first use.
    if (!PrepareDataFolder()) {
        fprintf(stderr, "ravlin: cannot prepare the data folder %s\n", DataFolder().c_str());
    }
    CRavlinApp app;
    AppSettings settings;
    InitAppState(app, &settings);
    UiResources res;
    res.moduleDir = app.m_strModuleDir;
    res.fntText = MakeListFont();
    LoadUiResources(res);
    // A record that cannot be read leaves the switches off, as a new database would have them;
    // the failure itself is in dberr.log.
    settings.LoadSettings();
    // Beside Ravlin.db; shared by the scans and the protection passes, saved after each scan.
    FingerprintCache fingerprints;
    fingerprints.Load(DataFile(kFingerprintCacheFileName));
    app.m_pFingerprintCache = &fingerprints;
    settings.SeedDefaultScanDir();
    app.m_pUiRes = &res;
    {
        CRavlinDlg dlg(app);
        ExitSignalWatcher watch([&dlg] { dlg.PostMessage(WM_EXIT_NOW, 0, 0); });
        dlg.show();
        QApplication::exec();
        // The window ended the workers in its exit path; its destructor does the rest.
    }
    fingerprints.Save(DataFile(kFingerprintCacheFileName));
    lock.Release();
    return kExitNormal;
}

}  // namespace tovarek
