// Entry of the Windows test programs: the main thread is the GUI thread; no toolkit.
#include "tests/hid/TestEventLoop.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    TestMainThread() = GetCurrentThreadId();
    return RUN_ALL_TESTS();
}
