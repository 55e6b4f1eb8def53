// The settings and query exports end to end: the real uart layer over a
// pseudo-terminal, with the simulated controller at the far end.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tovrane.h"
#include "tq318/simulator.h"
#include "uart.h"

namespace {

using namespace std::chrono_literals;
constexpr std::uint8_t kPort = 7;

class SimExports : public ::testing::Test {
protected:
    void SetUp() override {
        sim_.start();
        ::setenv("UART_COM7", sim_.device_path().c_str(), 1);
        ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), 0);
        ASSERT_TRUE(sim_.wait_for_slave(true, 2s));
        sim_.clear_received_lines();
    }
    void TearDown() override { Close_Com(kPort); }

    std::vector<std::string> lines() const { return sim_.received_lines(); }

    tq318::Simulator sim_;
    std::array<char, 2048> reply_{};
    char* r() { return reply_.data(); }
};

tq318::StoredFile file(const std::string& name, std::size_t size) {
    tq318::StoredFile f;
    f.name = name;
    f.data.assign(size, 0x5A);
    f.year = 2026;
    f.month = 12;
    f.day = 6;
    f.hour = 12;
    f.minute = 34;
    f.seconds2 = 28;
    return f;
}

}  // namespace

TEST_F(SimExports, NetworkSettingsSetAndReadBack) {
    char ip[TOV_VALUE_SIZE] = "010.001.002.003";
    ASSERT_EQ(TOV_Set_IP(kPort, ip, r()), 0) << r();
    EXPECT_STREQ(ip, "10.1.2.3");  // the controller's form: leading zeros dropped
    EXPECT_EQ(sim_.ip(), "10.1.2.3");
    char mask[TOV_VALUE_SIZE] = "255.255.0.0";
    ASSERT_EQ(TOV_Set_Mask(kPort, mask, r()), 0) << r();
    char gw[TOV_VALUE_SIZE] = "10.1.0.254";
    ASSERT_EQ(TOV_Set_Gateway(kPort, gw, r()), 0) << r();

    char value[TOV_VALUE_SIZE] = "";
    ASSERT_EQ(TOV_Get_IP(kPort, value, r()), 0) << r();
    EXPECT_STREQ(value, "10.1.2.3");
    ASSERT_EQ(TOV_Get_Mask(kPort, value, r()), 0) << r();
    EXPECT_STREQ(value, "255.255.0.0");
    ASSERT_EQ(TOV_Get_Gateway(kPort, value, r()), 0) << r();
    EXPECT_STREQ(value, "10.1.0.254");
    EXPECT_EQ(lines(), (std::vector<std::string>{" ", "ip 010.001.002.003", " ", "mask 255.255.0.0", " ",
                                                 "gateway 10.1.0.254", " ", "ip", " ", "mask", " ", "gateway"}));
}

TEST_F(SimExports, InvalidAddressGivesTheSetCode) {
    char ip[TOV_VALUE_SIZE] = "300.1.1.1";
    EXPECT_EQ(TOV_Set_IP(kPort, ip, r()), TOV_ERR_SET_IP);
    EXPECT_STREQ(r(), "\r\n(null) Error!, Code:56, ");
    EXPECT_STREQ(ip, "300.1.1.1");
}

TEST_F(SimExports, UnsupportedModelSendsOnlyThePrecheck) {
    sim_.set_model("TQ318-9000X");
    const std::string before = sim_.ip();
    char ip[TOV_VALUE_SIZE] = "10.9.9.9";
    EXPECT_EQ(TOV_Set_IP(kPort, ip, r()), TOV_ERR_MODEL);
    EXPECT_STREQ(r(), "\r\n(null) Error!, Code:55, ");
    EXPECT_EQ(lines(), (std::vector<std::string>{" "}));
    EXPECT_EQ(sim_.ip(), before);
}

TEST_F(SimExports, SilentPrecheckStillSendsTheCommand) {
    tq318::Faults faults;
    faults.silent = true;
    sim_.set_faults(faults);
    char value[TOV_VALUE_SIZE] = "keep";
    EXPECT_EQ(TOV_Get_Gateway(kPort, value, r()), UART_ERR_TIMEOUT);
    EXPECT_STREQ(r(), "gateway Error!, Code:9, ");
    EXPECT_STREQ(value, "keep");
    EXPECT_EQ(lines(), (std::vector<std::string>{" ", "gateway"}));
}

// Over the real line the uart layer already refuses a reply whose last
// character is not the prompt (the library's own check, code 57, is covered
// with a scripted exchange).
TEST_F(SimExports, ReplyWithKeyButTextAfterThePromptFails) {
    tq318::Faults faults;
    faults.text_after_prompt = " ";
    sim_.set_faults(faults);
    char value[TOV_VALUE_SIZE] = "keep";
    EXPECT_EQ(TOV_Get_IP(kPort, value, r()), UART_ERR_TIMEOUT);
    EXPECT_STREQ(r(), "ip Error!, Code:9, ");
    EXPECT_STREQ(value, "keep");
    EXPECT_EQ(lines(), (std::vector<std::string>{" ", "ip"}));
}

