// CRC-16/MODBUS of the firmware authentication, and the record checks.
#include <QTest>
#include <QTimer>

#include <boost/crc.hpp>

#include <random>
#include <vector>

#include "auth_record.h"
#include "harness.h"
#include "modbus_crc.h"

using namespace wizard_test;
using pelorim::CrcRegisters;

namespace {

std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> randomBytes(std::size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> data(size);
    for (auto& b : data) b = static_cast<uint8_t>(byte(generator));
    return data;
}

uint16_t boostModbus(std::span<const uint8_t> data) {
    boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> crc;
    crc.process_bytes(data.data(), data.size());
    return static_cast<uint16_t>(crc.checksum());
}

// A genuine record for `program`, its two checksum bytes different from each other.
std::vector<uint8_t> genuineRecord(const pelorim::CrcTables& tables, std::span<const uint8_t> program) {
    for (uint32_t seed = 1;; ++seed) {
        std::vector<uint8_t> record = randomBytes(pelorim::kAuthRecordSize, seed);
        const CrcRegisters programSum = pelorim::modbusCrc(tables, program);
        record[5] = programSum.crcHi;
        record[20] = programSum.crcLo;
        const CrcRegisters recordSum = pelorim::modbusCrc(tables, std::span(record).first(48));
        record[48] = recordSum.crcHi;
        record[49] = recordSum.crcLo;
        if (record[48] != record[49]) return record;
    }
}

}  // namespace

class ChecksumTest : public QObject {
    Q_OBJECT
private slots:
    void checkValues() {
        const auto tables = pelorim::makeCrcTables();
        const auto digits = pelorim::modbusCrc(tables, bytesOf("123456789"));
        QCOMPARE(digits.crcHi, uint8_t(0x37));
        QCOMPARE(digits.crcLo, uint8_t(0x4B));
        QCOMPARE(digits.value(), uint16_t(0x4B37));
        const auto abc = pelorim::modbusCrc(tables, bytesOf("abc"));
        QCOMPARE(abc.crcHi, uint8_t(0x49));
        QCOMPARE(abc.crcLo, uint8_t(0x57));
        const auto empty = pelorim::modbusCrc(tables, {});
        QCOMPARE(empty.crcHi, uint8_t(0xFF));
        QCOMPARE(empty.crcLo, uint8_t(0xFF));
    }

    void tableEntries() {
        const auto t = pelorim::makeCrcTables();
        const std::array<uint8_t, 8> hi{0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41};
        const std::array<uint8_t, 8> lo{0x00, 0xC0, 0xC1, 0x01, 0xC3, 0x03, 0x02, 0xC2};
        for (std::size_t i = 0; i < 8; ++i) {
            QCOMPARE(t.hi[i], hi[i]);
            QCOMPARE(t.lo[i], lo[i]);
        }
        QCOMPARE(t.hi[128], uint8_t(0x01));
        QCOMPARE(t.lo[128], uint8_t(0xA0));
        QCOMPARE(t.hi[255], uint8_t(0x40));
        QCOMPARE(t.lo[255], uint8_t(0x40));
    }

    void agreesWithBoostOnRandomData() {
        const auto tables = pelorim::makeCrcTables();
        for (std::size_t size : {1u, 2u, 47u, 255u, 4095u, 4096u, 4097u, 100000u}) {
            for (uint32_t seed = 1; seed <= 5; ++seed) {
                const auto data = randomBytes(size, seed * 7919u + static_cast<uint32_t>(size));
                QCOMPARE(pelorim::modbusCrc(tables, data).value(), boostModbus(data));
            }
        }
    }

    void yieldingByTimeGivesTheSameResult() {
        const auto tables = pelorim::makeCrcTables();
        const auto data = randomBytes(8u << 20, 42);
        int yields = 0;
        // Interval 0: a yield after every chunk, the most interleaving possible.
        const auto withYields = pelorim::modbusCrc(tables, data, {[&] { ++yields; }, std::chrono::nanoseconds(0)});
        QCOMPARE(withYields.value(), boostModbus(data));
        QVERIFY(yields > 1);
        // Not after every byte: at most once per 4 KiB chunk.
        QVERIFY(yields <= static_cast<int>(data.size() / 4096) + 1);
    }

