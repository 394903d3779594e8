// Entry of the Windows test programs: the main thread is the GUI thread; no toolkit.
#include "QCoreApplication"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app;
    return RUN_ALL_TESTS();
}
