// pelorim_screens OUTDIR: drives the real wizard window through its three
// steps against the simulated controller and saves pelorim-step1.png, -step2.png and
// -step3.png (the README pictures in docs/). Works offscreen.
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include <tq318/simulator.h>

#include "form1.h"

namespace {

bool save(pelorim::Form1& window, const QString& folder, const char* name) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

// Lets the timer tick until the active caption is red again, then saves.
void saveWhenRed(pelorim::Form1& window, const QString& folder, const char* name, bool& saved,
                 const std::function<bool()>& extra = [] { return true; }) {
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, &saved, poll, folder, name, extra] {
        if (window.captionColor(window.stepFrame()) == QColor(255, 0, 0) && extra()) {
            poll->stop();
            poll->deleteLater();
            saved = save(window, folder, name);
        }
    });
    poll->start(10);
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    tq318::SimulatorOptions options;
    options.password = "quorvelstand83";
    options.restart_after_open_ms = 2500;  // long enough to show the wait count
    tq318::Simulator simulator(options);
    simulator.start();
    setenv("UART_COM1", simulator.device_path().c_str(), 1);

    pelorim::Form1::Services services;
    services.terminate = [](int) { QCoreApplication::quit(); };
    pelorim::Form1 window(std::move(services));
    if (!window.guarded([&window] { window.Form_Load(); })) return 1;
    window.centreOnScreen();
    window.show();

    bool step1 = false, step2 = false, step3 = false;
    saveWhenRed(window, folder, "pelorim-step1.png", step1);
    QTimer::singleShot(1200, &window, [&] {
        saveWhenRed(window, folder, "pelorim-step2.png", step2, [&window] {
            return window.panelText(2).startsWith(QStringLiteral("Waiting for power restart ...")) &&
                   window.waitCount() >= 3;
        });
        window.ComConnect->click();  // runs detection until the banner arrives
        saveWhenRed(window, folder, "pelorim-step3.png", step3);
        QTimer::singleShot(1500, &window, [&window] { window.ComExit->click(); });
    });
    QApplication::exec();
    simulator.stop();
    return step1 && step2 && step3 ? 0 : 1;
}
