// Pelorim: the TQ-318 repair wizard.
#include <QApplication>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "form1.h"

namespace {

// SIGTERM, SIGINT and SIGHUP end the program the way closing the window does,
// so the serial port is closed first. The handler only writes a byte; the
// window reacts to it on its own thread.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// A trace that was asked for and cannot be written is said once, at start.
void reportUnwritableTrace() {
    const char* name = std::getenv("UART_TRACE");
    if (name == nullptr || *name == '\0') return;
    if (std::FILE* f = std::fopen(name, "a"); f != nullptr) {
        std::fclose(f);
        return;
    }
    std::fprintf(stderr, "Pelorim: UART_TRACE=%s: %s; no trace is recorded\n", name, std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelorim"));
    reportUnwritableTrace();

    pelorim::Form1 window(pelorim::Form1::Services{});

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &window, [&window] {
            char byte = 0;
            [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
            window.guarded([&window] { window.Form_Terminate(); });
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    }

    // Start-up binds the serial library; failing that, the error report ends the program here.
    if (!window.guarded([&window] { window.Form_Load(); })) return 1;
    window.centreOnScreen();
    window.show();
    return QApplication::exec();
}
