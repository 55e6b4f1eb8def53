// wizard_tests: every test class of the wizard in one QtTest program.
// Run offscreen (QT_QPA_PLATFORM=offscreen) without a display.
#include <QApplication>
#include <QTest>

#include <cstdio>
#include <cstdlib>

int runWindowTests(int argc, char** argv);
int runConnectionTests(int argc, char** argv);
int runChecksumTests(int argc, char** argv);
int runHelperTests(int argc, char** argv);
int runDetectionTests(int argc, char** argv);

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    int failed = 0;
    int classes = 0;
    for (auto run : {runWindowTests, runConnectionTests, runChecksumTests, runHelperTests, runDetectionTests}) {
        const int result = run(argc, argv);
        failed += result;
        ++classes;
    }
    std::printf("wizard_tests: %d test classes, %d failed test functions\n", classes, failed);
    return failed == 0 ? 0 : 1;
}
