// CRC-16/MODBUS, the authentication record checks, and the housekeeping helpers.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/crc.hpp>

#include <random>

#include "auth_record.h"
#include "bas_common.h"
#include "harness.h"
#include "runtime_error.h"

using namespace wizard_test;
using tq318::repair::CrcRegisters;

namespace {

QString makeFile(const QString& path, QFile::Permissions permissions = {}) {
    QFile file(path);
    const bool made = file.open(QIODevice::WriteOnly) && file.write("data") == 4;
    file.close();
    return made && (!permissions || file.setPermissions(permissions)) ? path : QString();
}

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

}  // namespace

class HelpersTest : public QObject {
    Q_OBJECT
    const tq318::repair::CrcTables tables_ = tq318::repair::makeCrcTables();
private slots:
    void agreesWithBoostAndYieldsByTime() {
        const auto data = randomBytes(64u << 20, 7);
        for (std::size_t size : {0u, 1u, 2u, 47u, 4095u, 4096u, 4097u, 100000u})
            for (std::size_t start : {0u, 333u, 9999u})
                QCOMPARE(tq318::repair::modbusCrc(tables_, std::span(data).subspan(start, size)).value(),
                         boostModbus(std::span(data).subspan(start, size)));
        const auto check = tq318::repair::modbusCrc(tables_, {reinterpret_cast<const uint8_t*>("123456789"), 9});
        QVERIFY(check.crcHi == 0x37 && check.crcLo == 0x4B);  // the registers as the record stores them
        // Interval 0: a yield after every 4 KiB chunk, not after every byte; the same result.
        const std::span<const uint8_t> part(data.data(), 1u << 20);
        int yields = 0;
        QCOMPARE(tq318::repair::modbusCrc(tables_, part, {[&] { ++yields; }, std::chrono::nanoseconds(0)}).value(),
                 boostModbus(part));
        tq318::repair::modbusCrc(tables_, part, {[&] { yields = -1; }, std::chrono::hours(1)});  // none before the interval
        QVERIFY(yields > 1 && yields <= static_cast<int>(part.size() / 4096) + 1);
        // The window's sum hands events to the window, and sums only the given length.
        Harness h;
        QVERIFY(h.load());
        bool timerRan = false;
        QTimer::singleShot(0, [&] { timerRan = true; });
        h->CRC16(data, static_cast<int32_t>(data.size()));
        QVERIFY(timerRan);
        QCOMPARE((CrcRegisters{h->crcHi(), h->crcLo()}.value()), boostModbus(data));
        h->CRC16(data, 9);
        QCOMPARE((CrcRegisters{h->crcHi(), h->crcLo()}.value()), boostModbus(std::span(data).first(9)));
    }

    void recordChecks() {
        const auto program = randomBytes(5000, 4);
        auto record = randomBytes(tq318::repair::kAuthRecordSize, 1);
        const CrcRegisters programSum = tq318::repair::modbusCrc(tables_, program);
        std::tie(record[5], record[20]) = std::tie(programSum.crcHi, programSum.crcLo);
        const CrcRegisters recordSum = tq318::repair::modbusCrc(tables_, std::span(record).first(48));
        std::tie(record[48], record[49]) = std::tie(recordSum.crcHi, recordSum.crcLo);
        QVERIFY(record[48] != record[49]);  // so that swapping them changes the record
        QVERIFY(tq318::repair::packageIsAuthentic(tables_, record, program));
        for (std::size_t i = 0; i < tq318::repair::kAuthRecordSize; ++i) {
            auto changed = record;
            changed[i] ^= 0x81;
            QVERIFY2(!tq318::repair::packageIsAuthentic(tables_, changed, program), qPrintable(QString::number(i)));
        }
        auto swapped = record;
        std::swap(swapped[48], swapped[49]);
        QVERIFY(!tq318::repair::recordIsGenuine(tables_, swapped));
        auto longer = record;
        longer.insert(longer.end(), 30, uint8_t(0x5A));  // bytes past 50 are ignored
        QVERIFY(tq318::repair::packageIsAuthentic(tables_, longer, program));
        auto changedProgram = program;
        changedProgram[4999] ^= 0x10;
        QVERIFY(!tq318::repair::packageIsAuthentic(tables_, record, changedProgram));
        for (std::size_t size : {0u, 21u, 49u}) {  // short: fails even with the bytes of a genuine record
            QVERIFY(!tq318::repair::recordIsGenuine(tables_, std::span(record).first(size)));
            QVERIFY(!tq318::repair::programChecksumMatches(std::span(record).first(size), programSum));
        }
    }

