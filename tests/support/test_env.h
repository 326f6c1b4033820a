// A test's environment: the folder and code page the test fixes, the system's answers elsewhere.
// ScopedTestEnv puts itself in force for its life; TestEnvOf<UiEnv> serves the UI suites.
#pragma once

#include <string>

#include "platform/env.h"

namespace tovarek::test {

template <class Base>
class TestEnvOf : public Base {
public:
    std::string moduleDir;  // "" keeps the system's; a missing final '/' is added
    int codePage = 0;       // 0 keeps the locale's

    std::string ModuleDir() const override {
        if (moduleDir.empty()) return Base::ModuleDir();
        return moduleDir.back() == '/' ? moduleDir : moduleDir + "/";
    }
    int AnsiCodePage() const override { return codePage ? codePage : Base::AnsiCodePage(); }
};

template <class Base>
class ScopedTestEnvOf : public TestEnvOf<Base> {
public:
    ScopedTestEnvOf() : m_scope(*this) {}

private:
    ScopedEnv m_scope;
};

using ScopedTestEnv = ScopedTestEnvOf<Env>;

}  // namespace tovarek::test
