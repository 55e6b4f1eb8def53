// CRC-16/MODBUS against Boost's, the authentication record on what only a
// crafted record holds, and the wizard's path and file helpers as tables.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <boost/crc.hpp>

#include <random>

#include "auth_record.h"
#include "bas_common.h"
#include "harness.h"

namespace repair = tq318::repair;

namespace {

std::vector<uint8_t> randomBytes(std::size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> data(size);
    for (auto& b : data) b = static_cast<uint8_t>(generator() >> 24);
    return data;
}
uint16_t boostModbus(std::span<const uint8_t> data) {
    boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> crc;
    crc.process_bytes(data.data(), data.size());
    return static_cast<uint16_t>(crc.checksum());
}
bool makeFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("data") == 4 && file.setPermissions(QFile::ReadOwner);
}

}  // namespace

class HelpersTest : public QObject {
    Q_OBJECT
    const repair::CrcTables tables_ = repair::makeCrcTables();
private slots:
    // Across the 4 KiB chunks; the window's sum hands events to the window and sums only the given length.
    void checksum() {
        auto data = randomBytes(64u << 20, 7);
        for (std::size_t size : {0u, 1u, 2u, 47u, 4095u, 4096u, 4097u, 100000u})
            for (std::size_t start : {0u, 333u, 9999u})
                QCOMPARE(repair::modbusCrc(tables_, std::span(data).subspan(start, size)).value(),
                         boostModbus(std::span(data).subspan(start, size)));
        wizard_test::Harness h;
        QVERIFY(h.load());
        bool timerRan = false;
        QTimer::singleShot(0, [&] { timerRan = true; });
        h->CRC16(data, static_cast<int32_t>(data.size()));
        QVERIFY(timerRan);
        QCOMPARE((repair::CrcRegisters{h->crcHi(), h->crcLo()}.value()), boostModbus(data));
        std::memcpy(data.data(), "123456789", 9);
        for (const auto& [buffer, length] : {std::pair{std::span(data), 9}, {std::span(data).first(9), 1000}}) {
            h->CRC16(buffer, length);  // 0x4B37, its low byte in crcHi; no byte past the buffer
            QVERIFY(h->crcHi() == 0x37 && h->crcLo() == 0x4B);
        }
    }

    // Any changed byte of the 50 fails; bytes past 50 are ignored; a short
    // record fails even with the bytes of a genuine one.
    void recordChecks() {
        const auto program = randomBytes(5000, 4);
        auto record = randomBytes(repair::kAuthRecordSize, 1);
        const repair::CrcRegisters programSum = repair::modbusCrc(tables_, program);
        std::tie(record[5], record[20]) = std::tie(programSum.crcHi, programSum.crcLo);
        const repair::CrcRegisters recordSum = repair::modbusCrc(tables_, std::span(record).first(48));
        std::tie(record[48], record[49]) = std::tie(recordSum.crcHi, recordSum.crcLo);
        auto longer = record;
        longer.insert(longer.end(), 30, uint8_t(0x5A));
        QVERIFY(repair::packageIsAuthentic(tables_, record, program) && repair::packageIsAuthentic(tables_, longer, program));
        for (std::size_t i = 0; i < repair::kAuthRecordSize; ++i) {
            auto changed = record;
            changed[i] ^= 0x81;
            QVERIFY2(!repair::packageIsAuthentic(tables_, changed, program), qPrintable(QString::number(i)));
        }
        for (std::size_t size : {0u, 21u, 49u}) {
            QVERIFY(!repair::recordIsGenuine(tables_, std::span(record).first(size)));
            QVERIFY(!repair::programChecksumMatches(std::span(record).first(size), programSum));
        }
    }

    void quotedPathsAndFilters() {
        for (auto [text, expected] : {std::pair{"  \"/tmp/a b\"  ", "/tmp/a b"}, {"\"\"x\"\"", "\"x\""},
                                      {"\"half", "\"half"}, {"\"", ""}, {"\tx\t", "\tx\t"}})
            QCOMPARE(pelorim::unquotedText(text), QString::fromLatin1(expected));
        QTemporaryDir dir;
        const QString d = dir.path(), file = d + "/image file.img", fifo = d + "/fifo";
        QVERIFY(makeFile(file));  // read-only
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);  // must not block without a writer
        for (const auto& [path, expected] : std::initializer_list<std::pair<QString, bool>>{
                 {file, true}, {"\"" + file + "\"", true}, {"  \"" + file + "\"  ", true}, {file + "/", true},
                 {file + "\\", true}, {file + "//", false}, {file + "x", false}, {"", false}, {"\"\"", false},
                 {fifo, true}, {d, false}, {d + "/", false}, {d + "\\", false}, {"\"" + d + "/\"", false}})
            QVERIFY2(pelorim::fileCanBeOpened(path) == expected, qPrintable(path));
        QCOMPARE(pelorim::toQtNameFilters(QStringLiteral("IMG Files (*.img)|*.img|All ")),
                 (QStringList{"IMG Files (*.img)", "All (*)"}));
        QCOMPARE(pelorim::toQtNameFilters(QStringLiteral("HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| ")),
                 (QStringList{"HEX Files (*.hex)", "EXE Files (*.exe)", "All (*)"}));
    }

    // The window deletes a read-only file from the folder Windir names; never
    // a folder, a name with a path, or anything when Windir is unset or empty
    // (the current folder) or the root; a delete that fails is a run-time error.
    void killWinTemp() {
        QTemporaryDir dir;
        const QString d = dir.path(), previousFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(d) && makeFile(d + "/tq318.exe") && QDir().mkdir(d + "/folder.hex"));
        const bool atRoot = makeFile("/pelorim_kill_probe.hex");  // when the tests may write there
        for (const auto& [windir, name, gone] : std::initializer_list<std::tuple<QString, QString, bool>>{
                 {"", "k.hex", false}, {"/", "pelorim_kill_probe.hex", false}, {"//", "pelorim_kill_probe.hex", false},
                 {d, "missing.hex", false}, {d, "folder.hex", false}, {d + "/folder.hex", "../k.hex", false},
                 {d, "k.hex", true}, {d + "/", "k.hex", true}}) {
            QVERIFY(makeFile(d + "/k.hex") || QFile::exists(d + "/k.hex"));
            qputenv("Windir", windir.toLocal8Bit());
            wizard_test::Harness().form->killWinTemp(name);
            QVERIFY2(QFile::exists(d + "/k.hex") != gone && QDir(d + "/folder.hex").exists() &&
                         (!atRoot || QFile::exists("/pelorim_kill_probe.hex")), qPrintable(windir + name));
        }
        QVERIFY(QFile::exists(d + "/tq318.exe") && (!atRoot || QFile::remove("/pelorim_kill_probe.hex")));
        qunsetenv("Windir");
        QDir::setCurrent(previousFolder);
        QVERIFY_THROWS_EXCEPTION(pelorim::FileError,  // in /proc/self files open but never go, even for root
                                 pelorim::killWinTemp(QStringLiteral("status"), QStringLiteral("/proc/self")));
    }
};

int runHelperTests(int argc, char** argv) {
    HelpersTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "helpers_test.moc"
