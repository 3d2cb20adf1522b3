// The main-window tests need one QApplication for the whole binary, made
// before any test runs; the other application tests do not mind it.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    // Test discovery runs the binary at build time without ctest's
    // environment; it must not need a display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
