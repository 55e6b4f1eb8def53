// The window over the recording fake serial library (the controls each step
// enables, connect, detection and the ends of a connection, clicks during
// detection, Timer1's blink and reminder, texts that must fit their
// controls), then the checksum, a short authentication record, and the path
// and file-filter helpers.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <boost/crc.hpp>

#include <random>

#include "auth_record.h"
#include "bas_common.h"
#include "engine_bridge.h"
#include "harness.h"

using namespace wizard_test;
namespace repair = tq318::repair;

// The recording fake serial library, linked in: the wizard's binding opens this same instance.
extern "C" const char* FakeUart_Calls();
extern "C" void FakeUart_Reset();
extern "C" void FakeUart_SetOpenResult(uint16_t result);
extern "C" void FakeUart_QueueReceive(const char* text);

namespace {

QStringList calls() { return QString::fromLatin1(FakeUart_Calls()).split(u'\n', Qt::SkipEmptyParts); }
void queue(const QString& text) { FakeUart_QueueReceive(text.toLatin1().constData()); }
QString banner(const char* mode) { return QStringLiteral("HALVERN Tovrane V1.2%1 repair console\r\n").arg(mode); }

// Enabled state of every control the step controller sets, plus ComExit, and the step whose caption blinks.
QList<bool> states(pelorim::Form1& f) {
    QList<bool> s;
    for (QWidget* w : std::initializer_list<QWidget*>{f.Frame_Step1, f.Label1, f.Combo_ComPort, f.ComConnect, f.Frame_Step2,
                                                      f.Label2[0], f.Label2[1], f.Frame_Step3, f.Label2[2],
                                                      f.ComUploadOS, f.ComUpload, f.ComDisconnect, f.ComExit})
        s << w->isEnabled();
    for (QGroupBox* frame : {f.Frame_Step1, f.Frame_Step2, f.Frame_Step3}) s << (f.stepFrame() == frame);
    return s;
}
QList<bool> stepStates(int step) {
    const bool s1 = step == 1, s2 = step == 2, s3 = step == 3;
    return {s1, s1, s1, s1, s2, s2, s2, s3, s3, s3, s3, s2 || s3, true, s1, s2, s3};
}

// Ends the program (exit code 2, which no test expects) after 10 s, which ends a
// detection still running, so that the test fails instead of hanging.
void watchdog(pelorim::Form1& f) { QTimer::singleShot(10000, &f, [&f] { f.endProgram(2); }); }

std::vector<uint8_t> randomBytes(std::size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    std::generate(data.begin(), data.end(), std::mt19937(seed));
    return data;
}

struct ConnectRow {  // the end: D(isonnect), E(XIT), X (closing the window) or T(ermination)
    const char* name; QString typed, mode; int port, openResult; QStringList received; char end;
};
const ConnectRow kConnectRows[] = {
    {"no prompt", "COM 3", "MS", 3, 0, {"", "\r\nboot\r\n", banner("MS")}, 'D'},
    {"prompt per line, typed text", "ttyUSB0", "KX", 0, 0, {"password:", "\r\nLogin incorrect\r\n", "password:", banner("KX")}, 'E'},
    {"prompt in other case", "COM 1", "AB", 1, 0, {"Password:", banner("AB")}, 'X'},
    {"banner after line break or blank", "COM 5", "CD", 5, 0, {"\r\n" + banner("XY"), " " + banner("XY"), banner("CD")}, 'T'},
    {"refused", "COM 2", "", 2, 5, {banner("MS")}, 'D'},
    {"typed text refused, EXIT", "ttyUSB0", "", 0, 2, {banner("MS")}, 'E'}};
}  // namespace

class WizardTest : public QObject {
    Q_OBJECT
    const repair::CrcTables tables_ = repair::makeCrcTables();
private slots:
    void init() { FakeUart_Reset(); }

    // Start-up shows step 1; then steps 1 to 3 set every control from any step, other steps change nothing.
    void startupAndSteps() {
        Harness h("libfake_uart.so", /*timer=*/true);
        QVERIFY(h.load());
        QCOMPARE(states(*h.form), stepStates(1));
        QVERIFY(h->Combo_ComPort->currentText() == "COM 1" && h->panelText(1).isEmpty() && h->panelText(2).isEmpty());
        QVERIFY(h->Frame1->isHidden() && h->Timer1->isActive() && h->Timer1->interval() == 500);
        QCOMPARE(calls(), QStringList{"Close_Com(0)"});  // binds the library at start-up
        QVERIFY(h.exits.empty() && h.dialogs->messages.empty());
        for (int step = 0; step <= 4; ++step) {
            for (int from : {1, 2, 3}) {
                h->Flow_controler(static_cast<int16_t>(from)), h->Flow_controler(static_cast<int16_t>(step));
                QCOMPARE(states(*h.form), stepStates(step >= 1 && step <= 3 ? step : from));
            }
        }
    }

