// Connect and detection end to end: the real serial library (libuart.so) on a
// real pseudo-terminal, played either byte by byte by the test or by the
// simulated controller.
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include "harness.h"
#include "pty_peer.h"

#ifdef WIZARD_TESTS_WITH_SIMULATOR
#include <tq318/simulator.h>
#endif

using namespace wizard_test;
using testing_support::ComMapping;
using testing_support::PtyPeer;

namespace {

constexpr int kWatchdogMs = 20000;

bool inStep(pelorim::Form1& f, int step) {
    return f.stepFrame() == std::array<QGroupBox*, 3>{f.Frame_Step1, f.Frame_Step2, f.Frame_Step3}[step - 1] &&
           f.Frame_Step1->isEnabled() == (step == 1) && f.Frame_Step2->isEnabled() == (step == 2) &&
           f.Frame_Step3->isEnabled() == (step == 3);
}

// If detection is still running after the limit, ends it (a "Disonnect" click
// ends a detection) so that the test fails instead of hanging.
struct Watchdog {
    bool fired = false;
    QTimer timer;
    explicit Watchdog(pelorim::Form1& f) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this, &f] {
            fired = true;
            if (f.ComDisconnect->isEnabled()) f.ComDisconnect->click();
        });
        timer.start(kWatchdogMs);
    }
};

const char* kBanner = "HALVERN Tovrane V1.2MS repair console\r\n";

}  // namespace

