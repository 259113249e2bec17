#pragma once
// Database tests run against the server named by NUQ_TEST_ODBC (scripts/test
// starts a throw-away one and sets it) and are skipped without it.

#include "platform/Database.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace nuq {

inline std::string TestConnectionString() {
    const char* s = std::getenv("NUQ_TEST_ODBC");
    return s ? s : "";
}

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (TestConnectionString().empty()) GTEST_SKIP() << "NUQ_TEST_ODBC is not set";
        Db.ConnectionString = TestConnectionString();
        Db.Open();
    }

    TDBConnection Db;
};

} // namespace nuq
