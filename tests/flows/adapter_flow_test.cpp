// Both repairs and the detection through the simulator's USB serial adapter
// (packets of 62 bytes, a partial packet after 16 or 40 ms) give what the
// direct line gives; an adapter unplugged during detection or a repair ends
// it within a second with "Serial adapter disconnected !!".
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include "flow_support.h"
#include "package_writer.h"
#include "temp_dir.h"

using namespace flow_test;
using testing_support::write_file;

namespace {

const QString kDisconnected = QStringLiteral("Serial adapter disconnected !!");

tq318::SimulatorOptions through_adapter(std::uint32_t latency_ms, std::uint32_t baud = 0) {
    auto o = Bench::defaults();
    o.password = "quorvelstand83";
    o.adapter_latency_ms = latency_ms;
    o.baud = baud;
    return o;
}

// A package of the program file and `extra` bytes in a second member.
fs::path makePackage(const fs::path& folder, std::size_t extra) {
    const fs::path dir = folder / "members";
    fs::create_directories(dir);
    const std::string program = randomBytes(3000, 7);
    write_file(dir / "tq318.exe", program);
    write_file(dir / "web.bin", randomBytes(extra, 8));
    const auto record = make_package::make_auth_record({program.begin(), program.end()});
    write_file(dir / "auth.key", std::string(record.begin(), record.end()));
    write_file(dir / "file.lst", "tq318.exe\r\nweb.bin\r\nauth.key\r\n");
    const fs::path archive = folder / "tq318.hex";
    if (!gcab(dir, archive, {"tq318.exe", "web.bin", "auth.key", "file.lst"}, true)) return {};
    return archive;
}

// Hangs the simulator up `after` from now, on its own thread (the wizard's
// thread is inside the click), and notes when.
class Unplug {
public:
    Unplug(tq318::Simulator& sim, std::chrono::milliseconds after)
        : thread_([&sim, after, this] {
              std::this_thread::sleep_for(after);
              at_ = std::chrono::steady_clock::now();
              sim.hang_up();
          }) {}
    ~Unplug() {
        if (thread_.joinable()) thread_.join();
    }
    std::chrono::milliseconds sinceUnplug() {
        if (thread_.joinable()) thread_.join();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - at_);
    }

private:
    std::chrono::steady_clock::time_point at_;
    std::thread thread_;
};

}  // namespace

class AdapterFlowTest : public QObject {
    Q_OBJECT
private slots:
    void everyFlowThroughTheAdapterGivesWhatTheDirectLineGives() {
        for (const std::uint32_t latency : {0u, 16u, 40u}) {
            const QString at = QString::number(latency) + " ms";
            // Connect, log in, banner: step 3 with the mode code.
            Bench b(through_adapter(latency));
            QVERIFY2(b.toStep3(), qPrintable(at));
            QCOMPARE(b.h->panelText(2), QStringLiteral("MS Master Mode..."));
            // The firmware repair, verified by the listing.
            const fs::path package = makePackage(b.files.path(), 20000);
            QVERIFY(!package.empty());
            b.h.dialogs->fileAnswers.push_back(QString::fromStdString(package.string()));
            QTest::mouseClick(b.h->ComUpload, Qt::LeftButton);
            QVERIFY2(b.h.dialogs->messages == std::vector<QString>{"Upgrade Successed."}, qPrintable(at));
            QCOMPARE(b.sim.files('a').size(), std::size_t(2));
            QVERIFY(b.boxes.texts.empty());
            // The OS repair, reconnected after the restart.
            b.h.dialogs->messages.clear();
            QVERIFY2(b.toStep3(), qPrintable(at));
            const std::string image = randomBytes(9000, 9);
            write_file(b.files / "tq318.img", image);
            b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "tq318.img").string()));
            QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
            QVERIFY2(b.h.dialogs->messages == std::vector<QString>{"Upgrade Successed."}, qPrintable(at));
            QVERIFY(b.sim.image_installed());
            QVERIFY(b.sim.uploaded_image() == bytesOf(image));
        }
    }

    void unpluggedDuringDetectionStopsTheWaitAndGoesBackToStep1() {
        auto options = through_adapter(16);
        options.restart_after_open_ms = -1;  // the controller stays silent: step 2 waits
        Bench b(options);
        QVERIFY(b.h.load());
        Unplug unplug(b.sim, 600ms);
        QTest::mouseClick(b.h->ComConnect, Qt::LeftButton);
        const auto late = unplug.sinceUnplug();
        QVERIFY2(late < 1000ms, qPrintable(QString::number(late.count())));
        QVERIFY(b.h->Frame_Step1->isEnabled());
        QVERIFY(!b.h->Frame_Step3->isEnabled());
        QCOMPARE(b.h->panelText(2), kDisconnected);
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"COM 1 " + kDisconnected});
        // The count stopped with the wait.
        const QString shown = b.h->panelText(2);
        QTest::qWait(1200);
        QCOMPARE(b.h->panelText(2), shown);
    }

    void unpluggedDuringEitherRepairEndsItWithinASecond() {
        for (const bool firmware : {true, false}) {
            // Paced, so that the unplug lands in the middle of the download.
            Bench b(through_adapter(16, 115200));
            QVERIFY(b.toStep3());
            if (firmware) {
                b.h.dialogs->fileAnswers.push_back(
                    QString::fromStdString(makePackage(b.files.path(), 300000).string()));
            } else {
                write_file(b.files / "tq318.img", randomBytes(300000, 3));
                b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "tq318.img").string()));
            }
            // Firmware: past the four deletion lines (a second apart) into the download.
            Unplug unplug(b.sim, firmware ? 6000ms : 2000ms);
            QTest::mouseClick(firmware ? b.h->ComUpload : b.h->ComUploadOS, Qt::LeftButton);
            const auto late = unplug.sinceUnplug();
            QVERIFY2(late < 1000ms, qPrintable(QString::number(late.count())));
            QCOMPARE(b.h.dialogs->messages,
                     (std::vector<QString>{kDisconnected, firmware ? "Firmware Upgrade Failed!!" : "OS Upgrade Failed!!"}));
            QVERIFY(b.h->Frame_Step1->isEnabled());
        }
    }
};

int runAdapterFlowTests(int argc, char** argv) {
    AdapterFlowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "adapter_flow_test.moc"
