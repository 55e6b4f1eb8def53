// The window over the recording fake serial library: the controls each step
// enables, Timer1's blink and power-restart reminder, connect, detection and
// the ends of a connection, clicks during detection, libraries that cannot be
// bound, and texts that must fit their controls.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include "engine_bridge.h"
#include "harness.h"

using namespace wizard_test;

// The recording fake serial library, linked in: the wizard's binding opens this same instance.
extern "C" const char* FakeUart_Calls();
extern "C" void FakeUart_Reset();
extern "C" void FakeUart_SetOpenResult(uint16_t result);
extern "C" void FakeUart_QueueReceive(const char* text);

namespace {

QStringList calls() { return QString::fromLatin1(FakeUart_Calls()).split(u'\n', Qt::SkipEmptyParts); }
void queue(const QString& text) { FakeUart_QueueReceive(text.toLatin1().constData()); }

// Enabled state of every control the step controller sets, plus ComExit.
QList<bool> enabledStates(pelorim::Form1& f) {
    QList<bool> s;
    for (QWidget* w : std::initializer_list<QWidget*>{f.Frame_Step1, f.Label1, f.Combo_ComPort, f.ComConnect,
                                                      f.Frame_Step2, f.Label2[0], f.Label2[1], f.Frame_Step3,
                                                      f.Label2[2], f.ComUploadOS, f.ComUpload, f.ComDisconnect,
                                                      f.ComExit})
        s << w->isEnabled();
    return s;
}
QList<bool> expectedStates(int step) {
    const bool s1 = step == 1, s2 = step == 2, s3 = step == 3;
    return {s1, s1, s1, s1, s2, s2, s2, s3, s3, s3, s3, s2 || s3, true};
}
bool inStep(pelorim::Form1& f, int step) {
    return f.stepFrame() == std::array{f.Frame_Step1, f.Frame_Step2, f.Frame_Step3}[step - 1] &&
           f.stepFrame()->isEnabled();
}

QString banner(const char* mode) { return QStringLiteral("HALVERN Tovrane V1.2%1 repair console\r\n").arg(mode); }

// Ends the program (exit code 2, which no test expects) after 10 s, which ends a
// detection still running, so that the test fails instead of hanging.
void watchdog(pelorim::Form1& f) { QTimer::singleShot(10000, &f, [&f] { f.endProgram(2); }); }

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { FakeUart_Reset(); }

    // Start-up shows step 1; then steps 1 to 3 set every control from any step, other steps change nothing.
    void startupAndSteps() {
        Harness h("libfake_uart.so", /*timer=*/true);
        QVERIFY(h.load());
        QVERIFY(inStep(*h.form, 1));
        QCOMPARE(enabledStates(*h.form), expectedStates(1));
        QCOMPARE(h->Combo_ComPort->currentText(), QStringLiteral("COM 1"));
        QVERIFY(h->panelText(1).isEmpty() && h->panelText(2).isEmpty() && h->Frame1->isHidden());
        QVERIFY(h->Timer1->isActive() && h->Timer1->interval() == 500);
        QCOMPARE(calls(), QStringList{"Close_Com(0)"});  // binds the library at start-up
        QVERIFY(h.exits.empty() && h.dialogs->messages.empty());
        for (int step = 0; step <= 4; ++step) {
            for (int from : {1, 2, 3}) {
                h->Flow_controler(static_cast<int16_t>(from));
                h->Flow_controler(static_cast<int16_t>(step));
                const int expected = step >= 1 && step <= 3 ? step : from;
                QCOMPARE(enabledStates(*h.form), expectedStates(expected));
                QVERIFY2(inStep(*h.form, expected), qPrintable(QString::number(step)));
            }
        }
    }

