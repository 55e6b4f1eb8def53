// pelorim_screens OUTDIR: drives the real wizard window through its three
// steps and a firmware repair against the simulated controller and saves
// pelorim-step1.png, -step2.png, -step3.png, pelorim-progress.png (the
// repair's progress frame while the disks are emptied) and
// pelorim-disconnected.png (step 1 again after the repair, "COM 1
// Disonnected!! " in the status bar): the README pictures in docs/. Works
// offscreen. Exits 1 unless every picture was saved and the repair ended
// with the controller's proof ("Upgrade Successed.").
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <tq318/simulator.h>

#include "dialogs.h"
#include "form1.h"
#include "package_writer.h"

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

// Answers the file dialog with the sample package; messages go to stdout
// instead of a box nobody could close.
class ScriptedDialogs final : public pelorim::Dialogs {
public:
    explicit ScriptedDialogs(QString package) : package_(std::move(package)) {}
    std::vector<QString> messages;
    void message(QWidget*, const QString& text) override {
        std::printf("message: %s\n", qPrintable(text));
        messages.push_back(text);
    }
    QString openFile(QWidget*, const pelorim::OpenFileRequest&) override { return package_; }

private:
    QString package_;
};

// A small firmware package: the program file and two further members.
QString makePackage(const QTemporaryDir& scratch) {
    const QString members = scratch.filePath(QStringLiteral("members"));
    QDir().mkpath(members);
    auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(QDir(members).filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QByteArray program(48 * 1024, '\0');
    for (qsizetype i = 0; i < program.size(); ++i) program[i] = static_cast<char>((i * 131 + 7) % 251);
    if (!write("tq318.exe", program) || !write("web.bin", program.left(12000)) ||
        !write("switch.cfg", "ip=192.168.1.1\r\n"))
        return {};
    const QString package = scratch.filePath(QStringLiteral("tq318.hex"));
    make_package::PackageRequest request;
    request.members_dir = members.toStdString();
    request.output = package.toStdString();
    const std::string error = make_package::write_package(request);
    if (!error.empty()) {
        std::fprintf(stderr, "pelorim_screens: no sample package: %s\n", error.c_str());
        return {};
    }
    return package;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    QTemporaryDir scratch;
    if (!scratch.isValid()) return 1;
    // The repair's record and work folder go to the scratch folder, not the user's.
    setenv("XDG_STATE_HOME", qPrintable(scratch.filePath(QStringLiteral("state"))), 1);
    setenv("TEMP", qPrintable(scratch.path()), 1);
    const QString package = makePackage(scratch);
    if (package.isEmpty()) return 1;

    tq318::SimulatorOptions options;
    options.password = "quorvelstand83";
    options.restart_after_open_ms = 2500;  // long enough to show the wait count
    tq318::Simulator simulator(options);
    simulator.start();
    setenv("UART_COM1", simulator.device_path().c_str(), 1);

    auto dialogs = std::make_shared<ScriptedDialogs>(package);
    pelorim::Form1::Services services;
    services.dialogs = dialogs;
    services.terminate = [](int) { QCoreApplication::quit(); };
    pelorim::Form1 window(std::move(services));
    if (!window.guarded([&window] { window.Form_Load(); })) return 1;
    window.centreOnScreen();
    window.show();

    bool step1 = false, step2 = false, step3 = false, progress = false, disconnected = false;
    saveWhenRed(window, folder, "pelorim-step1.png", step1);
    QTimer::singleShot(1200, &window, [&] {
        saveWhenRed(window, folder, "pelorim-step2.png", step2, [&window] {
            return window.panelText(2).startsWith(QStringLiteral("Waiting for power restart ...")) &&
                   window.waitCount() >= 3;
        });
        window.ComConnect->click();  // runs detection until the banner arrives
        saveWhenRed(window, folder, "pelorim-step3.png", step3);
        QTimer::singleShot(1500, &window, [&] {
            // The progress frame once the package is proven, while the disks
            // are emptied (the pauses there serve this poll).
            auto* poll = new QTimer(&window);
            QObject::connect(poll, &QTimer::timeout, &window, [&window, &progress, poll, folder] {
                if (!window.Frame1->isVisible() || window.UploadBar->value() < 2) return;
                poll->stop();
                poll->deleteLater();
                progress = save(window, folder, "pelorim-progress.png");
            });
            poll->start(10);
            window.ComUpload->click();  // the whole repair, back to step 1
            const bool proven = !dialogs->messages.empty() && dialogs->messages.back() == "Upgrade Successed.";
            if (!proven) std::fprintf(stderr, "pelorim_screens: the repair did not end with \"Upgrade Successed.\"\n");
            if (proven && window.panelText(1) == QStringLiteral("COM 1 Disonnected!! "))
                disconnected = save(window, folder, "pelorim-disconnected.png");
            window.ComExit->click();
        });
    });
    QApplication::exec();
    simulator.stop();
    return step1 && step2 && step3 && progress && disconnected ? 0 : 1;
}