class DetectionTest : public QObject {
    Q_OBJECT
private slots:
    void promptInOtherCaseIsNoLogin() {
        PtyPeer peer;
        ComMapping map(1, peer.slave_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Watchdog dog(*h.form);
        Script script({
            {[&] { return h->detectionDepth() == 1; }, [&] { peer.write("Password:"); }},
            {[&] { return h->panelText(2) == QStringLiteral("Password:"); },
             [&] { peer.write("HALVERN Tovrane V1.2AB repair console\r\n"); }},
        });
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(!dog.fired);
        QVERIFY(script.finished());
        QCOMPARE(h->modeCode(), QStringLiteral("AB"));
        QVERIFY(inStep(*h.form, 3));
        QCOMPARE(h->panelText(2), QStringLiteral("AB Master Mode..."));
        QVERIFY(std::find(h.panel2History.begin(), h.panel2History.end(), QStringLiteral("login ...")) ==
                h.panel2History.end());
        QCOMPARE(peer.read_until("\r", std::chrono::milliseconds(20)), std::string());  // no password sent
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Connected "));
    }

    void bannerAfterLineBreakOrBlankIsNotRecognised() {
        PtyPeer peer;
        ComMapping map(1, peer.slave_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Watchdog dog(*h.form);
        const QString afterBreak = QStringLiteral("\r\n") + QString::fromLatin1(kBanner);
        const QString afterBlank = QStringLiteral(" ") + QString::fromLatin1(kBanner);
        bool stillStep2 = true;
        Script script({
            {[&] { return h->detectionDepth() == 1; }, [&] { peer.write(afterBreak.toStdString()); }},
            {[&] { return h->panelText(2) == afterBreak; },
             [&] {
                 stillStep2 = stillStep2 && inStep(*h.form, 2);
                 peer.write(afterBlank.toStdString());
             }},
            {[&] { return h->panelText(2) == afterBlank; },
             [&] {
                 stillStep2 = stillStep2 && inStep(*h.form, 2);
                 peer.write("HALVERN Tovrane V1.2CD repair console\r\n");
             }},
        });
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(!dog.fired);
        QVERIFY(script.finished());
        QVERIFY(stillStep2);
        QCOMPARE(h->modeCode(), QStringLiteral("CD"));
        QVERIFY(inStep(*h.form, 3));
    }

    void loginAtPasswordPromptOverThePty() {
        PtyPeer peer;
        ComMapping map(1, peer.slave_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Watchdog dog(*h.form);
        std::string received;
        Script script({
            {[&] { return h->detectionDepth() == 1; }, [&] { peer.write("\r\nTQ-318 boot loader\r\n"); }},
            {[&] { return h->panelText(2) == QStringLiteral("\r\nTQ-318 boot loader\r\n"); },
             [&] { peer.write("password:"); }},
            {[&] {
                 received = peer.read_until("\r", std::chrono::milliseconds(1));
                 return received.find('\r') != std::string::npos;
             },
             [&] { peer.write(kBanner); }},
        });
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(!dog.fired);
        QCOMPARE(received, std::string("quorvelstand83\r"));
        QCOMPARE(h->modeCode(), QStringLiteral("MS"));
        const auto at = std::find(h.panel2History.begin(), h.panel2History.end(), QStringLiteral("password:"));
        QVERIFY(at != h.panel2History.end() && at + 1 != h.panel2History.end());
        QCOMPARE(*(at + 1), QStringLiteral("login ..."));
        QCOMPARE(h.panel2History.back(), QStringLiteral("MS Master Mode..."));
    }

    void waitCountStaysReadableBetweenPolls() {
        PtyPeer peer;
        ComMapping map(1, peer.slave_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Watchdog dog(*h.form);
        h->Timer1->setInterval(10);  // the tick itself is what is tested, not its period
        h->Timer1->start();
        Script script({
            {[&] { return h->panelText(2) == QStringLiteral("Waiting for power restart ...5"); },
             [&] { peer.write(kBanner); }},
        });
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(!dog.fired);
        QVERIFY(inStep(*h.form, 3));
        // Polls that received nothing did not blank the panel.
        QVERIFY(std::find(h.panel2History.begin(), h.panel2History.end(), QString()) == h.panel2History.end());
        for (int n = 2; n <= 5; ++n) {
            const QString text = QStringLiteral("Waiting for power restart ...") + QString::number(n);
            QVERIFY2(std::find(h.panel2History.begin(), h.panel2History.end(), text) != h.panel2History.end(),
                     qPrintable(text));
        }
        QCOMPARE(h->waitCount(), int16_t(0));
    }

    void disconnectDuringDetectionEndsIt() {
        PtyPeer peer;
        ComMapping map(1, peer.slave_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Script script({{[&] { return h->detectionDepth() == 1; }, [&] { h->ComDisconnect->click(); }}});
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);  // returns only when detection has ended
        QVERIFY(script.finished());
        QCOMPARE(h->detectionDepth(), 0);
        QVERIFY(inStep(*h.form, 1));
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Disonnected!! "));
        QCOMPARE(h->waitCount(), int16_t(0));
        QVERIFY(h.exits.empty());
        // A banner arriving now moves nothing: nobody polls any more.
        peer.write(kBanner);
        QVERIFY(!waitFor([&] { return inStep(*h.form, 3); }, 300));
        QCOMPARE(h->modeCode(), QString());
        // The port really was closed: it opens again.
        QVERIFY(h->Connect_Act());
    }

    void secondConnectDuringDetectionIsNotNested() {
        PtyPeer peer;
        ComMapping map(1, peer.slave_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Watchdog dog(*h.form);
        int deepest = 0;
        auto track = [&] {
            deepest = std::max(deepest, h->detectionDepth());
            return true;
        };
        Script script({
            {[&] { return h->detectionDepth() == 1; },
             [&] {
                 h->ComDisconnect->click();
                 h->ComConnect->click();  // step 1 again: Connect is enabled
             }},
            {[&] { return track() && h->detectionDepth() >= 1 && h->panelText(1) == QStringLiteral("COM 1 Connected "); },
             [&] { peer.write(kBanner); }},
            {[&] { return track() && inStep(*h.form, 3); }, nullptr},
        });
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        // Allow the script's last step to observe the end state.
        QVERIFY(waitFor([&] { return script.finished(); }, 2000));
        QVERIFY(!dog.fired);
        QCOMPARE(deepest, 1);
        QVERIFY(inStep(*h.form, 3));
        QCOMPARE(h->modeCode(), QStringLiteral("MS"));
        QCOMPARE(h->detectionDepth(), 0);
    }

    void exitDuringDetectionEndsAtOnce() {
        PtyPeer peer;
        ComMapping map(1, peer.slave_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Script script({{[&] { return h->detectionDepth() == 1; }, [&] { h->ComExit->click(); }}});
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QCOMPARE(h.exits, std::vector<int>{0});
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Disonnected!! "));
        QCOMPARE(h->panelText(2), QString());
        QCOMPARE(h->detectionDepth(), 0);
        QVERIFY(!inStep(*h.form, 3));
    }

    void refusedOpenOverTheRealLibrary() {
        ComMapping map(3, "/dev/pelorim-no-such-tty");
        Harness h("libuart.so");
        QVERIFY(h.load());
        h->Combo_ComPort->setCurrentIndex(2);
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QCOMPARE(h.dialogs->messages, std::vector<QString>{QStringLiteral("COM 3 Connect Failed !!")});
        QVERIFY(inStep(*h.form, 1));
        QCOMPARE(h->panelText(1), QString());
    }

    void portInUseIsRefused() {
        PtyPeer peer;
        ComMapping map(2, peer.slave_path());
        Harness first("libuart.so");
        Harness second("libuart.so");
        QVERIFY(first.load());
        QVERIFY(second.load());
        first->Combo_ComPort->setCurrentIndex(1);
        second->Combo_ComPort->setCurrentIndex(1);
        QVERIFY(first->Connect_Act());
        QVERIFY(!second->Connect_Act());
        QCOMPARE(second.dialogs->messages, std::vector<QString>{QStringLiteral("COM 2 Connect Failed !!")});
        QVERIFY(first->Disconnect_Act());
        QVERIFY(second->Connect_Act());
        QVERIFY(second->Disconnect_Act());
    }

#ifdef WIZARD_TESTS_WITH_SIMULATOR
    void detectsTheSimulatedControllerWithPassword() {
        tq318::SimulatorOptions options;
        options.password = "quorvelstand83";
        options.restart_after_open_ms = 200;
        tq318::Simulator sim(options);
        sim.start();
        ComMapping map(1, sim.device_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Watchdog dog(*h.form);
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(!dog.fired);
        QVERIFY(inStep(*h.form, 3));
        QCOMPARE(h->modeCode(), QStringLiteral("MS"));
        QCOMPARE(h->panelText(2), QStringLiteral("MS Master Mode..."));
        QCOMPARE(sim.received_lines(), std::vector<std::string>{"quorvelstand83"});
        const auto login = std::find(h.panel2History.begin(), h.panel2History.end(), QStringLiteral("login ..."));
        QVERIFY(login != h.panel2History.begin() && login != h.panel2History.end());
        QCOMPARE(*(login - 1), QStringLiteral("password:"));
        QVERIFY(h.dialogs->messages.empty());

        // Disonnect in step 3 closes the port the simulator sees.
        QTest::mouseClick(h->ComDisconnect, Qt::LeftButton);
        QVERIFY(inStep(*h.form, 1));
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Disonnected!! "));
        QCOMPARE(h->panelText(2), QString());
        QVERIFY(sim.wait_for_slave(false, std::chrono::milliseconds(3000)));
    }

    void detectsTheSimulatedControllerWithoutPassword() {
        tq318::SimulatorOptions options;
        options.mode_code = "KX";
        options.restart_after_open_ms = 100;
        tq318::Simulator sim(options);
        sim.start();
        ComMapping map(1, sim.device_path());
        Harness h("libuart.so");
        QVERIFY(h.load());
        Watchdog dog(*h.form);
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(!dog.fired);
        QCOMPARE(h->modeCode(), QStringLiteral("KX"));
        QVERIFY(inStep(*h.form, 3));
        QVERIFY(sim.received_lines().empty());
        QVERIFY(std::find(h.panel2History.begin(), h.panel2History.end(), QStringLiteral("login ...")) ==
                h.panel2History.end());
    }
#endif
};

int runDetectionTests(int argc, char** argv) {
    DetectionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "detection_test.moc"
