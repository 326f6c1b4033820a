// Helpers shared by the scan suites: a message sink that records what a scan posts (checking
// each message against the stores at the moment it is posted), a process seam that records
// which files' processes would be ended, and a list built from real files.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/messages.h"
#include "platform/path_text.h"
#include "scan/file_fingerprint.h"
#include "scan/process_table.h"
#include "scan/scan_engine.h"
#include "store/blacklist.h"

namespace tovarek::test {

class RecordingSink : public MessageSink {
public:
    RecordingSink(const ScanRecordStore& scanned, const ScanRecordStore& findings)
        : m_scanned(scanned), m_findings(findings) {}

    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        ScanFileRecord record;
        bool complete =
            message == WM_SCAN_DONE ||
            (message == WM_SCAN_PROGRESS ? m_scanned.Find(static_cast<int32_t>(wParam), record)
                                         : m_findings.Find(static_cast<int32_t>(wParam), record));
        std::function<void(const Message&)> hook;
        Message m{message, wParam, lParam};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            messages.push_back(m);
            if (!complete) ++incompleteRecords;
            hook = onMessage;
        }
        m_changed.notify_all();
        if (hook) hook(m);
    }

    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return messages.size();
    }

    // Waits until `done` holds for the messages so far; false after `ms` milliseconds.
    bool WaitFor(const std::function<bool(const std::vector<Message>&)>& done, int ms = 20000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                                  [&] { return done(messages); });
    }

    std::vector<Message> messages;
    int incompleteRecords = 0;
    std::function<void(const Message&)> onMessage;  // runs on the posting thread

private:
    const ScanRecordStore& m_scanned;
    const ScanRecordStore& m_findings;
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

// Takes an empty snapshot and records which files' processes would be ended.
class RecordingEnder : public Processes {
public:
    int Snapshot(ProcessTable&, uint32_t&) override { return 0; }
    void EndProcessesOfFile(const ProcessTable&, uint32_t, std::u16string_view filePath,
                            std::u16string_view fileName, const FileId& fileId) override {
        calls.push_back({Utf16ToPath(filePath), Utf16ToPath(fileName)});
        ids.push_back(fileId);
        if (onCall) onCall(calls.back().first);
    }
    std::vector<std::pair<std::string, std::string>> calls;
    std::vector<FileId> ids;
    std::function<void(const std::string&)> onCall;
};

inline std::string Md5Of(const std::string& path) {
    char digest[33] = {};
    return ComputeFileMd5(path.c_str(), digest) ? digest : "";
}

// Lists `path` by its content under the listed name `name` (stored lower-case, as a load does).
inline void ListByContent(BlacklistMap& list, const std::string& path,
                          const std::u16string& name = u"listed.bin") {
    list[Utf8ToUtf16(Md5Of(path))].name = name;
}

inline std::vector<std::string> Paths(const ScanRecordStore& store) {
    std::vector<std::string> paths;
    store.ForEach(
        [&](int32_t, const ScanFileRecord& r) { paths.push_back(Utf16ToPath(r.filePath)); });
    return paths;
}

inline void MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
    }
}

// Runs `body` in a child process with a private mount namespace and returns what it returned;
// "SKIP: ..." when no namespace can be made here.
inline std::string InPrivateMounts(const std::function<std::string()>& body) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "SKIP: no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        std::string out;
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
            out = "SKIP: unshare(CLONE_NEWNS) refused";
        else
            out = body();
        ssize_t written = write(pipeFds[1], out.data(), out.size());
        _exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    close(pipeFds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return out;
}

}  // namespace tovarek::test