    // Each tick blinks the step's caption; an armed count counts in panel 2
    // and gives one reminder at its 60th tick, however many ticks come while it is open.
    void timerBlinksAndReminds() {
        Harness h;
        QVERIFY(h.load());
        for (int tick = 0; tick < 4; ++tick) {
            h->Timer1_Timer();
            QCOMPARE(h->captionColor(h->Frame_Step1), h->blinkColors()[tick % 2]);
        }
        QCOMPARE(h->Label1->palette().color(QPalette::WindowText), h->palette().color(QPalette::WindowText));
        QVERIFY(h->panelText(2).isEmpty() && h.dialogs->messages.empty());  // unarmed: no count
        h->Flow_controler(3);
        h->Timer1_Timer();
        QCOMPARE(h->captionColor(h->Frame_Step3), QColor(255, 0, 0));
        h->setWaitCount(1);
        for (int tick = 1; tick <= 59; ++tick) h->Timer1_Timer();
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...60"));
        QVERIFY(h.dialogs->messages.empty());
        int16_t countWhileOpen = -1;
        QColor colourWhileOpen;
        h.dialogs->whileOpen = [&](const QString&) {
            if (h.dialogs->messages.size() > 1) return;
            for (int i = 0; i < 3; ++i) h->Timer1_Timer();  // ticks while the reminder is open
            countWhileOpen = h->waitCount(), colourWhileOpen = h->captionColor(h->Frame_Step3);
        };
        h->Timer1_Timer();
        QCOMPARE(h.dialogs->messages, std::vector<QString>{"Warning !!\r\nPlease restart power of device !!"});
        QCOMPARE(colourWhileOpen, h->blinkColors()[1]);  // the 68th tick's: nested ticks still blink
        QCOMPARE(countWhileOpen, int16_t(60));            // the count restarts once it is closed
        QCOMPARE(h->waitCount(), int16_t(1));
        h->Timer1_Timer();
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...2"));
        for (int tick = 0; tick < 59; ++tick) h->Timer1_Timer();
        QCOMPARE(h.dialogs->messages.size(), std::size_t(2));
    }

