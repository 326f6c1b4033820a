// Posted messages between windows and worker threads: their numbers (the same number may serve
// several messages; the receiver tells them apart), the sink a window offers, and the queue a
// worker thread owns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace tovarek {

constexpr unsigned WM_SCAN_PROGRESS = 0x464;  // scan worker -> scan page, wParam = sequence
constexpr unsigned WM_SCAN_DONE = 0x465;      // scan worker -> scan page
constexpr unsigned WM_SCAN_FOUND = 0x466;     // scan worker -> scan page, wParam = sequence
constexpr unsigned WM_LIST_DOWNLOAD = 0x464;  // main window -> download worker (thread message)
constexpr unsigned WM_LIST_DOWNLOAD_DONE = 0x52C;  // download worker -> main window, wParam 0/1
constexpr unsigned WM_PROTECT_ICON = 0x464;        // protection page -> main window
constexpr unsigned WM_TRAY_NOTIFY = 0x4C8;
constexpr unsigned WM_EXIT_NOW = 0x55E;
constexpr unsigned WM_SHOW_NOTICE = 0x7E8;  // wParam: 0 scan, 1 protection, 2 pop-up
constexpr unsigned WM_POPUP_START = 0x464;
constexpr unsigned WM_QUIT_THREAD = 0x12;  // asks a worker thread's loop to end

struct Message {
    unsigned message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// Where a worker posts to a window. Implementations must be safe to call from any thread and
// must not block for long (the UI's implementation posts a Qt event).
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) = 0;
};

// A worker thread's own message queue. Any thread may post; the owner waits or polls.
// A message posted before the owner first waits is kept, never lost.
class MessageQueue {
public:
    MessageQueue() = default;
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    void Post(const Message& m) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(m);
        }
        m_ready.notify_one();
    }

    // Blocks until a message arrives.
    Message Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_queue.empty(); });
        Message m = m_queue.front();
        m_queue.pop_front();
        return m;
    }

    // Takes a message if one is waiting.
    bool TryGet(Message& m) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.empty()) return false;
        m = m_queue.front();
        m_queue.pop_front();
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Message> m_queue;
};

}  // namespace tovarek
