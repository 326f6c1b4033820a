// Stands between one scan's worker and the window that shows it. Progress is coalesced: at most
// one progress message waits in the window's queue, and the window reads the newest sequence
// number when it gets there, so a fast scan never floods the event loop and the end of the scan
// never waits behind a backlog. Findings and the end pass straight on. Every message leaves with
// the gate's tag as lParam, so a window can drop what an earlier scan left in its queue.
// PostMessage may be called from any thread; TakeProgress belongs to the receiving thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/messages.h"

namespace tovarek {

class ScanMessageGate : public MessageSink {
public:
    ScanMessageGate(MessageSink* target, intptr_t tag) : m_pTarget(target), m_nTag(tag) {}
    ScanMessageGate(const ScanMessageGate&) = delete;
    ScanMessageGate& operator=(const ScanMessageGate&) = delete;

    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override;

    // On receiving a progress message: the newest sequence number posted so far. Re-arms the
    // gate first, so a later progress is posted again and never lost.
    uintptr_t TakeProgress();

    intptr_t Tag() const { return m_nTag; }

private:
    MessageSink* m_pTarget;
    const intptr_t m_nTag;
    std::atomic<uintptr_t> m_nLatest{0};
    std::atomic<bool> m_bPending{false};
};

}  // namespace tovarek