TEST_F(SimExports, ComPortSetAndReadBack) {
    ASSERT_EQ(TOV_Set_COM(kPort, 2, 9600, 7, 2, 2, r()), 0) << r();
    EXPECT_EQ(sim_.com(2), (tq318::ComSetting{9600, 7, 2, 2}));
    int32_t baud = 0, data = 0, parity = -1, stop = 0;
    ASSERT_EQ(TOV_Get_COM(kPort, 2, &baud, &data, &parity, &stop, r()), 0) << r();
    EXPECT_EQ(baud, 9600);
    EXPECT_EQ(data, 7);
    EXPECT_EQ(parity, 2);
    EXPECT_EQ(stop, 2);
    EXPECT_EQ(lines(), (std::vector<std::string>{"setcom 2 9600 7 o 2", "setcom 2"}));
}

TEST_F(SimExports, DiskSizesSetAndReadBack) {
    ASSERT_EQ(TOV_Set_DiskSize(kPort, 2048, 2048, r()), 0) << r();
    int32_t a = 0, b = 0;
    ASSERT_EQ(TOV_Get_DiskSize(kPort, &a, &b, r()), 0) << r();
    EXPECT_EQ(a, 2048);
    EXPECT_EQ(b, 2048);
    EXPECT_EQ(sim_.disk_kib('a'), 2048u);
}

TEST_F(SimExports, DirectoryOfBothDisks) {
    sim_.put_file('a', file("tq318.exe", 26));
    sim_.put_file('a', file("file.lst", 256));
    sim_.put_file('b', file("data.bin", 4096));
    std::vector<std::array<char, TOV_DIR_WORD_SIZE>> w1(TOV_DIR_MAX_ENTRIES), w2(TOV_DIR_MAX_ENTRIES),
        w3(TOV_DIR_MAX_ENTRIES);
    std::vector<std::array<char, TOV_DIR_SIZE_TEXT_SIZE>> sz(TOV_DIR_MAX_ENTRIES);
    std::vector<char*> p1, p2, p3, p4;
    for (int i = 0; i < TOV_DIR_MAX_ENTRIES; ++i) {
        p1.push_back(w1[i].data());
        p2.push_back(w2[i].data());
        p3.push_back(w3[i].data());
        p4.push_back(sz[i].data());
    }
    int32_t count = -1;
    ASSERT_EQ(TOV_Dir_Tovrane(kPort, 'a', &count, p1.data(), p2.data(), p3.data(), p4.data(), r()), 0) << r();
    ASSERT_EQ(count, 2);
    std::vector<std::string> names{w1[0].data(), w1[1].data()};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"file.lst", "tq318.exe"}));
    const int exe = std::string(w1[0].data()) == "tq318.exe" ? 0 : 1;
    EXPECT_STREQ(sz[exe].data(), "26");
    EXPECT_STREQ(w2[exe].data(), "2026/12/06");
    EXPECT_STREQ(w3[exe].data(), "12:34:56");

    for (char disk : {'b', 'B'}) {
        count = -1;
        ASSERT_EQ(TOV_Dir_Tovrane(kPort, disk, &count, p1.data(), p2.data(), p3.data(), p4.data(), r()), 0) << r();
        EXPECT_EQ(count, 1);
        EXPECT_STREQ(w1[0].data(), "data.bin");
        EXPECT_STREQ(sz[0].data(), "4096");
    }
}

TEST_F(SimExports, FreeSpaceOfBothDisks) {
    sim_.put_file('b', file("data.bin", 4096));
    char text[TOV_FREE_TEXT_SIZE] = "";
    ASSERT_EQ(TOV_Get_FreeSize(kPort, 'a', text, r()), 0) << r();
    EXPECT_EQ(std::string(text), std::to_string(sim_.free_bytes('a')));
    ASSERT_EQ(TOV_Get_FreeSize(kPort, 'b', text, r()), 0) << r();
    EXPECT_EQ(std::string(text), std::to_string(sim_.free_bytes('b')));
    EXPECT_LT(sim_.free_bytes('b'), 3u * 1024 * 1024);
}

TEST_F(SimExports, VersionAndProbe) {
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    int32_t flag = -1;
    EXPECT_EQ(TOV_Get_Tovrane_Version(kPort, model, date, flash, &flag, r()), 123003);
    EXPECT_STREQ(model, "TQ318-5314A");
    EXPECT_STREQ(date, "Dec/06/2026");
    EXPECT_STREQ(flash, "4MB");
    EXPECT_EQ(flag, 1);
    sim_.set_probe_data("49");
    EXPECT_EQ(TOV_Get_Tovrane_Version(kPort, model, date, flash, &flag, r()), 123003);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(lines(), (std::vector<std::string>{"ver", "inp 30a", "ver", "inp 30a"}));
}

TEST_F(SimExports, Kx2000ModelSetsTheFlagWhateverTheProbeReads) {
    sim_.set_model("KX2000");
    sim_.set_probe_data("49");
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    int32_t flag = -1;
    EXPECT_EQ(TOV_Get_Tovrane_Version(kPort, model, date, flash, &flag, r()), 123003);
    EXPECT_STREQ(model, "KX2000");
    EXPECT_EQ(flag, 1);
}
