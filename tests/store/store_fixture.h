// A fixture for store tests: a fresh folder that is both the current directory (Ravlin.db) and
// the program directory (log/dberr.log), with the ANSI code page pinned to UTF-8.
#pragma once

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/module_info.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

namespace tovarek::test {

class StoreTest : public ::testing::Test {
protected:
    ScopedTestEnv testEnv;
    void SetUp() override {
        testEnv.moduleDir = m_dir.path();
        testEnv.codePage = kCodePageUtf8;
    }
    std::string DbErrLog() const { return ReadFile(m_dir.File("log/dberr.log")); }

    TempDir m_dir{true};
};

}  // namespace tovarek::test
