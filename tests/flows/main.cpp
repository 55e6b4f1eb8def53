// flows_tests: the two repair flows, offscreen.
#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "temp_dir.h"

int runOsFlowTests(int argc, char** argv);
int runFirmwareFlowTests(int argc, char** argv);
int runAdapterFlowTests(int argc, char** argv);

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Repair records of this run go to a folder of its own, removed at the end.
    const testing_support::TempDir state;
    setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    QApplication app(argc, argv);
    int failed = 0;
    for (auto run : {runOsFlowTests, runFirmwareFlowTests, runAdapterFlowTests}) failed += run(argc, argv);
    std::printf("flows_tests: %d failed test functions\n", failed);
    return failed == 0 ? 0 : 1;
}
