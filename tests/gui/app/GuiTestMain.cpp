// Window tests run on Qt's offscreen platform inside one QApplication.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
