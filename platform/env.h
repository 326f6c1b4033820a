// What the program takes from its surroundings and tests replace: where its own files live and
// which code page the locale speaks (the desktop program's windows add their dialogs, ui/ui_env.h).
// Start-up runs on the system's; a test puts its own in force for its run, in the manner of
// LevelDB's Env, instead of one setter per answer.
#pragma once

#include <string>

namespace tovarek {

class Env {
public:
    Env() = default;
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;
    virtual ~Env() = default;

    // Directory of the running executable, ending in '/'. Logs go to ModuleDir() + "log/".
    virtual std::string ModuleDir() const;
    // The code page of the locale's character set (see platform/code_page.h).
    virtual int AnsiCodePage() const;

    // The one the program runs on.
    static Env& System();
};

// The environment in force: Env::System() unless a ScopedEnv put another in place. Any thread.
Env& CurrentEnv();

// Puts `env` in force for this object's life, then the previous one again. Made and ended while
// no other thread of the program runs (a test's set-up and tear-down).
class ScopedEnv {
public:
    explicit ScopedEnv(Env& env);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    Env* m_pPrevious;
};

}  // namespace tovarek
