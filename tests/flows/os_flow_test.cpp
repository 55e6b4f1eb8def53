// "(1). Repair Tovrane": choose an image, update the controller's operating
// system, restart it, report, disconnect.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>

#include "flow_support.h"
#include "temp_dir.h"

using namespace flow_test;
using testing_support::write_file;

class OsFlowTest : public QObject {
    Q_OBJECT
private slots:
    void cancelledChoiceSendsNothing() {
        Bench b;
        QVERIFY(b.toStep3());
        QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
        QCOMPARE(b.h.dialogs->messages,
                 (std::vector<QString>{"Can not find OS Image file for repairing!!", "OS Upgrade Failed!!"}));
        QCOMPARE(b.h.dialogs->fileRequests.size(), std::size_t(1));
        QCOMPARE(b.h.dialogs->fileRequests[0].filter, QStringLiteral("IMG Files (*.img)|*.img|All "));
        // Nothing chosen yet in this session: the user's home.
        QCOMPARE(b.h.dialogs->fileRequests[0].initialFolder, QDir::homePath());
        QVERIFY(b.lines().empty());
        QVERIFY(b.h->Frame_Step1->isEnabled());
        QCOMPARE(b.h->panelText(1), QStringLiteral("COM 1 Disonnected!! "));
        QVERIFY(std::find(b.h.panel2History.begin(), b.h.panel2History.end(),
                          QStringLiteral("MS File Checking ...")) != b.h.panel2History.end());
    }