    // The port text typed or chosen, the port it gives (item position + 1; text
    // naming no item: 0), the open result, what the controller sends poll by
    // poll, the mode code taken from its banner, and how the connection ends:
    // Disonnect (disabled when refused), EXIT, closing the window or termination.
    void connectDetectAndEnd_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("openResult");
        QTest::addColumn<QStringList>("received");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<char>("end");  // D, E, X (close) or T
        QTest::newRow("no prompt") << "COM 3" << 3 << 0 << QStringList{"", "\r\nboot\r\n", banner("MS")} << "MS" << 'D';
        QTest::newRow("prompt per line, typed text") << "ttyUSB0" << 0 << 0
            << QStringList{"password:", "\r\nLogin incorrect\r\n", "password:", banner("KX")} << "KX" << 'E';
        QTest::newRow("prompt in other case") << "COM 1" << 1 << 0 << QStringList{"Password:", banner("AB")} << "AB" << 'X';
        QTest::newRow("banner after line break or blank") << "COM 5" << 5 << 0
            << QStringList{"\r\n" + banner("XY"), " " + banner("XY"), banner("CD")} << "CD" << 'T';
        QTest::newRow("refused") << "COM 2" << 2 << 5 << QStringList{banner("MS")} << "" << 'D';
        QTest::newRow("typed text refused, EXIT") << "ttyUSB0" << 0 << 2 << QStringList{banner("MS")} << "" << 'E';
    }
    void connectDetectAndEnd() {
        QFETCH(QString, typed);
        QFETCH(int, port);
        QFETCH(int, openResult);
        QFETCH(QStringList, received);
        QFETCH(QString, mode);
        QFETCH(char, end);
        Harness h;
        QVERIFY(h.load());
        h->show();
        h->Combo_ComPort->lineEdit()->selectAll();
        QTest::keyClicks(h->Combo_ComPort->lineEdit(), typed);
        h->setPanel(1, QStringLiteral("before"));
        FakeUart_Reset();
        FakeUart_SetOpenResult(static_cast<uint16_t>(openResult));
        const bool opens = openResult == 0;
        QStringList expectedCalls{QStringLiteral("Open_Com(%1,115200,8,0,0)").arg(port)};
        std::vector<QString> shown;
        for (const QString& text : received) {
            queue(text);
            if (!opens) continue;
            expectedCalls << QStringLiteral("Receive_Cmd(%1,1,0,1)").arg(port);
            if (!text.isEmpty()) shown.push_back(text);  // an empty poll leaves the panel alone
            if (text.startsWith(QStringLiteral("password:"))) {
                expectedCalls << QStringLiteral("Send_Cmd(%1,quorvelstand83,0)").arg(port);
                shown.push_back(QStringLiteral("login ..."));
            }
        }
        int16_t countWhileOpen = -1;
        h.dialogs->whileOpen = [&](const QString&) { countWhileOpen = h->waitCount(); };
        watchdog(*h.form);
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QCOMPARE(h->waitCount(), int16_t(0));
        QCOMPARE(h->modeCode(), mode);
        QCOMPARE(h->panelText(1), opens ? typed + QStringLiteral(" Connected ") : QStringLiteral("before"));
        QCOMPARE(h.dialogs->messages, opens ? std::vector<QString>{} : std::vector{typed + " Connect Failed !!"});
        QCOMPARE(countWhileOpen, int16_t(opens ? -1 : 1));  // armed for the whole handler
        QVERIFY(inStep(*h.form, opens ? 3 : 1));
        if (opens) shown.push_back(mode + QStringLiteral(" Master Mode..."));
        QCOMPARE(h.panel2History, shown);
        h->setPanel(2, QStringLiteral("activity"));
        if (end == 'D') QTest::mouseClick(h->ComDisconnect, Qt::LeftButton);
        if (end == 'E') QTest::mouseClick(h->ComExit, Qt::LeftButton);
        if (end == 'X') QVERIFY(h->close());
        if (end == 'T') h->Form_Terminate();
        const bool closes = opens || end != 'D';
        if (closes) expectedCalls << QStringLiteral("Close_Com(%1)").arg(port);
        QCOMPARE(calls(), expectedCalls);
        QCOMPARE(h->panelText(1), closes ? typed + QStringLiteral(" Disonnected!! ") : QStringLiteral("before"));
        QCOMPARE(h->panelText(2), closes ? QString() : QStringLiteral("activity"));
        QCOMPARE(h.exits, end == 'D' ? std::vector<int>{} : std::vector<int>{0});
        QVERIFY(end != 'D' || inStep(*h.form, 1));
    }

    // Clicks while step 2 waits for the banner: Disonnect or EXIT end the
    // detection, and no poll follows the close; Connect after Disonnect runs
    // once the first detection has returned, never nested in it.
    void clicksDuringDetection_data() {
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<int>("step");  // 0: the program ended
        QTest::newRow("Disonnect") << "D" << 1;
        QTest::newRow("EXIT") << "E" << 0;
        QTest::newRow("Disonnect, Connect") << "DC" << 3;
    }
    void clicksDuringDetection() {
        QFETCH(QString, clicks);
        QFETCH(int, step);
        Harness h;
        QVERIFY(h.load());
        watchdog(*h.form);
        int deepest = 0;
        bool clicked = false;
        QTimer during;  // its ticks run nested in the detection's event handling
        QObject::connect(&during, &QTimer::timeout, [&] {
            deepest = std::max(deepest, h->detectionDepth());
            if (h->detectionDepth() != 1 || std::exchange(clicked, true)) return;
            for (QChar c : clicks) (c == u'D' ? h->ComDisconnect : c == u'E' ? h->ComExit : h->ComConnect)->click();
            queue(banner("MS"));  // polled only by a detection started after the close
        });
        during.start(2);
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(clicked);
        QCOMPARE(deepest, 1);
        QCOMPARE(calls().count(QStringLiteral("Close_Com(1)")), 1);
        QCOMPARE(calls().last().startsWith(QStringLiteral("Close_Com")), step != 3);
        QCOMPARE(h->modeCode(), step == 3 ? QStringLiteral("MS") : QString());
        QCOMPARE(h->panelText(1), step == 3 ? QStringLiteral("COM 1 Connected ") : QStringLiteral("COM 1 Disonnected!! "));
        QVERIFY(step == 0 ? !h->Frame_Step3->isEnabled() : inStep(*h.form, step));
        QCOMPARE(h.exits, step == 0 ? std::vector<int>{0} : std::vector<int>{});
    }

    void missingLibraryOrFunction() {
        Harness failed("libno_such_uart_library.so");
        QVERIFY(!failed.load());  // start-up ends with a report
        QCOMPARE(failed.exits, std::vector<int>{1});
        QVERIFY(failed.dialogs->messages.size() == 1 && failed.dialogs->messages[0].contains("libno_such_uart"));
        Harness h("libno_such_uart_library.so");  // Disonnect traps the error; EXIT still ends
        h->init();
        h->Flow_controler(2);
        h->setPanel(1, QStringLiteral("COM 1 Connected "));
        QTest::mouseClick(h->ComDisconnect, Qt::LeftButton);
        QCOMPARE(h.dialogs->messages, std::vector<QString>{QStringLiteral("COM 1 disconnect error!!")});
        QCOMPARE(enabledStates(*h.form), expectedStates(2));
        QVERIFY(h->panelText(1) == QStringLiteral("COM 1 Connected ") && h.exits.empty());
        QTest::mouseClick(h->ComExit, Qt::LeftButton);
        QVERIFY(h.dialogs->messages.size() == 2 && h.exits == std::vector<int>{0});
        Harness noReceive("libfake_uart_noreceive.so");  // Receive_Cmd, first needed by detection, is missing
        QVERIFY(noReceive.load());
        QTest::mouseClick(noReceive->ComConnect, Qt::LeftButton);
        QCOMPARE(noReceive.exits, std::vector<int>{1});
        QVERIFY(noReceive.dialogs->messages.size() == 1 && noReceive.dialogs->messages[0].contains("Receive_Cmd"));
    }

    // The longest texts of each status panel, the progress frame's member line
    // and step 3's captions are not cut, and the panels lie side by side in the window.
    void textsFitTheirControls() {
        Harness h;
        QVERIFY(h.load());
        h->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        auto* panel1 = h->findChild<QLabel*>(QStringLiteral("StatusBar_Main_Panel1"));
        auto* panel2 = h->findChild<QLabel*>(QStringLiteral("StatusBar_Main_Panel2"));
        QVERIFY(panel1 != nullptr && panel2 != nullptr);
        for (const auto& [panel, text] : {std::pair{1, "COM 5 Disonnected!! "}, {2, "Waiting for power restart ...60"},
                                          {2, "Firmware authentication verify ok."}, {2, "Serial adapter disconnected !!"}}) {
            QLabel* label = panel == 1 ? panel1 : panel2;
            h->setPanel(panel, text);
            QCoreApplication::processEvents();  // the bar lays itself out again
            QVERIFY2(label->width() >= label->sizeHint().width(), text);
            QVERIFY2(h->rect().contains(QRect(label->mapTo(h.form.get(), QPoint(0, 0)), label->size())), text);
        }
        QVERIFY(panel1->geometry().right() < panel2->geometry().left());
        pelorim::WindowFrontEnd frontEnd(*h.form);
        frontEnd.progressShown(1, 5);
        frontEnd.memberStarted({std::string(300, 'w') + ".bin", 3, 20, 9000, 400000});
        const QString line = h->MemberLabel->text();
        QVERIFY2(line.startsWith(QStringLiteral("member 3 of 20: ")) && line.endsWith(QStringLiteral(" s left")),
                 qPrintable(line));
        QVERIFY(h->MemberLabel->fontMetrics().horizontalAdvance(line) <= h->MemberLabel->width());
        for (QPushButton* b : {h->ComUploadOS, h->ComUpload}) QVERIFY2(b->sizeHint().width() <= b->width(), qPrintable(b->text()));
    }
};

int runHelperTests(int argc, char** argv);

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    WindowTest test;
    const int failed = QTest::qExec(&test, argc, argv) + runHelperTests(argc, argv);
    std::printf("wizard_tests: %d failed test functions\n", failed);
    return failed == 0 ? 0 : 1;
}

#include "window_test.moc"
