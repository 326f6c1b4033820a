#include "scan/scan_message_gate.h"

namespace tovarek {

void ScanMessageGate::PostMessage(unsigned message, uintptr_t wParam, intptr_t /*lParam*/) {
    if (message == WM_SCAN_PROGRESS) {
        // The newest number is stored before the flag is tested: a receiver that re-armed the
        // gate after this store reads it; one that re-armed before sees a fresh message.
        m_nLatest.store(wParam);
        if (m_bPending.exchange(true)) return;
    }
    if (m_pTarget) m_pTarget->PostMessage(message, wParam, m_nTag);
}

uintptr_t ScanMessageGate::TakeProgress() {
    m_bPending.store(false);
    return m_nLatest.load();
}

}  // namespace tovarek
