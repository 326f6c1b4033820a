#include "platform/env.h"

#include <atomic>

namespace tovarek {
namespace {

std::atomic<Env*> g_pCurrent{nullptr};

}  // namespace

Env& Env::System() {
    // Never deleted: workers may still ask it while static destructors run.
    static Env* system = new Env();
    return *system;
}

Env& CurrentEnv() {
    Env* env = g_pCurrent.load(std::memory_order_acquire);
    return env ? *env : Env::System();
}

ScopedEnv::ScopedEnv(Env& env) : m_pPrevious(g_pCurrent.exchange(&env)) {}

ScopedEnv::~ScopedEnv() {
    g_pCurrent.store(m_pPrevious);
}

}  // namespace tovarek
