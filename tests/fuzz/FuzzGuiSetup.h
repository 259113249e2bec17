#pragma once
// The start of a fuzz target whose objects are windowless GUI objects: Qt's
// offscreen platform and this thread as the main one. Included once per target.

#include "platform/EventLoop.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    nuq::SetMainThread();
    return 0;
}
