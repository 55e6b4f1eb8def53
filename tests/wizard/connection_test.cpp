// Opening and closing the port, with the recording fake serial library.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "harness.h"

using namespace wizard_test;

class ConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void init() { fake_.reset(); }

    void connectOpensTheSelectedPort() {
        Harness h;
        QVERIFY(h.load());
        h->Combo_ComPort->setCurrentIndex(2);
        fake_.reset();
        QVERIFY(h->Connect_Act());
        QCOMPARE(fake_.calls(), QStringList{"Open_Com(3,115200,8,0,0)"});
        QCOMPARE(h->comPortNo(), int16_t(3));
        QCOMPARE(h->panelText(1), QStringLiteral("COM 3 Connected "));
        QCOMPARE(h->panelText(2), QString());
        QVERIFY(h.dialogs->messages.empty());
    }

    void refusedOpenShowsFailureAndStaysInStep1() {
        Harness h;
        QVERIFY(h.load());
        h->Combo_ComPort->setCurrentIndex(1);
        h->setPanel(1, QStringLiteral("before"));
        fake_.setOpenResult(5);
        int16_t countDuringMessage = -1;
        h.dialogs->whileOpen = [&](const QString&) { countDuringMessage = h->waitCount(); };
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QCOMPARE(h.dialogs->messages, std::vector<QString>{QStringLiteral("COM 2 Connect Failed !!")});
        QCOMPARE(countDuringMessage, int16_t(1));  // armed for the whole handler
        QCOMPARE(h->waitCount(), int16_t(0));
        QCOMPARE(h->panelText(1), QStringLiteral("before"));
        QCOMPARE(h->comPortNo(), int16_t(2));
        QVERIFY(h->ComConnect->isEnabled());
        QVERIFY(!h->Frame_Step2->isEnabled());
        QVERIFY(!fake_.calls().join(u' ').contains(QStringLiteral("Receive_Cmd")));
    }

    void typedTextSelectsNoItemAndGivesPort0() {
        Harness h;
        QVERIFY(h.load());
        h->Combo_ComPort->lineEdit()->selectAll();
        QTest::keyClicks(h->Combo_ComPort->lineEdit(), QStringLiteral("ttyUSB0"));
        QCOMPARE(h->Combo_ComPort->currentText(), QStringLiteral("ttyUSB0"));
        fake_.reset();
        fake_.setOpenResult(2);
        QVERIFY(!h->Connect_Act());
        QCOMPARE(fake_.calls(), QStringList{"Open_Com(0,115200,8,0,0)"});
        QCOMPARE(h.dialogs->messages, std::vector<QString>{QStringLiteral("ttyUSB0 Connect Failed !!")});
        fake_.setOpenResult(0);
        QVERIFY(h->Connect_Act());
        QCOMPARE(h->panelText(1), QStringLiteral("ttyUSB0 Connected "));
        // Typing an item's exact text selects that item.
        h->Combo_ComPort->lineEdit()->selectAll();
        QTest::keyClicks(h->Combo_ComPort->lineEdit(), QStringLiteral("COM 5"));
        fake_.reset();
        QVERIFY(h->Connect_Act());
        QCOMPARE(fake_.calls(), QStringList{"Open_Com(5,115200,8,0,0)"});
    }

    void disconnectInStep2And3ReturnsToStep1_data() {
        QTest::addColumn<int>("step");
        QTest::newRow("step 2") << 2;
        QTest::newRow("step 3") << 3;
    }
    void disconnectInStep2And3ReturnsToStep1() {
        QFETCH(int, step);
        Harness h;
        QVERIFY(h.load());
        h->Combo_ComPort->setCurrentIndex(3);
        QVERIFY(h->Connect_Act());
        h->Flow_controler(static_cast<int16_t>(step));
        h->setPanel(2, QStringLiteral("MS Master Mode..."));
        fake_.reset();
        QVERIFY(h->ComDisconnect->isEnabled());
        QTest::mouseClick(h->ComDisconnect, Qt::LeftButton);
        QCOMPARE(fake_.calls(), QStringList{"Close_Com(4)"});
        QCOMPARE(h->panelText(1), QStringLiteral("COM 4 Disonnected!! "));
        QCOMPARE(h->panelText(2), QString());
        QVERIFY(h->ComConnect->isEnabled());
        QVERIFY(!h->ComDisconnect->isEnabled());
        QCOMPARE(h->stepFrame(), h->Frame_Step1);
        QCOMPARE(h->comPortNo(), int16_t(4));  // kept for the next close
        QVERIFY(h.exits.empty());
    }

    void detectionPollsWithTheAgreedArguments() {
        Harness h;
        QVERIFY(h.load());
        h->Combo_ComPort->setCurrentIndex(1);
        fake_.reset();
        fake_.queueReceive("");
        fake_.queueReceive("\r\nTQ-318 boot loader\r\n");
        fake_.queueReceive("HALVERN Tovrane V1.2MS repair console\r\n");
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QCOMPARE(fake_.calls(), (QStringList{"Open_Com(2,115200,8,0,0)", "Receive_Cmd(2,1,0,1)", "Receive_Cmd(2,1,0,1)",
                                             "Receive_Cmd(2,1,0,1)"}));
        QCOMPARE(h->modeCode(), QStringLiteral("MS"));
        QCOMPARE(h->panelText(2), QStringLiteral("MS Master Mode..."));
        QCOMPARE(h->waitCount(), int16_t(0));
        QVERIFY(h->ComUploadOS->isEnabled() && h->ComUpload->isEnabled() && h->ComDisconnect->isEnabled());
        QVERIFY(!h->Label2[0]->isEnabled() && !h->Label2[1]->isEnabled());
        // Each poll that received something was shown; the empty one was not.
        QCOMPARE(h.panel2History, (std::vector<QString>{QStringLiteral("\r\nTQ-318 boot loader\r\n"),
                                                        QStringLiteral("HALVERN Tovrane V1.2MS repair console\r\n"),
                                                        QStringLiteral("MS Master Mode...")}));
    }

    void loginSendsThePasswordOncePerPrompt() {
        Harness h;
        QVERIFY(h.load());
        fake_.reset();
        fake_.queueReceive("password:");
        fake_.queueReceive("\r\nLogin incorrect\r\n");
        fake_.queueReceive("password:");
        fake_.queueReceive("HALVERN Tovrane V1.2KX repair console\r\n");
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        const QStringList sends = fake_.calls().filter(QStringLiteral("Send_Cmd"));
        QCOMPARE(sends, (QStringList{"Send_Cmd(1,quorvelstand83,0)", "Send_Cmd(1,quorvelstand83,0)"}));
        QCOMPARE(h->modeCode(), QStringLiteral("KX"));
        QCOMPARE(h.panel2History[0], QStringLiteral("password:"));
        QCOMPARE(h.panel2History[1], QStringLiteral("login ..."));
    }

private:
    FakeUart fake_;
};

int runConnectionTests(int argc, char** argv) {
    ConnectionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "connection_test.moc"
