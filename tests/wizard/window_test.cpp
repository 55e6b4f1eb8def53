// The window: start-up state, step controller, timer tick, shut-down, and
// the end of the program on a library that cannot be bound.
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include "harness.h"

using namespace wizard_test;

namespace {

const QString kWarning = QStringLiteral("Warning !!\r\nPlease restart power of device !!");

// Enabled state of every control that the step controller sets, plus ComExit.
QMap<QString, bool> enabledStates(pelorim::Form1& f) {
    QMap<QString, bool> s;
    for (QWidget* w : std::initializer_list<QWidget*>{f.Frame_Step1, f.Label1, f.Combo_ComPort, f.ComConnect,
                                                      f.Frame_Step2, f.Label2[0], f.Label2[1], f.Frame_Step3,
                                                      f.Label2[2], f.ComUploadOS, f.ComUpload, f.ComDisconnect,
                                                      f.ComExit}) {
        s[w->objectName()] = w->isEnabled();
    }
    return s;
}

QMap<QString, bool> expectedStates(int step) {
    const bool s1 = step == 1, s2 = step == 2, s3 = step == 3;
    return {{"Frame_Step1", s1}, {"Label1", s1},        {"Combo_ComPort", s1}, {"ComConnect", s1},
            {"Frame_Step2", s2}, {"Label2_0", s2},      {"Label2_1", s2},      {"Frame_Step3", s3},
            {"Label2_2", s3},    {"ComUploadOS", s3},   {"ComUpload", s3},     {"ComDisconnect", s2 || s3},
            {"ComExit", true}};
}

// Number of clearly red pixels in the caption strip of a frame as drawn.
int redPixelsInCaption(QGroupBox* frame) {
    const QImage image = frame->grab(QRect(0, 0, frame->width(), 18)).toImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 90 && c.blue() < 90) ++red;
        }
    }
    return red;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void startupEnablesStep1Only() {
        Harness h;
        FakeUart fake;
        QVERIFY(fake.ok());
        QVERIFY(h.load());
        QCOMPARE(enabledStates(*h.form), expectedStates(1));
        QCOMPARE(h->Combo_ComPort->currentText(), QStringLiteral("COM 1"));
        QCOMPARE(h->panelText(1), QString());
        QCOMPARE(h->panelText(2), QString());
        QVERIFY(h->Frame1->isHidden());
        QCOMPARE(h->stepFrame(), h->Frame_Step1);
        // Start-up's one serial call: closing port 0, which binds the library.
        QCOMPARE(fake.calls(), QStringList{"Close_Com(0)"});
        QVERIFY(h->uart().Close_Com.bound());
        QVERIFY(h.exits.empty());
        QVERIFY(h.dialogs->messages.empty());
    }

    void startupSetsModuleState() {
        Harness h;
        QVERIFY(h.load());
        QCOMPARE(h->hexFileName(), QStringLiteral("tq318.hex"));
        QCOMPARE(h->authKeyFileName(), QStringLiteral("auth.key"));
        QCOMPARE(h->exeFileName(), QStringLiteral("tq318.exe"));
        QCOMPARE(h->fileListName(), QStringLiteral("file.lst"));
        QCOMPARE(h->loginPassword(), QStringLiteral("quorvelstand83"));
        QCOMPARE(h->loginPassword().size(), 14);
        QCOMPARE(h->modeCode(), QString());
        QCOMPARE(h->osImageTitle(), QString());
        QCOMPARE(h->waitCount(), int16_t(0));
        QCOMPARE(h->waitLimit(), int16_t(60));
        QCOMPARE(h->comPortNo(), int16_t(0));
        QCOMPARE(h->blinkColors()[0], QColor(255, 0, 0));
        QCOMPARE(h->blinkColors()[1], h->palette().color(QPalette::ButtonText));
        // Checksum tables are filled at load.
        QCOMPARE(h->crcTables().hi[1], uint8_t(0xC1));
    }

    void controlsHaveTheirNamesCaptionsAndPlaces() {
        Harness h;
        QVERIFY(h.load());
        pelorim::Form1& f = *h.form;
        QCOMPARE(f.windowTitle(), QStringLiteral("Pelorim Tool "));
        QCOMPARE(f.size(), QSize(308, 469));
        for (const char* name : {"Frame_Step1", "Label1", "Combo_ComPort", "ComConnect", "Frame_Step2", "Label2_0",
                                 "Label2_1", "Frame_Step3", "Label2_2", "ComUploadOS", "ComUpload", "ComDisconnect",
                                 "ComExit", "Frame1", "UploadBar", "Label3", "StatusBar_Main", "Timer1",
                                 "CommonDialog1"}) {
            QVERIFY2(f.findChild<QObject*>(QString::fromLatin1(name)) != nullptr, name);
        }
        QCOMPARE(f.Frame_Step1->title(), QStringLiteral("STEP 1 : Com Port Setting"));
        QCOMPARE(f.Frame_Step2->title(), QStringLiteral("STEP 2 : Switch Checking"));
        QCOMPARE(f.Frame_Step3->title(), QStringLiteral("STEP 3 : Start Repairing"));
        QCOMPARE(f.Label1->text(), QStringLiteral("Please select COM port number and click \"Connect\" button"));
        QCOMPARE(f.Label2[0]->text(), QStringLiteral("1. Change DIP Switch to Repair Mode"));
        QCOMPARE(f.Label2[1]->text(), QStringLiteral("2. Restart Device Power "));
        QCOMPARE(f.Label2[2]->text(), QStringLiteral("Start Repairing process."));
        QCOMPARE(f.ComConnect->text(), QStringLiteral("Connect"));
        QCOMPARE(f.ComUploadOS->text(), QStringLiteral("(1). Repair Tovrane"));
        QCOMPARE(f.ComUpload->text(), QStringLiteral("(2). Repair Firmware"));
        QCOMPARE(f.ComDisconnect->text(), QStringLiteral("Disonnect"));
        QCOMPARE(f.ComExit->text(), QStringLiteral("EXIT"));
        QCOMPARE(f.Label3->text(), QStringLiteral("Loading ..."));
        QCOMPARE(f.Frame1->title(), QString());
        QStringList items;
        for (int i = 0; i < f.Combo_ComPort->count(); ++i) items << f.Combo_ComPort->itemText(i);
        QCOMPARE(items, (QStringList{"COM 1", "COM 2", "COM 3", "COM 4", "COM 5"}));
        QVERIFY(f.Combo_ComPort->isEditable());
        // Twips at 15 a pixel, relative to the container.
        QCOMPARE(f.Frame_Step1->geometry(), QRect(24, 16, 257, 125));
        QCOMPARE(f.Frame_Step3->geometry(), QRect(24, 272, 257, 113));
        QCOMPARE(f.ComConnect->geometry(), QRect(152, 80, 87, 29));
        QCOMPARE(f.ComExit->geometry(), QRect(208, 400, 73, 27));
        QCOMPARE(f.UploadBar->geometry(), QRect(16, 176, 242, 25));
        QCOMPARE(f.ComConnect->parentWidget(), f.Frame_Step1);
        QCOMPARE(f.Label2[2]->parentWidget(), f.Frame_Step3);
        QCOMPARE(f.UploadBar->parentWidget(), f.Frame1);
        QCOMPARE(f.StatusBar_Main->geometry().bottom(), f.height() - 1);
        // Bold step captions, plain texts inside.
        QVERIFY(f.Frame_Step2->font().bold());
        QVERIFY(!f.Label2[0]->font().bold());
        QVERIFY(!f.ComConnect->font().bold());
        QCOMPARE(f.Timer1->interval(), 500);
    }

    void windowOpensCentred() {
        Harness h;
        QVERIFY(h.load());
        h->centreOnScreen();
        const QRect screen = h->screen()->availableGeometry();
        QVERIFY(qAbs(h->geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(h->geometry().center().y() - screen.center().y()) <= 1);
    }

    void timerRunsFromStartupAndBlinksTheCaption() {
        Harness h("libfake_uart.so", /*timer=*/true);
        QVERIFY(h.load());
        QVERIFY(h->Timer1->isActive());
        h->show();
        QTRY_COMPARE_WITH_TIMEOUT(h->captionColor(h->Frame_Step1), QColor(255, 0, 0), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(redPixelsInCaption(h->Frame_Step1) > 20, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(h->captionColor(h->Frame_Step1), h->blinkColors()[1], 2000);
        QTRY_COMPARE_WITH_TIMEOUT(redPixelsInCaption(h->Frame_Step1), 0, 2000);
        // The colour goes on the caption only: the label inside keeps its colour.
        QCOMPARE(h->Label1->palette().color(QPalette::WindowText), h->palette().color(QPalette::WindowText));
    }

    void flowControllerTable_data() {
        QTest::addColumn<int>("step");
        QTest::newRow("step 1") << 1;
        QTest::newRow("step 2") << 2;
        QTest::newRow("step 3") << 3;
    }
    void flowControllerTable() {
        QFETCH(int, step);
        Harness h;
        QVERIFY(h.load());
        // From every other step, to make sure each state is set, not left over.
        for (int from : {1, 2, 3}) {
            h->Flow_controler(static_cast<int16_t>(from));
            h->Flow_controler(static_cast<int16_t>(step));
            QCOMPARE(enabledStates(*h.form), expectedStates(step));
            QCOMPARE(h->stepFrame(), (std::array<QGroupBox*, 3>{h->Frame_Step1, h->Frame_Step2, h->Frame_Step3}[step - 1]));
        }
    }

    void flowControllerIgnoresOtherSteps() {
        Harness h;
        QVERIFY(h.load());
        h->Flow_controler(2);
        const auto before = enabledStates(*h.form);
        for (int16_t step : {int16_t(0), int16_t(4), int16_t(-1), int16_t(5)}) {
            h->Flow_controler(step);
            QCOMPARE(enabledStates(*h.form), before);
            QCOMPARE(h->stepFrame(), h->Frame_Step2);
        }
        h->Timer1_Timer();
        QCOMPARE(h->captionColor(h->Frame_Step2), QColor(255, 0, 0));
        QVERIFY(!h->captionColor(h->Frame_Step1).isValid());
    }

    void tickAlternatesCaptionColour() {
        Harness h;
        QVERIFY(h.load());
        h->setPanel(2, QStringLiteral("unchanged"));
        for (int tick = 0; tick < 6; ++tick) {
            h->Timer1_Timer();
            QCOMPARE(h->captionColor(h->Frame_Step1), h->blinkColors()[tick % 2]);
        }
        // Unarmed count: only the colour changes.
        QCOMPARE(h->panelText(2), QStringLiteral("unchanged"));
        QCOMPARE(h->waitCount(), int16_t(0));
        QVERIFY(h.dialogs->messages.empty());
        // A step change moves the blinking to the new frame.
        h->Flow_controler(3);
        h->Timer1_Timer();
        QCOMPARE(h->captionColor(h->Frame_Step3), QColor(255, 0, 0));
    }

    void armedCountWarnsOnThe60thTickAndRestarts() {
        Harness h;
        QVERIFY(h.load());
        h->setWaitCount(1);
        for (int tick = 1; tick <= 58; ++tick) h->Timer1_Timer();
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...59"));
        h->Timer1_Timer();  // 59th
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...60"));
        QVERIFY(h.dialogs->messages.empty());
        int16_t countWhileOpen = -1;
        h.dialogs->whileOpen = [&](const QString&) { countWhileOpen = h->waitCount(); };
        h->Timer1_Timer();  // 60th: the warning
        QCOMPARE(h.dialogs->messages, std::vector<QString>{kWarning});
        QCOMPARE(countWhileOpen, int16_t(60));  // reset only after it is closed
        QCOMPARE(h->waitCount(), int16_t(1));
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...60"));
        h->Timer1_Timer();
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...2"));
        for (int tick = 0; tick < 59; ++tick) h->Timer1_Timer();
        QCOMPARE(h.dialogs->messages.size(), std::size_t(2));
    }

    void noSecondWarningWhileOneIsOpen() {
        Harness h;
        QVERIFY(h.load());
        h->setWaitCount(60);
        int nestedTicks = 0;
        QColor colourAfterNested;
        h.dialogs->whileOpen = [&](const QString&) {
            if (h.dialogs->messages.size() > 1) return;  // a second warning: recorded, not nested further
            // Ticks that run while the warning is open.
            for (int i = 0; i < 3; ++i) {
                h->Timer1_Timer();
                ++nestedTicks;
            }
            colourAfterNested = h->captionColor(h->Frame_Step1);
        };
        h->Timer1_Timer();
        QCOMPARE(nestedTicks, 3);
        QCOMPARE(h.dialogs->messages.size(), std::size_t(1));
        // The nested ticks still blinked: red, then 3 more changes.
        QCOMPARE(colourAfterNested, h->blinkColors()[1]);
        QCOMPARE(h->waitCount(), int16_t(1));
    }

    void exitBeforeConnectClosesPort0AndEnds() {
        Harness h;
        FakeUart fake;
        QVERIFY(h.load());
        fake.reset();
        h->setPanel(2, QStringLiteral("activity"));
        QTest::mouseClick(h->ComExit, Qt::LeftButton);
        QCOMPARE(fake.calls(), QStringList{"Close_Com(0)"});
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Disonnected!! "));
        QCOMPARE(h->panelText(2), QString());
        QCOMPARE(h.exits, std::vector<int>{0});
        QVERIFY(!h->Timer1->isActive());
    }

    void closingTheWindowShutsDownTheSameWay() {
        Harness h;
        FakeUart fake;
        QVERIFY(h.load());
        h->show();
        fake.reset();
        QVERIFY(h->close());
        QCOMPARE(fake.calls(), QStringList{"Close_Com(0)"});
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Disonnected!! "));
        QCOMPARE(h.exits, std::vector<int>{0});
    }

    void terminationShutsDownTheSameWay() {
        Harness h;
        FakeUart fake;
        QVERIFY(h.load());
        h->Combo_ComPort->setCurrentIndex(3);
        fake.reset();
        h->Form_Terminate();
        QCOMPARE(fake.calls(), QStringList{"Close_Com(0)"});
        QCOMPARE(h->panelText(1), QStringLiteral("COM 4 Disonnected!! "));
        QCOMPARE(h.exits, std::vector<int>{0});
    }

    void missingSerialLibraryEndsStartupWithReport() {
        Harness h("libno_such_uart_library.so");
        QVERIFY(!h.load());
        QCOMPARE(h.exits, std::vector<int>{1});
        QCOMPARE(h.dialogs->messages.size(), std::size_t(1));
        QVERIFY(h.dialogs->messages[0].contains(QStringLiteral("libno_such_uart_library.so")));
    }

    void disconnectTrapsAnUnboundLibrary() {
        Harness h("libno_such_uart_library.so");
        h->init();
        h->Flow_controler(2);
        h->setPanel(1, QStringLiteral("COM 1 Connected "));
        h->setPanel(2, QStringLiteral("activity"));
        QTest::mouseClick(h->ComDisconnect, Qt::LeftButton);
        QCOMPARE(h.dialogs->messages, std::vector<QString>{QStringLiteral("COM 1 disconnect error!!")});
        QCOMPARE(enabledStates(*h.form), expectedStates(2));  // stays in step 2
        QCOMPARE(h->panelText(1), QStringLiteral("COM 1 Connected "));
        QCOMPARE(h->panelText(2), QStringLiteral("activity"));
        QVERIFY(h.exits.empty());  // trapped: the program goes on
        QVERIFY(!h->Disconnect_Act());
    }

    void exitWithUnboundLibraryStillEnds() {
        Harness h("libno_such_uart_library.so");
        h->init();
        h->ComExit_Click();
        QCOMPARE(h.dialogs->messages, std::vector<QString>{QStringLiteral("COM 1 disconnect error!!")});
        QCOMPARE(h.exits, std::vector<int>{0});
    }

    void missingFunctionEndsTheProgramAtItsFirstCall() {
        // Open_Com and Close_Com bind; Receive_Cmd, first needed by detection, does not.
        Harness h("libfake_uart_noreceive.so");
        QVERIFY(h.load());
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QCOMPARE(h.exits, std::vector<int>{1});
        QCOMPARE(h.dialogs->messages.size(), std::size_t(1));
        QVERIFY(h.dialogs->messages[0].contains(QStringLiteral("Receive_Cmd")));
        QCOMPARE(h->waitCount(), int16_t(0));
        QVERIFY(h->Frame_Step2->isEnabled());  // reached step 2, never step 3
    }

    void libraryIsFoundNextToTheExecutable() {
        QCOMPARE(QString::fromStdString(pelorim::executableFolder()), QCoreApplication::applicationDirPath());
        pelorim::SharedLibrary library("libfake_uart.so");
        QVERIFY(library.symbol("Close_Com") != nullptr);
        QVERIFY_THROWS_EXCEPTION(pelorim::BindError, library.symbol("No_Such_Function"));
    }
};

int runWindowTests(int argc, char** argv) {
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
