#include <gtest/gtest.h>

#include <boost/crc.hpp>
#include <random>
#include <vector>

#include "tovrane.h"

namespace {

const uint8_t kCheck[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

// Runs before any test builds the table (each discovered test runs in its own process).
TEST(Crc16Xmodem, GivesZeroUntilTheTableIsBuilt) { EXPECT_EQ(GetCRC16(kCheck, sizeof kCheck), 0); }

TEST(Crc16Xmodem, AgreesWithAnIndependentImplementation) {
    MakeCRC16Table();
    MakeCRC16Table();  // a second build changes nothing
    EXPECT_EQ(GetCRC16(kCheck, sizeof kCheck), 0x31C3);
    EXPECT_EQ(GetCRC16(nullptr, 0), 0);  // count 0 reads nothing
    std::mt19937 rng(318);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> data(rng() % 700);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        boost::crc_optimal<16, 0x1021, 0, 0, false, false> oracle;
        oracle.process_bytes(data.data(), data.size());
        ASSERT_EQ(GetCRC16(data.data(), static_cast<uint32_t>(data.size())), oracle.checksum()) << data.size();
    }
}

}  // namespace