    void formChecksumYieldsToTheWindow() {
        Harness h;
        QVERIFY(h.load());
        const auto data = randomBytes(64u << 20, 7);
        bool timerRan = false;
        QTimer::singleShot(0, [&] { timerRan = true; });
        h->CRC16(data, static_cast<int32_t>(data.size()));
        QVERIFY(timerRan);  // window events were handled during the sum
        QCOMPARE((CrcRegisters{h->crcHi(), h->crcLo()}.value()), boostModbus(data));
    }

    void formChecksumSumsTheGivenLength() {
        Harness h;
        QVERIFY(h.load());
        const auto data = bytesOf("123456789abc");
        h->CRC16(data, 9);
        QCOMPARE(h->crcHi(), uint8_t(0x37));
        QCOMPARE(h->crcLo(), uint8_t(0x4B));
        h->CRC16(data, 0);
        QCOMPARE(h->crcHi(), uint8_t(0xFF));
        QCOMPARE(h->crcLo(), uint8_t(0xFF));
    }

    void genuineRecordPasses() {
        const auto tables = pelorim::makeCrcTables();
        const auto program = randomBytes(5000, 3);
        const auto record = genuineRecord(tables, program);
        QVERIFY(pelorim::recordIsGenuine(tables, record));
        QVERIFY(pelorim::packageIsAuthentic(tables, record, program));
    }

    void everyFlippedRecordByteFails() {
        const auto tables = pelorim::makeCrcTables();
        const auto program = randomBytes(5000, 4);
        const auto record = genuineRecord(tables, program);
        for (std::size_t i = 0; i < pelorim::kAuthRecordSize; ++i) {
            for (uint8_t mask : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
                auto changed = record;
                changed[i] ^= mask;
                QVERIFY2(!pelorim::recordIsGenuine(tables, changed), qPrintable(QString::number(i)));
                QVERIFY(!pelorim::packageIsAuthentic(tables, changed, program));
            }
        }
    }

    void swappedRecordChecksumFails() {
        const auto tables = pelorim::makeCrcTables();
        auto record = genuineRecord(tables, randomBytes(100, 5));
        std::swap(record[48], record[49]);
        QVERIFY(!pelorim::recordIsGenuine(tables, record));
    }

    void bytesAfterTheRecordAreIgnored() {
        const auto tables = pelorim::makeCrcTables();
        const auto program = randomBytes(777, 6);
        auto record = genuineRecord(tables, program);
        for (uint8_t extra : {uint8_t(0x00), uint8_t(0x5A), uint8_t(0xFF)}) {
            auto longer = record;
            longer.insert(longer.end(), 30, extra);
            QVERIFY(pelorim::packageIsAuthentic(tables, longer, program));
        }
    }

    void changedProgramFailsOnlyTheSecondCheck() {
        const auto tables = pelorim::makeCrcTables();
        auto program = randomBytes(10000, 8);
        const auto record = genuineRecord(tables, program);
        for (std::size_t i : {std::size_t(0), std::size_t(4999), std::size_t(9999)}) {
            auto changed = program;
            changed[i] ^= 0x10;
            QVERIFY(pelorim::recordIsGenuine(tables, record));
            QVERIFY(!pelorim::packageIsAuthentic(tables, record, changed));
        }
        auto longer = program;
        longer.push_back(0);
        QVERIFY(!pelorim::packageIsAuthentic(tables, record, longer));
    }

    void shortRecordFails() {
        // Missing bytes are not made up: a record shorter than 50 bytes never passes,
        // even when the bytes it has are those of a genuine record.
        const auto tables = pelorim::makeCrcTables();
        const auto program = randomBytes(64, 9);
        const auto record = genuineRecord(tables, program);
        for (std::size_t size : {std::size_t(0), std::size_t(21), std::size_t(48), std::size_t(49)}) {
            const std::span<const uint8_t> part(record.data(), size);
            QVERIFY(!pelorim::recordIsGenuine(tables, part));
            QVERIFY(!pelorim::packageIsAuthentic(tables, part, program));
            QVERIFY(!pelorim::programChecksumMatches(part, pelorim::modbusCrc(tables, program)));
        }
    }

    void emptyChecksumBytesPassOnlyWhenTheSumMatches() {
        const auto tables = pelorim::makeCrcTables();
        std::vector<uint8_t> record(50, 0);
        record[48] = 0xFF;
        record[49] = 0xFF;
        QVERIFY(!pelorim::recordIsGenuine(tables, record));  // 48 zero bytes do not sum to 0xFFFF
    }
};

int runChecksumTests(int argc, char** argv) {
    ChecksumTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "checksum_test.moc"
