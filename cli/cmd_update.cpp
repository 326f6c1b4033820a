#include <stdio.h>

#include "cli/commands.h"
#include "platform/code_page.h"
#include "platform/messages.h"
#include "store/core_state.h"
#include "update/down_control_thread.h"

namespace tovarek::cli {
namespace {

// Stands where the main window would: takes the worker's result message.
class ResultSink : public MessageSink {
public:
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        m_queue.Post(Message{message, wParam, lParam});
    }
    Message Wait() { return m_queue.Wait(); }

private:
    MessageQueue m_queue;
};

}  // namespace

// update [URL]: one list update cycle on a real worker thread, as the program runs it every hour,
// into ./Ravlin.db; prints the status line the main window would show.
int RunUpdate(int argc, char** argv) {
    if (argc > 1) return Usage("update: expects at most one URL");
    CoreState app;
    app.SetListDate(u"暂无更新");
    ResultSink sink;
    DownControlThread worker(app);
    if (argc == 1) worker.m_strListUrl = argv[0];
    worker.m_hNotifyWnd.store(&sink);
    if (!worker.CreateThread()) {
        fprintf(stderr, "ravlin-cli: update: the download worker could not be started\n");
        return 2;
    }
    worker.PostThreadMessage(WM_LIST_DOWNLOAD);
    Message done;
    do {
        done = sink.Wait();  // the transfer is bounded, so this ends
    } while (done.message != WM_LIST_DOWNLOAD_DONE);
    const ListCycleReport report = worker.LastReport();
    if (done.wParam != 0) {
        printf("列表更新失败.\n");
        fflush(stdout);  // the status line first, then why
        fprintf(stderr, "ravlin-cli: update: %s\n", report.strProblem.c_str());
        return 1;
    }
    printf("列表更新日期：%s\n", Utf16ToUtf8(app.ListDate()).c_str());
    if (report.kind == ListCycleReport::kNotModified) {
        fprintf(stderr, "ravlin-cli: update: the list is unchanged (304); nothing imported\n");
        return 0;
    }
    // The worker reports only that a signed list arrived; one the import could not read (a list
    // cut short, random bytes signed by mistake) is still nothing usable.
    if (!report.outcome.bParsedAndOpened) {
        fprintf(stderr, "ravlin-cli: update: a list arrived from %s but is no well-formed list\n",
                worker.m_strListUrl.c_str());
        return 1;
    }
    return 0;
}

}  // namespace tovarek::cli