    // The port text typed or chosen, the port it gives (item position + 1; text
    // naming no item: 0), the open result, what the controller sends poll by
    // poll, the mode code taken from its banner, and how the connection ends:
    // Disonnect (disabled when refused), EXIT, closing the window or termination.
    void connectDetectAndEnd_data() {
        QTest::addColumn<std::size_t>("row");
        for (std::size_t i = 0; i < std::size(kConnectRows); ++i) QTest::newRow(kConnectRows[i].name) << i;
    }
    void connectDetectAndEnd() {
        QFETCH(std::size_t, row);
        const auto& [name, typed, mode, port, openResult, received, end] = kConnectRows[row];
        Harness h;
        QVERIFY(h.load());
        h->show();
        h->Combo_ComPort->setEditText(typed);
        h->setPanel(1, QStringLiteral("before"));
        FakeUart_Reset(), FakeUart_SetOpenResult(static_cast<uint16_t>(openResult));
        const bool opens = openResult == 0;
        QStringList expectedCalls{QStringLiteral("Open_Com(%1,115200,8,0,0)").arg(port)};
        std::vector<QString> shown;
        for (const QString& text : received) {
            queue(text);
            if (!opens) continue;
            expectedCalls << QStringLiteral("Receive_Cmd(%1,1,0,1)").arg(port);
            if (!text.isEmpty()) shown.push_back(text);  // an empty poll leaves the panel alone
            if (text.startsWith(QStringLiteral("password:")))
                expectedCalls << QStringLiteral("Send_Cmd(%1,quorvelstand83,0)").arg(port), shown.push_back("login ...");
        }
        if (opens) shown.push_back(mode + QStringLiteral(" Master Mode..."));
        int16_t countWhileOpen = -1;
        h.dialogs->whileOpen = [&](const QString&) { countWhileOpen = h->waitCount(); };
        watchdog(*h.form);
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(h->waitCount() == 0 && countWhileOpen == (opens ? -1 : 1));  // armed for the whole handler
        QCOMPARE(h->modeCode(), mode);
        QCOMPARE(h->panelText(1), opens ? typed + QStringLiteral(" Connected ") : QStringLiteral("before"));
        QCOMPARE(h.dialogs->messages, opens ? std::vector<QString>{} : std::vector{typed + " Connect Failed !!"});
        QCOMPARE(h.panel2History, shown);
        QCOMPARE(states(*h.form), stepStates(opens ? 3 : 1));
        h->setPanel(2, QStringLiteral("activity"));
        if (end == 'X') QVERIFY(h->close());
        else if (end == 'T') h->Form_Terminate();
        else QTest::mouseClick(end == 'D' ? h->ComDisconnect : h->ComExit, Qt::LeftButton);
        const bool closes = opens || end != 'D';
        if (closes) expectedCalls << QStringLiteral("Close_Com(%1)").arg(port);
        QCOMPARE(calls(), expectedCalls);
        QCOMPARE(h->panelText(1), closes ? typed + QStringLiteral(" Disonnected!! ") : QStringLiteral("before"));
        QCOMPARE(h->panelText(2), closes ? QString() : QStringLiteral("activity"));
        QCOMPARE(h.exits, end == 'D' ? std::vector<int>{} : std::vector<int>{0});
        if (end == 'D') QCOMPARE(states(*h.form), stepStates(1));
    }

    // Disonnect while step 2 waits for the banner ends the detection with no
    // poll after the close; Connect clicked then runs once it has returned, never nested in it.
    void disonnectAndConnectDuringDetection() {
        Harness h;
        QVERIFY(h.load());
        watchdog(*h.form);
        int deepest = 0;
        bool clicked = false;
        QTimer during;  // its ticks run nested in the detection's event handling
        QObject::connect(&during, &QTimer::timeout, [&] {
            deepest = std::max(deepest, h->detectionDepth());
            if (h->detectionDepth() != 1 || std::exchange(clicked, true)) return;
            h->ComDisconnect->click(), h->ComConnect->click();
            queue(banner("MS"));  // a poll of the closed port would take it
        });
        during.start(2);
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        QVERIFY(clicked && deepest == 1 && h.exits.empty() && h->modeCode() == "MS");
        QCOMPARE(calls().filter("_Com("), (QStringList{"Close_Com(0)", "Open_Com(1,115200,8,0,0)", "Close_Com(1)", "Open_Com(1,115200,8,0,0)"}));
        QVERIFY(h->panelText(1) == "COM 1 Connected " && states(*h.form) == stepStates(3));
    }