    // The next dialog of the session opens where the last file was chosen.
    void dialogOpensInTheFolderLastUsed() {
        QString folder;
        {
            Bench b;
            QVERIFY(b.toStep3());
            b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "gone.img").string()));
            QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
            folder = QFileInfo(QString::fromStdString((b.files / "gone.img").string())).absolutePath();
        }
        Bench c;
        QVERIFY(c.toStep3());
        QTest::mouseClick(c.h->ComUpload, Qt::LeftButton);
        QCOMPARE(c.h.dialogs->fileRequests.size(), std::size_t(1));
        QCOMPARE(c.h.dialogs->fileRequests[0].initialFolder, folder);
    }

    void missingImageIsReportedBeforeAnythingIsSent() {
        Bench b;
        QVERIFY(b.toStep3());
        b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "gone.img").string()));
        QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
        QCOMPARE(b.h.dialogs->messages, (std::vector<QString>{"File not found !!", "OS Upgrade Failed!!"}));
        QVERIFY(b.lines().empty());
        QCOMPARE(b.h->osImageTitle(), QStringLiteral("gone.img"));
    }

    void noImageToInstallIsAFailure() {
        Bench b;
        QVERIFY(b.toStep3());
        std::string answer = "\r\nNo OS image in memory, please upload it first";
        answer.resize(49, ' ');
        tq318::Faults f;
        f.bios1_answer = answer + ">";  // the 50-character form
        b.sim.set_faults(f);
        write_file(b.files / "tq318.img", randomBytes(700, 12));
        b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "tq318.img").string()));
        QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
        QCOMPARE(b.boxes.texts, std::vector<QString>{"Please Upload first!"});
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"OS Upgrade Failed!!"});
    }

    // Any answer to "bios1" but the finished install is a failure that shows it.
    void installErrorIsAFailureShowingTheAnswer() {
        Bench b;
        QVERIFY(b.toStep3());
        tq318::Faults f;
        f.bios1_answer = "\r\nFlash write error, image NOT installed\r\nTQ318-5314A>";
        b.sim.set_faults(f);
        write_file(b.files / "tq318.img", randomBytes(700, 13));
        b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "tq318.img").string()));
        QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
        QCOMPARE(b.boxes.texts, std::vector<QString>{QString::fromStdString(*f.bios1_answer)});
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"OS Upgrade Failed!!"});
    }

    void fifoAsImageOrPackageIsRefusedAtOnce() {
        for (const bool image : {true, false}) {
            Bench b;
            QVERIFY(b.toStep3());
            const fs::path fifo = b.files / (image ? "tq318.img" : "tq318.hex");
            QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
            b.h.dialogs->fileAnswers.push_back(QString::fromStdString(fifo.string()));
            const auto start = std::chrono::steady_clock::now();
            QTest::mouseClick(image ? b.h->ComUploadOS : b.h->ComUpload, Qt::LeftButton);
            QVERIFY(std::chrono::steady_clock::now() - start < 1s);
            QCOMPARE(b.h.dialogs->messages,
                     image ? (std::vector<QString>{"File not found !!", "OS Upgrade Failed!!"})
                           : (std::vector<QString>{"HEX file Error !!", "Firmware Upgrade Failed!!"}));
            QVERIFY(b.lines().empty());
            QVERIFY(b.tempIsEmpty());
        }
    }

    void successfulUpdateEndsWithReset() {
        Bench b;
        QVERIFY(b.toStep3());
        const std::string image = randomBytes(5000, 11);
        write_file(b.files / "tq318.img", image);
        b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "tq318.img").string()));
        QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});
        QVERIFY(b.boxes.texts.empty());
        QVERIFY(b.sim.uploaded_image().has_value());
        QCOMPARE(*b.sim.uploaded_image(), bytesOf(image));
        const bool reset = b.sim.wait_for_line("reset", 2000ms);
        const auto lines = b.lines();
        QVERIFY(reset);
        QCOMPARE(lines.front(), std::string("upload"));
        QCOMPARE(lines.back(), std::string("inp 30a"));  // after "reset", the version report that proves the restart
        QCOMPARE(std::count(lines.begin(), lines.end(), std::string("reset")), 1);
        QVERIFY(b.sim.image_installed());
        QVERIFY(std::find(b.h.panel2History.begin(), b.h.panel2History.end(), QStringLiteral("Reseting...")) !=
                b.h.panel2History.end());
        QVERIFY(b.h->Frame_Step1->isEnabled());
        QCOMPARE(b.h->osImageTitle(), QStringLiteral("tq318.img"));
    }

    void libraryFailureIsReportedAsFailure() {
        Bench b;
        QVERIFY(b.toStep3());
        tq318::Faults f;
        f.upload_report = "\r\nimage damaged";  // neither "CRC16=" nor the prompt
        b.sim.set_faults(f);
        write_file(b.files / "bad.img", randomBytes(700, 12));
        b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "bad.img").string()));
        QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
        QCOMPARE(b.boxes.texts, std::vector<QString>{"Load receive error"});
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"OS Upgrade Failed!!"});
        // The controller is still restarted into repair mode for another try.
        QVERIFY(b.sim.wait_for_line("reset", 2000ms));
        QVERIFY(!b.sim.image_installed());
        QVERIFY(b.h->Frame_Step1->isEnabled());
    }

    // The controller reports a CRC16 that is not the image's: nothing is
    // installed, and the repair fails.
    void imageCrcMismatchIsNeverInstalled() {
        Bench b;
        QVERIFY(b.toStep3());
        tq318::Faults f;
        f.upload_report = "\r\nImage received, 700 bytes, CRC16=0000\r\nTQ318-5314A>";
        b.sim.set_faults(f);
        write_file(b.files / "crc.img", randomBytes(700, 13));
        b.h.dialogs->fileAnswers.push_back(QString::fromStdString((b.files / "crc.img").string()));
        QTest::mouseClick(b.h->ComUploadOS, Qt::LeftButton);
        QCOMPARE(b.boxes.texts.size(), std::size_t(1));
        QVERIFY2(b.boxes.texts[0].startsWith("Load receive error\nCRC16=0000, file CRC16="), qPrintable(b.boxes.texts[0]));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"OS Upgrade Failed!!"});
        QVERIFY(b.sim.wait_for_line("reset", 2000ms));
        const auto lines = b.lines();
        QVERIFY(std::find(lines.begin(), lines.end(), "bios1") == lines.end());
        QVERIFY(!b.sim.image_installed());
    }
};

int runOsFlowTests(int argc, char** argv) {
    OsFlowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "os_flow_test.moc"
