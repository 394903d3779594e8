// Shared entry of every test program: creates the application object on the offscreen
// platform so that widgets can be built and painted without a display.
#include <QApplication>
#include <clocale>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Tests pick their own numeric locale with setlocale; start from the neutral one.
    qputenv("LC_ALL", "C");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    return RUN_ALL_TESTS();
}
