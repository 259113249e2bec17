// Scope guards: the clean-up runs however the scope is left, and the fault
// the caller hears of is the first one.

#include "platform/ScopeGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using namespace nuq;

namespace {

struct TCounter {
    int Updates = 0, Ends = 0;
    bool FailEnd = false;
    void BeginUpdate() { ++Updates; }
    void EndUpdate() {
        --Updates;
        ++Ends;
        if (FailEnd) throw std::runtime_error("clean-up");
    }
};

} // namespace

TEST(ScopeGuard, CleanUpRunsOnEveryWayOutAndTheFirstFaultIsReported) {
    struct Case {
        bool bodyFails, cleanUpFails;
        const char* heard; // the error that leaves the scope, "" for none
    };
    for (const Case& c : {Case{false, false, ""}, Case{true, false, "body"},
                          Case{false, true, "clean-up"}, Case{true, true, "body"}}) {
        TCounter exitCount, updateCount;
        exitCount.FailEnd = updateCount.FailEnd = c.cleanUpFails;
        for (TCounter* counter : {&exitCount, &updateCount}) {
            std::string heard;
            try {
                if (counter == &exitCount) {
                    TScopeExit end([&] { exitCount.EndUpdate(); });
                    if (c.bodyFails) throw std::runtime_error("body");
                } else {
                    TUpdateScope update(updateCount);
                    EXPECT_EQ(updateCount.Updates, 1);
                    if (c.bodyFails) throw std::runtime_error("body");
                }
            } catch (const std::runtime_error& e) {
                heard = e.what();
            }
            EXPECT_EQ(heard, c.heard) << c.bodyFails << c.cleanUpFails;
            EXPECT_EQ(counter->Ends, 1) << c.bodyFails << c.cleanUpFails;
        }
        EXPECT_EQ(updateCount.Updates, 0);
        // An undo runs on the way out of an error alone.
        int undone = 0;
        try {
            TScopeFail undo([&] { ++undone; });
            if (c.bodyFails) throw std::runtime_error("body");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(undone, c.bodyFails ? 1 : 0);
    }
}
