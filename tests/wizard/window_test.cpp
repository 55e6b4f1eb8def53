// The window with the recording fake serial library: start-up, captions, step
// controller, timer tick, connect, detection, disconnect, shut-down, and
// libraries that cannot be bound.
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include "engine_bridge.h"
#include "harness.h"

using namespace wizard_test;

namespace {

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

// Clearly red pixels in the caption strip of a frame as drawn.
int redPixelsInCaption(QGroupBox* frame) {
    const QImage image = frame->grab(QRect(0, 0, frame->width(), 18)).toImage().convertToFormat(QImage::Format_RGB32);
    const auto* p = reinterpret_cast<const QRgb*>(image.constBits());
    return static_cast<int>(std::count_if(p, p + image.sizeInBytes() / 4, [](QRgb c) {
        return qRed(c) > 180 && qGreen(c) < 90 && qBlue(c) < 90;
    }));
}

QString banner(const char* mode) { return QStringLiteral("HALVERN Tovrane V1.2%1 repair console\r\n").arg(mode); }

bool inStep(pelorim::Form1& f, int step) {
    return f.stepFrame() == std::array{f.Frame_Step1, f.Frame_Step2, f.Frame_Step3}[step - 1] &&
           f.stepFrame()->isEnabled();
}

// Ends the program (exit code 2, which no test expects) after 10 s, which ends a
// detection still running, so that the test fails instead of hanging.
void watchdog(pelorim::Form1& f) {
    QTimer::singleShot(10000, &f, [&f] { f.endProgram(2); });
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
    FakeUart fake_;
private slots:
    void init() { fake_.reset(); }

    void startupState() {
        Harness h("libfake_uart.so", /*timer=*/true);
        QVERIFY(fake_.ok() && h.load());
        QCOMPARE(enabledStates(*h.form), expectedStates(1));
        QVERIFY(inStep(*h.form, 1));
        QCOMPARE(h->Combo_ComPort->currentText(), QStringLiteral("COM 1"));
        QVERIFY(h->panelText(1).isEmpty() && h->panelText(2).isEmpty() && h->Frame1->isHidden());
        QVERIFY(h->Timer1->isActive() && h->Timer1->interval() == 500);
        QCOMPARE(fake_.calls(), QStringList{"Close_Com(0)"});  // binds the library at start-up
        QVERIFY(h.exits.empty() && h.dialogs->messages.empty());
    }

    // Steps 1 to 3 set every control from any step; other steps change nothing.
    void flowController_data() {
        QTest::addColumn<int>("step");
        for (int step = 0; step <= 4; ++step) QTest::addRow("step %d", step) << step;
    }
    void flowController() {
        QFETCH(int, step);
        Harness h;
        QVERIFY(h.load());
        for (int from : {1, 2, 3}) {
            h->Flow_controler(static_cast<int16_t>(from));
            h->Flow_controler(static_cast<int16_t>(step));
            const int expected = step >= 1 && step <= 3 ? step : from;
            QCOMPARE(enabledStates(*h.form), expectedStates(expected));
            QVERIFY(inStep(*h.form, expected));
        }
    }

    void tickBlinksTheStepCaption() {
        Harness h;
        QVERIFY(h.load());
        h->show();
        h->setPanel(2, QStringLiteral("unchanged"));
        for (int tick = 0; tick < 4; ++tick) {
            h->Timer1_Timer();
            QCOMPARE(h->captionColor(h->Frame_Step1), h->blinkColors()[tick % 2]);
            if (tick < 2) QCOMPARE(redPixelsInCaption(h->Frame_Step1) > 20, tick == 0);  // drawn, not just stored
        }
        // Only the caption takes the colour; an unarmed count changes nothing else.
        QCOMPARE(h->Label1->palette().color(QPalette::WindowText), h->palette().color(QPalette::WindowText));
        QVERIFY(h->panelText(2) == QStringLiteral("unchanged") && h.dialogs->messages.empty());
        h->Flow_controler(3);
        h->Timer1_Timer();
        QCOMPARE(h->captionColor(h->Frame_Step3), QColor(255, 0, 0));
    }

    void armedCountWarnsOnThe60thTickAndRestarts() {
        Harness h;
        QVERIFY(h.load());
        h->setWaitCount(1);
        for (int tick = 1; tick <= 59; ++tick) h->Timer1_Timer();
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...60"));
        QVERIFY(h.dialogs->messages.empty());
        int16_t countWhileOpen = -1;
        QColor colourWhileOpen;
        h.dialogs->whileOpen = [&](const QString&) {
            if (h.dialogs->messages.size() > 1) return;
            for (int i = 0; i < 3; ++i) h->Timer1_Timer();  // ticks while the warning is open
            countWhileOpen = h->waitCount();
            colourWhileOpen = h->captionColor(h->Frame_Step1);
        };
        h->Timer1_Timer();  // 60th: the warning, and no second one while it is open
        QCOMPARE(h.dialogs->messages, std::vector<QString>{"Warning !!\r\nPlease restart power of device !!"});
        QCOMPARE(colourWhileOpen, h->blinkColors()[0]);  // nested ticks 61 to 63 still blinked
        QCOMPARE(countWhileOpen, int16_t(60));  // the count restarts only once it is closed
        QCOMPARE(h->waitCount(), int16_t(1));
        h->Timer1_Timer();
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...2"));
        for (int tick = 0; tick < 59; ++tick) h->Timer1_Timer();
        QCOMPARE(h.dialogs->messages.size(), std::size_t(2));
    }

    // EXIT, closing the window and termination, before any connect.
    void shutDownClosesPort0_data() {
        QTest::addColumn<int>("how");
        QTest::addColumn<int>("item");
        QTest::newRow("EXIT") << 0 << 0;
        QTest::newRow("close") << 1 << 1;
        QTest::newRow("terminate") << 2 << 3;
    }
    void shutDownClosesPort0() {
        QFETCH(int, how);
        QFETCH(int, item);
        Harness h;
        QVERIFY(h.load());
        h->show();
        h->Combo_ComPort->setCurrentIndex(item);
        h->setPanel(2, QStringLiteral("activity"));
        fake_.reset();
        if (how == 0) QTest::mouseClick(h->ComExit, Qt::LeftButton);
        if (how == 1) QVERIFY(h->close());
        if (how == 2) h->Form_Terminate();
        QCOMPARE(fake_.calls(), QStringList{"Close_Com(0)"});
        QCOMPARE(h->panelText(1), QStringLiteral("COM %1 Disonnected!! ").arg(item + 1));
        QCOMPARE(h->panelText(2), QString());
        QCOMPARE(h.exits, std::vector<int>{0});
        QVERIFY(!h->Timer1->isActive());
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
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Connected "));
        QVERIFY(h.exits.empty());
        QTest::mouseClick(h->ComExit, Qt::LeftButton);
        QCOMPARE(h.dialogs->messages.size(), std::size_t(2));
        QCOMPARE(h.exits, std::vector<int>{0});

        Harness noReceive("libfake_uart_noreceive.so");  // Receive_Cmd, first needed by detection, is missing
        QVERIFY(noReceive.load());
        QTest::mouseClick(noReceive->ComConnect, Qt::LeftButton);
        QCOMPARE(noReceive.exits, std::vector<int>{1});
        QVERIFY(noReceive.dialogs->messages.size() == 1 && noReceive.dialogs->messages[0].contains("Receive_Cmd"));
    }

    // The port text typed or chosen, the port it gives (item position + 1; text
    // naming no item: 0), the open result, what the controller sends poll by
    // poll, and the mode code taken from its banner. Disonnect in step 3 ends each.
    void connectDetectDisconnect_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("openResult");
        QTest::addColumn<QStringList>("received");
        QTest::addColumn<QString>("mode");
        QTest::newRow("no prompt") << "COM 3" << 3 << 0 << QStringList{"", "\r\nboot\r\n", banner("MS")} << "MS";
        QTest::newRow("prompt per line, typed text")
            << "ttyUSB0" << 0 << 0 << QStringList{"password:", "\r\nLogin incorrect\r\n", "password:", banner("KX")}
            << "KX";
        QTest::newRow("prompt in other case") << "COM 1" << 1 << 0 << QStringList{"Password:", banner("AB")} << "AB";
        QTest::newRow("banner after line break or blank")
            << "COM 5" << 5 << 0 << QStringList{"\r\n" + banner("XY"), " " + banner("XY"), banner("CD")} << "CD";
        QTest::newRow("refused") << "COM 2" << 2 << 5 << QStringList{banner("MS")} << "";
        QTest::newRow("typed text refused") << "ttyUSB0" << 0 << 2 << QStringList{banner("MS")} << "";
    }
    void connectDetectDisconnect() {
        QFETCH(QString, typed);
        QFETCH(int, port);
        QFETCH(int, openResult);
        QFETCH(QStringList, received);
        QFETCH(QString, mode);
        Harness h;
        QVERIFY(h.load());
        h->Combo_ComPort->lineEdit()->selectAll();
        QTest::keyClicks(h->Combo_ComPort->lineEdit(), typed);
        h->setPanel(1, QStringLiteral("before"));
        fake_.reset();
        fake_.setOpenResult(static_cast<uint16_t>(openResult));
        QStringList expectedCalls{QStringLiteral("Open_Com(%1,115200,8,0,0)").arg(port)};
        std::vector<QString> shown;
        for (const QString& text : received) {
            fake_.queueReceive(text.toLatin1());
            if (openResult != 0) continue;
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
        const bool opens = openResult == 0;
        QCOMPARE(h->waitCount(), int16_t(0));
        QCOMPARE(h->modeCode(), mode);
        QCOMPARE(h->panelText(1), opens ? typed + QStringLiteral(" Connected ") : QStringLiteral("before"));
        QCOMPARE(h.dialogs->messages, opens ? std::vector<QString>{} : std::vector{typed + " Connect Failed !!"});
        QCOMPARE(countWhileOpen, int16_t(opens ? -1 : 1));  // armed for the whole handler
        QVERIFY(inStep(*h.form, opens ? 3 : 1));
        if (opens) shown.push_back(mode + QStringLiteral(" Master Mode..."));
        QCOMPARE(h.panel2History, shown);
        QTest::mouseClick(h->ComDisconnect, Qt::LeftButton);  // disabled when refused
        if (opens) expectedCalls << QStringLiteral("Close_Com(%1)").arg(port);
        QCOMPARE(fake_.calls(), expectedCalls);
        QCOMPARE(h->panelText(1), opens ? typed + QStringLiteral(" Disonnected!! ") : QStringLiteral("before"));
        QCOMPARE(h->panelText(2), QString());
        QVERIFY(inStep(*h.form, 1) && h.exits.empty());
    }

    // Disonnect (in step 2) or EXIT during detection ends it; no poll follows the close.
    void buttonDuringDetectionEndsIt_data() {
        QTest::addColumn<bool>("exit");
        QTest::newRow("Disonnect") << false;
        QTest::newRow("EXIT") << true;
    }
    void buttonDuringDetectionEndsIt() {
        QFETCH(bool, exit);
        Harness h;
        QVERIFY(h.load());
        watchdog(*h.form);
        Script script({{[&] { return h->detectionDepth() == 1; },
                        [&] {
                            (exit ? h->ComExit : h->ComDisconnect)->click();
                            fake_.queueReceive(banner("MS").toLatin1());  // for a poll that should not come
                        }}});
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(script.finished());
        QCOMPARE(fake_.calls().last(), QStringLiteral("Close_Com(1)"));
        QCOMPARE(h->modeCode(), QString());
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Disonnected!! "));
        QCOMPARE(h->panelText(2), QString());
        QVERIFY(exit ? !h->Frame_Step3->isEnabled() : inStep(*h.form, 1));
        QCOMPARE(h.exits, exit ? std::vector<int>{0} : std::vector<int>{});
    }

    // The longest texts of each status panel are not cut, and panel 2 does not cover panel 1.
    void statusPanelsHoldTheirTexts() {
        Harness h;
        QVERIFY(h.load());
        h->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        const std::pair<int, QString> texts[] = {{1, "COM 5 Disonnected!! "},
                                                 {2, "Waiting for power restart ...60"},
                                                 {2, "Firmware authentication verify ok."},
                                                 {2, "Serial adapter disconnected !!"}};
        for (const auto& [panel, text] : texts) {
            auto* label = h->findChild<QLabel*>(QStringLiteral("StatusBar_Main_Panel%1").arg(panel));
            QVERIFY(label != nullptr);
            h->setPanel(panel, text);
            QCoreApplication::processEvents();  // the bar lays itself out again
            const QFontMetrics metrics(label->font());
            const int indent = label->indent() >= 0 ? label->indent()
                               : label->frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
            QVERIFY2(label->contentsRect().width() - indent >= metrics.horizontalAdvance(text), qPrintable(text));
            QVERIFY2(h->rect().contains(QRect(label->mapTo(h.form.get(), QPoint(0, 0)), label->size())), qPrintable(text));
        }
        QVERIFY(h->findChild<QLabel*>(QStringLiteral("StatusBar_Main_Panel1"))->geometry().right() <
                h->findChild<QLabel*>(QStringLiteral("StatusBar_Main_Panel2"))->geometry().left());
    }

    // The progress frame is opaque, and neither its member line nor a caption of step 3 is cut.
    void progressFrameHidesWhatLiesUnderItAndHoldsItsLines() {
        Harness h;
        QVERIFY(h.load());
        h->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        pelorim::WindowFrontEnd frontEnd(*h.form);
        frontEnd.progressShown(1, 5);
        auto underFrame = [&] { return h->grab(h->Frame1->geometry()).toImage(); };
        for (QLabel* l : {h->Label2[0], h->Label2[1]}) l->setText(QString());
        const QImage blank = underFrame();
        for (QLabel* l : {h->Label2[0], h->Label2[1]}) l->setText(QString(200, QLatin1Char('W')));
        QCOMPARE(underFrame(), blank);
        frontEnd.memberStarted({std::string(300, 'w') + ".bin", 3, 20, 9000, 400000});
        const QString line = h->MemberLabel->text();
        QVERIFY2(line.startsWith(QStringLiteral("member 3 of 20: ")) && line.endsWith(QStringLiteral(" s left")),
                 qPrintable(line));
        QVERIFY(h->MemberLabel->fontMetrics().horizontalAdvance(line) <= h->MemberLabel->width());
        for (QPushButton* b : {h->ComUploadOS, h->ComUpload}) QVERIFY2(b->sizeHint().width() <= b->width(), qPrintable(b->text()));
    }

    void connectDuringDetectionIsNotNested() {
        Harness h;
        QVERIFY(h.load());
        watchdog(*h.form);
        int deepest = 0;
        auto depth = [&] {
            deepest = std::max(deepest, h->detectionDepth());
            return h->detectionDepth();
        };
        Script script({{[&] { return depth() == 1; },
                        [&] {
                            h->ComDisconnect->click();
                            h->ComConnect->click();  // step 1 again: Connect is enabled
                        }},
                       {[&] { return depth() >= 1 && h->panelText(1) == QStringLiteral("COM 1 Connected "); },
                        [&] { fake_.queueReceive(banner("MS").toLatin1()); }}});
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(script.finished());
        QCOMPARE(deepest, 1);
        QVERIFY(inStep(*h.form, 3));
    }
};

int runWindowTests(int argc, char** argv) {
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
