// The protection page over the list in ./Ravlin.db, as the program runs it: how long the window
// is held up (the longest gap between 10 ms ticks on the UI thread) from the page's creation to
// the end of its first passes, and what the process holds once the list is loaded. The passes
// are real: run it from the list's folder in a PID namespace of its own, e.g.
//   unshare --pid --fork --mount-proc --net env QT_QPA_PLATFORM=offscreen protect-page-bench 2
#include <stdio.h>
#include <string.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <fstream>
#include <string>

#include "platform/code_page.h"
#include "platform/module_info.h"
#include "store/core_state.h"
#include "ui/protect_dlg.h"
#include "ui/ui_state.h"

namespace {

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, strlen(field), field) == 0)
            return atol(line.c_str() + strlen(field) + 1);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? atoi(argv[1]) : 2;
    QApplication qapp(argc, argv);
    tovarek::UiState app;
    tovarek::InitCoreState(app, nullptr);
    const long before = StatusKb("VmRSS:");
    QElapsedTimer sinceStart;
    sinceStart.start();
    qint64 last = 0, longestGap = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = sinceStart.elapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
    });
    probe.start(10);
    tovarek::ProtectDlg page(app, nullptr, nullptr);
    int done = 0;
    qint64 passStarted = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (page.IsInPass() && passStarted == 0) passStarted = sinceStart.elapsed();
        if (passStarted != 0 && !page.IsInPass()) {
            fprintf(stderr, "pass %d: ended %lld ms after the page was made, %lld ms long\n",
                    done + 1, static_cast<long long>(sinceStart.elapsed()),
                    static_cast<long long>(sinceStart.elapsed() - passStarted));
            passStarted = 0;
            if (++done == passes) QApplication::quit();
        }
    });
    watch.start(1);
    QApplication::exec();
    printf("longest UI thread gap: %lld ms\n", static_cast<long long>(longestGap));
    printf("RSS before the page: %ld KiB; after %d passes: %ld KiB; peak: %ld KiB\n", before,
           passes, StatusKb("VmRSS:"), StatusKb("VmHWM:"));
    return 0;
}
