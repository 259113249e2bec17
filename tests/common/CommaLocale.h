#pragma once
// The user's locale with a decimal comma, for tests that numbers keep their
// point once the toolkit has taken the locale from the environment. The
// toolkit takes it only when its application object is made, so such a test
// runs in a fresh copy of its test program.

#include "common/CommandOutput.h"
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// Whether this process is the copy that RunUnderCommaLocale started.
inline bool UnderCommaLocale() {
    return std::getenv("NUQ_COMMA_LOCALE") != nullptr;
}

// Runs this test program's test Name again under a Russian locale; skips
// when the machine has none (scripts/setup makes it).
inline void RunUnderCommaLocale(const std::string& name) {
    locale_t comma = newlocale(LC_ALL_MASK, "ru_RU.UTF-8", nullptr);
    if (!comma) GTEST_SKIP() << "no ru_RU.UTF-8 locale here (scripts/setup makes it)";
    freelocale(comma);
    int status = 0;
    const std::string out =
        CommandOutput("env LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8 NUQ_COMMA_LOCALE=1 /proc/" +
                          std::to_string(getpid()) + "/exe --gtest_filter=" + name + " 2>&1",
                      &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

// In the copy, after the toolkit started: texts follow the user's locale,
// the program's number texts do not.
inline void ExpectNumbersKeepTheirPoint() {
    // Without the user's locale in force the check would prove nothing.
    ASSERT_NE(std::string(setlocale(LC_CTYPE, nullptr)).find("ru_RU"), std::string::npos);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", 1.5);
    EXPECT_STREQ(buf, "1.5");
    EXPECT_EQ(nuq::FloatToStr(1.5), "1.5");
    double v = 0;
    EXPECT_TRUE(nuq::TryStrToFloat("2.25", v));
    EXPECT_EQ(v, 2.25);
}