    void quotedPathsAndFolders() {
        const std::pair<const char*, const char*> unquoted[] = {
            {"  \"/tmp/a b\"  ", "/tmp/a b"}, {"\"\"x\"\"", "\"x\""}, {"\"half", "\"half"}, {"\"", ""},
            {"\tx\t", "\tx\t"}};
        for (auto [text, expected] : unquoted) QCOMPARE(pelorim::unquotedText(text), QString::fromLatin1(expected));
        QTemporaryDir dir;
        const QString file = makeFile(dir.filePath(QStringLiteral("image file.img")));
        const QString readOnly = makeFile(dir.filePath(QStringLiteral("ro.img")), QFile::ReadOwner);
        const QString fifo = dir.filePath(QStringLiteral("fifo"));  // must not block without a writer
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        const QString d = dir.path();
        const std::pair<QString, bool> paths[] = {
            {file, true}, {"\"" + file + "\"", true}, {"  \"" + file + "\"  ", true}, {file + "/", true},
            {file + "\\", true}, {file + "//", false}, {file + "x", false}, {"", false}, {"\"\"", false},
            {readOnly, true}, {fifo, true}, {d, false}, {d + "/", false}, {d + "\\", false}, {"\"" + d + "/\"", false}};
        for (const auto& [path, expected] : paths)
            QVERIFY2(pelorim::fileCanBeOpened(path) == expected, qPrintable(path));
    }

    void killWinTemp() {
        QTemporaryDir dir;
        const QString target = makeFile(dir.filePath(QStringLiteral("tq318.hex")), QFile::ReadOwner);
        const QString other = makeFile(dir.filePath(QStringLiteral("tq318.exe")));
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("folder.hex"))));
        // Without Windir nothing is touched: not the current folder, not the root.
        const QString probe = QStringLiteral("/pelorim_kill_probe.hex");
        const bool atRoot = ::access("/", W_OK) == 0 && !makeFile(probe).isEmpty();
        const QString previousFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        for (const char* windir : {static_cast<const char*>(nullptr), "", "/", "//"}) {
            if (windir != nullptr) qputenv("Windir", windir); else qunsetenv("Windir");
            Harness h;
            h->killWinTemp(QStringLiteral("tq318.hex"));
            h->killWinTemp(QStringLiteral("pelorim_kill_probe.hex"));
            QVERIFY(QFile::exists(target) && (!atRoot || QFile::exists(probe)));
        }
        if (atRoot) QFile::remove(probe);
        QDir::setCurrent(previousFolder);
        qputenv("Windir", dir.path().toLocal8Bit());
        Harness h;
        h->killWinTemp(QStringLiteral("missing.hex"));
        h->killWinTemp(QStringLiteral("folder.hex"));  // a folder is not a file
        h->killWinTemp(QStringLiteral("tq318.hex"));   // read-only
        qunsetenv("Windir");
        QVERIFY(QFileInfo(dir.filePath("folder.hex")).isDir() && !QFile::exists(target) && QFile::exists(other));
        const QString again = makeFile(dir.filePath(QStringLiteral("again.hex")), QFile::ReadOwner);
        pelorim::killWinTemp(QStringLiteral("again.hex"), dir.path() + QStringLiteral("/"));  // trailing slash
        QVERIFY(!QFile::exists(again));
        pelorim::killWinTemp(QStringLiteral("../tq318.exe"), dir.filePath("folder.hex"));  // not a bare name
        QVERIFY(QFile::exists(other));
        // Files of /proc/self can be opened but not deleted, even by root: a run-time error.
        QVERIFY_THROWS_EXCEPTION(pelorim::FileError,
                                 pelorim::killWinTemp(QStringLiteral("status"), QStringLiteral("/proc/self")));
    }

    void fileFiltersOfTheFlows() {
        QCOMPARE(pelorim::toQtNameFilters(QStringLiteral("IMG Files (*.img)|*.img|All ")),
                 (QStringList{"IMG Files (*.img)", "All (*)"}));
        QCOMPARE(pelorim::toQtNameFilters(QStringLiteral("HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| ")),
                 (QStringList{"HEX Files (*.hex)", "EXE Files (*.exe)", "All (*)"}));
    }
};

int runHelperTests(int argc, char** argv) {
    HelpersTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "helpers_test.moc"
