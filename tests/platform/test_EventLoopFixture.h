#pragma once
// Each event-loop test starts on a virtual clock with no idle grace and leaves
// the loop as it found it, so the suites can share one process.

#include "platform/DateUtils.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

class LoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        nuq::SetMainThread();
        nuq::UseVirtualClock(nuq::EncodeDateTime(2024, 3, 1, 12), 1000);
        nuq::SetIdleGrace(0);
        Drain();
    }
    void TearDown() override {
        Drain();
        nuq::SetIdleGrace(-1);
        nuq::UseRealClock();
    }
    static void Drain() {
        for (int i = 0; i < 5; ++i) nuq::ProcessMessages();
    }
};