    // Each tick blinks the step's caption; an armed count counts in panel 2
    // and gives one reminder at its 60th tick, however many ticks come while it is open.
    void timerBlinksAndReminds() {
        Harness h;
        QVERIFY(h.load());
        h->Flow_controler(3);
        h->setWaitCount(1);
        for (int tick = 1; tick <= 59; ++tick) {
            h->Timer1_Timer();
            QCOMPARE(h->captionColor(h->Frame_Step3), tick % 2 ? QColor(255, 0, 0) : h->blinkColors()[1]);
        }
        QVERIFY(h->panelText(2) == "Waiting for power restart ...60" && h.dialogs->messages.empty());
        int16_t countWhileOpen = -1;
        QColor colourWhileOpen;
        h.dialogs->whileOpen = [&](const QString&) {
            if (h.dialogs->messages.size() > 1) return;
            for (int i = 0; i < 3; ++i) h->Timer1_Timer();  // ticks while the reminder is open
            countWhileOpen = h->waitCount(), colourWhileOpen = h->captionColor(h->Frame_Step3);
        };
        h->Timer1_Timer();
        QCOMPARE(h.dialogs->messages, std::vector<QString>{"Warning !!\r\nPlease restart power of device !!"});
        QVERIFY(colourWhileOpen == QColor(255, 0, 0) && countWhileOpen == 60);  // nested ticks blink; the count waits
        h->Timer1_Timer();
        QCOMPARE(h->panelText(2), QStringLiteral("Waiting for power restart ...2"));
    }

    // The longest texts of each status panel, the progress frame's member line
    // and step 3's captions are not cut, and the panels lie side by side in the window.
    void textsFitTheirControls() {
        Harness h;
        QVERIFY(h.load());
        h->show();
        const auto panels = h->StatusBar_Main->findChildren<QLabel*>();
        QVERIFY(panels.size() == 2 && panels[0]->geometry().right() < panels[1]->geometry().left());
        for (const auto& [panel, text] : {std::pair{1, "COM 5 Disonnected!! "}, {2, "Waiting for power restart ...60"},
                                          {2, "Firmware authentication verify ok."}, {2, "Serial adapter disconnected !!"}}) {
            h->setPanel(panel, text);
            QCoreApplication::processEvents();  // the bar lays itself out again
            QLabel* label = panels[panel - 1];
            QVERIFY2(label->text() == text && label->width() >= label->sizeHint().width(), text);
            QVERIFY2(h->rect().contains(QRect(label->mapTo(h.form.get(), QPoint(0, 0)), label->size())), text);
        }
        pelorim::WindowFrontEnd frontEnd(*h.form);
        frontEnd.memberStarted({std::string(300, 'w') + ".bin", 3, 20, 9000, 400000});
        const QString line = h->MemberLabel->text();
        QVERIFY2(line.startsWith("member 3 of 20: ") && line.endsWith(" s left") &&
                 h->MemberLabel->fontMetrics().horizontalAdvance(line) <= h->MemberLabel->width(), qPrintable(line));
        for (QPushButton* b : {h->ComUploadOS, h->ComUpload}) QVERIFY2(b->sizeHint().width() <= b->width(), qPrintable(b->text()));
    }

    // CRC-16/MODBUS across the 4 KiB chunks as Boost sums it; the window's
    // registers (the low byte in crcHi) over the given length, within its buffer.
    void checksum() {
        auto data = randomBytes(110000, 7);
        for (std::size_t size : {0u, 1u, 2u, 47u, 4095u, 4096u, 4097u, 100000u})
            for (std::size_t start : {0u, 333u, 9999u}) {
                boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> crc;
                crc.process_bytes(data.data() + start, size);
                QCOMPARE(repair::modbusCrc(tables_, std::span(data).subspan(start, size)).value(), crc.checksum());
            }
        Harness h;
        h->CRC16_Init();
        std::memcpy(data.data(), "123456789", 9);
        for (const auto& [buffer, length] : {std::pair{std::span(data), 9}, {std::span(data).first(9), 1000}}) {
            h->CRC16(buffer, length);  // 0x4B37
            QVERIFY(h->crcHi() == 0x37 && h->crcLo() == 0x4B);
        }
    }

