// The scan page over a tree, offscreen, as the user would start a quick scan: prints how long
// the scan took and the longest time the event loop did not answer (a 5 ms timer's largest gap).
// Usage: scan-page-bench TREE (Ravlin.db in the current directory). No process is ever ended:
// a finding's processes go to an ender that does nothing.
#include <stdio.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include "app/ravlin_app.h"
#include "platform/path_text.h"
#include "res/artwork.h"
#include "scan/process_table.h"
#include "scan/scan_session.h"
#include "store/app_settings.h"
#include "ui/scan_dlg.h"
#include "ui/ui_env.h"
#include "ui/ui_resources.h"

namespace {

class NoProcesses : public tovarek::Processes {
public:
    int Snapshot(tovarek::ProcessTable&, uint32_t&) override { return 0; }
};

class BenchEnv : public tovarek::UiEnv {
public:
    std::string root;
    NoProcesses processes;
    void AddQuickScanRoots(tovarek::ScanRoots& roots) const override {
        roots.push_back(tovarek::PathToUtf16(root));
    }
    tovarek::Processes* RunningProcesses() const override {
        return const_cast<NoProcesses*>(&processes);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: scan-page-bench TREE\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    tovarek::InitArtworkResources();
    BenchEnv env;
    env.root = argv[1];
    if (env.root.back() != '/') env.root += '/';
    tovarek::ScopedEnv scope(env);
    tovarek::UiResources res;
    tovarek::LoadUiResources(res);
    res.fntText = tovarek::MakeListFont();
    tovarek::AppSettings settings;
    settings.LoadSettings();
    tovarek::CRavlinApp app;
    tovarek::InitAppState(app, &settings);
    app.m_pUiRes = &res;
    app.m_bBlacklistStale.store(1);
    tovarek::ScanDlg page(app, nullptr, nullptr);
    page.resize(640, 480);
    page.show();

    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    clock.start();
    tick.start(5);
    page.OnUiClick(0);
    while (page.GetState() != tovarek::ScanDlg::kStateFinished) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const qint64 took = clock.elapsed();
    printf("page: %lld files, %d findings, %.2f s, longest unanswered %lld ms\n",
           static_cast<long long>(page.Session()->ScannedCount()), page.ResultList()->count(),
           took / 1000.0, static_cast<long long>(worst));
    return 0;
}