    // A record shorter than 50 bytes fails both checks, even with the bytes of a genuine one.
    void shortRecordFails() {
        std::vector<uint8_t> record(repair::kAuthRecordSize, 0xAB);  // genuine for the registers 0x12, 0x34 ...
        record[repair::kRecordCrcLowOffset] = record[repair::kProgramCrcLowOffset] = 0x12;
        record[repair::kRecordCrcHighOffset] = record[repair::kProgramCrcHighOffset] = 0x34;
        const repair::CrcRegisters sum{0x12, 0x34}, swapped{0x34, 0x12};  // ... and not for them swapped
        QVERIFY(repair::recordChecksumMatches(record, sum) && repair::programChecksumMatches(record, sum));
        QVERIFY(!repair::recordChecksumMatches(record, swapped) && !repair::programChecksumMatches(record, swapped));
        for (std::size_t size : {0u, 21u, 49u})
            QVERIFY(!repair::recordChecksumMatches(std::span(record).first(size), sum) &&
                    !repair::programChecksumMatches(std::span(record).first(size), sum));
    }

    // The package's name is deleted only from the Windows folder, only as a bare name,
    // read-only or not; without a Windows folder nothing is touched, not here, not "/".
    void killWinTemp() {
        QTemporaryDir dir;
        const auto make = [&](const char* name) {
            QFile f(dir.filePath(name));
            return f.open(QIODevice::WriteOnly) && f.setPermissions(QFile::ReadOwner);
        };
        QVERIFY(make("tq318.hex") && make("tq318.exe") && QDir().mkdir(dir.filePath("folder.hex")));
        const QString target = dir.filePath("tq318.hex"), other = dir.filePath("tq318.exe"), before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        for (const char* windir : {static_cast<const char*>(nullptr), "", "/", "//"}) {
            if (windir != nullptr) qputenv("Windir", windir); else qunsetenv("Windir");
            Harness().form->killWinTemp("tq318.hex");
            QVERIFY2(QFile::exists(target), windir);
        }
        QDir::setCurrent(before);
        qputenv("Windir", dir.path().toLocal8Bit());
        Harness h;
        h->killWinTemp("folder.hex");
        h->killWinTemp("tq318.hex");
        qunsetenv("Windir");
        QVERIFY(QFileInfo(dir.filePath("folder.hex")).isDir() && !QFile::exists(target) && QFile::exists(other));
        pelorim::killWinTemp("../tq318.exe", dir.filePath("folder.hex"));
        QVERIFY(QFile::exists(other));
        QVERIFY_THROWS_EXCEPTION(pelorim::FileError, pelorim::killWinTemp("status", "/proc/self"));  // cannot be deleted
    }

    // A path with blanks and quotes around it and one trailing "/" or "\\" names a file
    // that opens; a folder does not, and a FIFO opens without blocking.
    void pathsAndFilters() {
        QTemporaryDir dir;
        const QString d = dir.path(), file = d + "/image file.img", fifo = d + "/fifo";
        QFile readOnly(file);
        QVERIFY(readOnly.open(QIODevice::WriteOnly) && readOnly.setPermissions(QFile::ReadOwner));
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        for (const auto& [path, expected] : std::initializer_list<std::pair<QString, bool>>{
                 {"  \"" + file + "\"  ", true}, {file + "/", true}, {file + "\\", true}, {file + "//", false},
                 {file + "x", false}, {"\"\"", false}, {"\"" + fifo + "\"", true}, {d, false}, {"\"" + d + "/\"", false}})
            QVERIFY2(pelorim::fileCanBeOpened(path) == expected, qPrintable(path));
        QCOMPARE(pelorim::toQtNameFilters("IMG Files (*.img)|*.img|All "), (QStringList{"IMG Files (*.img)", "All (*)"}));
        QCOMPARE(pelorim::toQtNameFilters("HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| "),
                 (QStringList{"HEX Files (*.hex)", "EXE Files (*.exe)", "All (*)"}));
    }

};

QTEST_MAIN(WizardTest)
#include "wizard_test.moc"
