// The settings and query exports over a scripted exchange: which commands go
// out with which time-outs, and what lands in the caller's buffers for each
// kind of reply, including malformed and hostile ones.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "scripted_exchange.h"
#include "tovrane.h"
#include "uart.h"

namespace {

const std::string kPrompt = "\r\nTQ318-5314A>";
const std::string kErr = "\r\n(null) Error!, Code:";

class Scripted : public ::testing::Test {
protected:
    void TearDown() override { scripted::disarm(); }
    std::array<char, 2048> reply{};
    char* r() { return reply.data(); }
};

// Caller-side buffers for a directory listing: 100 entries each, every buffer
// of its documented size, filled with a marker so that untouched ones show.
struct DirBuffers {
    std::vector<std::unique_ptr<char[]>> storage;
    std::array<std::vector<char*>, 4> arrays;
    DirBuffers() {
        for (int k = 0; k < 4; ++k) {
            const std::size_t size = k == 3 ? TOV_DIR_SIZE_TEXT_SIZE : TOV_DIR_WORD_SIZE;
            arrays[k].resize(TOV_DIR_MAX_ENTRIES);
            for (auto& ptr : arrays[k]) {
                storage.push_back(std::make_unique<char[]>(size));
                std::fill_n(storage.back().get(), size - 1, '#');
                storage.back()[size - 1] = '\0';
                ptr = storage.back().get();
            }
        }
    }
    std::string word(int k, int i) const { return arrays[k][i]; }
    bool untouched(int i) const {
        for (int k = 0; k < 4; ++k) {
            if (arrays[k][i][0] != '#') return false;
        }
        return true;
    }
};

uint16_t dir(uint8_t port, char disk, int32_t* count, DirBuffers& b, char* reply) {
    return TOV_Dir_Tovrane(port, disk, count, b.arrays[0].data(), b.arrays[1].data(), b.arrays[2].data(),
                           b.arrays[3].data(), reply);
}

}  // namespace

// ---- Network settings ----

TEST_F(Scripted, GetIpRunsPrecheckThenCommand) {
    scripted::arm({{0, kPrompt}, {0, "\r\nIP=10.1.2.3" + kPrompt}});
    char value[TOV_VALUE_SIZE] = "";
    EXPECT_EQ(TOV_Get_IP(7, value, r()), 0);
    EXPECT_STREQ(value, "10.1.2.3");
    const auto sent = scripted::sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].command, " ");
    EXPECT_EQ(sent[0].timeout_ms, 1000u);
    EXPECT_EQ(sent[0].end_char, '>');
    EXPECT_EQ(sent[1].command, "ip");
    EXPECT_EQ(sent[1].timeout_ms, 1000u);
    EXPECT_EQ(std::string(r()), "\r\nIP=10.1.2.3" + kPrompt);
}

TEST_F(Scripted, SilentPrecheckStillSendsTheCommand) {
    scripted::arm({{UART_ERR_TIMEOUT, ""}, {0, "\r\nMASK=255.0.0.0" + kPrompt}});
    char value[TOV_VALUE_SIZE] = "";
    EXPECT_EQ(TOV_Get_Mask(7, value, r()), 0);
    EXPECT_STREQ(value, "255.0.0.0");
    EXPECT_EQ(scripted::sent_commands(), (std::vector<std::string>{" ", "mask"}));
}

TEST_F(Scripted, PrecheckReplyWithoutPromptIsPassedOver) {
    scripted::arm({{0, "\r\nTQ318-9000X> "}, {0, "\r\nIP=1.2.3.4" + kPrompt}});
    char value[TOV_VALUE_SIZE] = "";
    EXPECT_EQ(TOV_Get_IP(7, value, r()), 0);
    EXPECT_STREQ(value, "1.2.3.4");
}

TEST_F(Scripted, UnsupportedModelGives55BeforeTheCommand) {
    scripted::arm({{0, "\r\nTQ318-9000X>"}, {0, "\r\nIP=9.9.9.9" + kPrompt}});
    char value[TOV_VALUE_SIZE] = "10.0.0.1";
    EXPECT_EQ(TOV_Set_IP(7, value, r()), TOV_ERR_MODEL);
    EXPECT_EQ(scripted::sent_commands(), (std::vector<std::string>{" "}));
    EXPECT_STREQ(value, "10.0.0.1");
    EXPECT_EQ(std::string(r()), kErr + "55, ");
}

TEST_F(Scripted, ModelTokenInUpperOrLowerCaseIsSupported) {
    for (const std::string model : {"kx2k-x>", "SW-4400>", "x5312A>"}) {
        scripted::arm({{0, model}, {0, "\r\nGateway=1.1.1.1" + kPrompt}});
        char value[TOV_VALUE_SIZE] = "";
        EXPECT_EQ(TOV_Get_Gateway(7, value, r()), 0) << model;
    }
}

TEST_F(Scripted, KeyOnlyInLowerCaseIsNotFound) {
    scripted::arm({{0, kPrompt}, {0, "\r\nip=1.2.3.4" + kPrompt}});
    char value[TOV_VALUE_SIZE] = "old";
    EXPECT_EQ(TOV_Get_IP(7, value, r()), TOV_ERR_GET_IP);
    EXPECT_STREQ(value, "old");
    EXPECT_EQ(std::string(r()), kErr + "57, ");
}

TEST_F(Scripted, KeyWithoutPromptAtTheEndFails) {
    scripted::arm({{0, kPrompt}, {0, "\r\nIP=1.2.3.4" + kPrompt + " "}});
    char value[TOV_VALUE_SIZE] = "old";
    EXPECT_EQ(TOV_Get_IP(7, value, r()), TOV_ERR_GET_IP);
    EXPECT_STREQ(value, "old");
}

TEST_F(Scripted, FailedExchangeNamesTheCommand) {
    scripted::arm({{0, kPrompt}, {UART_ERR_TIMEOUT, "partial"}});
    char value[TOV_VALUE_SIZE] = "10.0.0.9";
    EXPECT_EQ(TOV_Set_Mask(7, value, r()), UART_ERR_TIMEOUT);
    EXPECT_EQ(std::string(r()), "mask 10.0.0.9 Error!, Code:9, ");
}

TEST_F(Scripted, SetFormsSendTheValueAndTakeTheControllersForm) {
    scripted::arm({{0, kPrompt}, {0, "\r\nIP=10.0.0.5" + kPrompt}});
    char ip[TOV_VALUE_SIZE] = "010.000.000.005";
    EXPECT_EQ(TOV_Set_IP(7, ip, r()), 0);
    EXPECT_STREQ(ip, "10.0.0.5");
    const auto sent = scripted::sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].command, "ip 010.000.000.005");
    EXPECT_EQ(sent[1].timeout_ms, 2000u);
}

TEST_F(Scripted, SetGatewayPrechecksWith800) {
    scripted::arm({{0, kPrompt}, {0, "\r\nGateway=10.0.0.254" + kPrompt}});
    char gw[TOV_VALUE_SIZE] = "10.0.0.254";
    EXPECT_EQ(TOV_Set_Gateway(7, gw, r()), 0);
    const auto sent = scripted::sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].timeout_ms, 800u);
    EXPECT_EQ(sent[1].command, "gateway 10.0.0.254");
    EXPECT_EQ(sent[1].timeout_ms, 1000u);
}

TEST_F(Scripted, OverlongValueWordIsCutToTheValueBuffer) {
    scripted::arm({{0, kPrompt}, {0, "\r\nIP=" + std::string(40, '7') + kPrompt}});
    std::array<char, TOV_VALUE_SIZE + 8> value;
    value.fill('#');
    value[0] = '\0';
    EXPECT_EQ(TOV_Get_IP(7, value.data(), r()), 0);
    EXPECT_EQ(std::string(value.data()), std::string(TOV_VALUE_SIZE - 1, '7'));
    for (std::size_t i = TOV_VALUE_SIZE; i < value.size(); ++i) EXPECT_EQ(value[i], '#');
}

TEST_F(Scripted, BadValueTextsAndNullBuffersSendNothing) {
    scripted::arm({{0, kPrompt}, {0, "\r\nIP=1.1.1.1" + kPrompt}});
    std::string too_long(TOV_VALUE_MAX_IN + 1, '1');
    EXPECT_EQ(TOV_Set_IP(7, too_long.data(), r()), TOV_ERR_ARGUMENT);
    EXPECT_EQ(std::string(r()), kErr + "49, ");
    char with_cr[] = "1.1.1.1\rdel";
    EXPECT_EQ(TOV_Set_IP(7, with_cr, r()), TOV_ERR_ARGUMENT);
    EXPECT_EQ(TOV_Get_IP(7, nullptr, r()), TOV_ERR_ARGUMENT);
    char value[TOV_VALUE_SIZE] = "";
    EXPECT_EQ(TOV_Get_Mask(7, value, nullptr), TOV_ERR_ARGUMENT);
    EXPECT_TRUE(scripted::sent().empty());
    // The longest accepted text goes out whole.
    std::string longest(TOV_VALUE_MAX_IN, '1');
    EXPECT_EQ(TOV_Set_Gateway(7, longest.data(), r()), TOV_ERR_SET_GATEWAY);
    ASSERT_EQ(scripted::sent().size(), 2u);
    EXPECT_EQ(scripted::sent()[1].command, "gateway " + std::string(TOV_VALUE_MAX_IN, '1'));
}

// ---- COM port and disk sizes ----

TEST_F(Scripted, SetComSendsTheParityLetter) {
    scripted::arm({{0, "\r\nCOM 2 Set to: 9600,8,o,1" + kPrompt}, {0, "\r\nCOM 2 Set to: x" + kPrompt}});
    EXPECT_EQ(TOV_Set_COM(7, 2, 9600, 8, 2, 1, r()), 0);
    EXPECT_EQ(TOV_Set_COM(7, 3, 115200, 7, 78, 2, r()), 0);
    const auto sent = scripted::sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].command, "setcom 2 9600 8 o 1");
    EXPECT_EQ(sent[0].timeout_ms, 1500u);
    EXPECT_EQ(sent[1].command, "setcom 3 115200 7 N 2");
}

TEST_F(Scripted, SetComRejectsAControlCharacterAsParityAndOverlongLines) {
    scripted::arm({});
    EXPECT_EQ(TOV_Set_COM(7, 1, 9600, 8, 13, 1, r()), TOV_ERR_ARGUMENT);
    EXPECT_EQ(TOV_Set_COM(7, 1, 9600, 8, 0x100, 1, r()), TOV_ERR_ARGUMENT);
    // A line that would not fit the 52-byte command buffer is refused, not cut.
    EXPECT_EQ(TOV_Set_COM(7, INT32_MIN, INT32_MIN, INT32_MIN, 0, INT32_MIN, r()), TOV_ERR_ARGUMENT);
    EXPECT_TRUE(scripted::sent().empty());
}

TEST_F(Scripted, SetComNeedsKeyAndPrompt) {
    scripted::arm({{0, "\r\nCOM 2 Set to: 9600,8,o,1" + kPrompt + " "}, {0, "\r\nUnknown command" + kPrompt}});
    EXPECT_EQ(TOV_Set_COM(7, 2, 9600, 8, 2, 1, r()), TOV_ERR_SET_COM);
    EXPECT_EQ(std::string(r()), kErr + "63, ");
    EXPECT_EQ(TOV_Set_COM(7, 2, 9600, 8, 2, 1, r()), TOV_ERR_SET_COM);
}

TEST_F(Scripted, GetComReadsTheWord) {
    scripted::arm({{0, "\r\nCOM 1 Current set is: 115200,8,0,1" + kPrompt}});
    int32_t baud = -1, data = -1, parity = -1, stop = -1;
    EXPECT_EQ(TOV_Get_COM(7, 1, &baud, &data, &parity, &stop, r()), 0);
    EXPECT_EQ(scripted::sent_commands(), (std::vector<std::string>{"setcom 1"}));
    EXPECT_EQ(scripted::sent()[0].timeout_ms, 1500u);
    EXPECT_EQ(baud, 115200);
    EXPECT_EQ(data, 8);
    EXPECT_EQ(parity, 0);
    EXPECT_EQ(stop, 1);
}

TEST_F(Scripted, GetComTwoFieldsLeaveTheRest) {
    scripted::arm({{0, "\r\nCOM 1 Current set is: 9600,8" + kPrompt}});
    int32_t baud = -1, data = -1, parity = -1, stop = -1;
    EXPECT_EQ(TOV_Get_COM(7, 1, &baud, &data, &parity, &stop, r()), 0);
    EXPECT_EQ(baud, 9600);
    EXPECT_EQ(stop, 8);
    EXPECT_EQ(data, -1);
    EXPECT_EQ(parity, -1);
}

TEST_F(Scripted, GetComWithoutKeyWritesNothing) {
    scripted::arm({{0, "\r\nCOM 1 Current set is:115200,8,0,1" + kPrompt}});
    int32_t baud = -1, data = -1, parity = -1, stop = -1;
    EXPECT_EQ(TOV_Get_COM(7, 1, &baud, &data, &parity, &stop, r()), TOV_ERR_GET_COM);
    EXPECT_EQ(baud, -1);
    EXPECT_EQ(stop, -1);
    EXPECT_EQ(std::string(r()), kErr + "64, ");
    EXPECT_EQ(TOV_Get_COM(7, 1, &baud, nullptr, &parity, &stop, r()), TOV_ERR_ARGUMENT);
    EXPECT_EQ(scripted::sent().size(), 1u);
}

TEST_F(Scripted, DiskSizes) {
    scripted::arm({{0, "\r\nSizeA=2048 SizeB=2048" + kPrompt}, {0, "\r\nSizeA=512" + kPrompt},
                   {0, "\r\nSizeB=512" + kPrompt}});
    EXPECT_EQ(TOV_Set_DiskSize(7, 2048, 2048, r()), 0);
    int32_t a = -1, b = -1;
    EXPECT_EQ(TOV_Get_DiskSize(7, &a, &b, r()), 0);
    EXPECT_EQ(a, 512);
    EXPECT_EQ(b, -1);
    EXPECT_EQ(TOV_Get_DiskSize(7, &a, &b, r()), TOV_ERR_DISK_SIZE);
    EXPECT_EQ(std::string(r()), kErr + "65, ");
    const auto sent = scripted::sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].command, "disksize 2048 2048");
    EXPECT_EQ(sent[0].timeout_ms, 1000u);
    EXPECT_EQ(sent[1].command, "disksize");
    EXPECT_EQ(sent[1].timeout_ms, 600u);
}

// ---- Directory ----

TEST_F(Scripted, DirRetriesOnceAfterAFailedExchange) {
    const std::string listing =
        "\r\nFiles in Disk A:\r\n0) tq318.exe      2026/12/06 12:34:56     0001A\r\n"
        "Total File number is 1\r\nFree space: 1\r\nFiles in Disk B:\r\nTotal File number is 0\r\n"
        "Free space: 2" + kPrompt;
    scripted::arm({{UART_ERR_TIMEOUT, ""}, {0, listing}});
    DirBuffers b;
    int32_t count = -1;
    EXPECT_EQ(dir(7, 'a', &count, b, r()), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(b.word(0, 0), "tq318.exe");
    EXPECT_EQ(b.word(1, 0), "2026/12/06");
    EXPECT_EQ(b.word(2, 0), "12:34:56");
    EXPECT_EQ(b.word(3, 0), "26");
    EXPECT_TRUE(b.untouched(1));
    const auto sent = scripted::sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].command, "dir");
    EXPECT_EQ(sent[1].timeout_ms, 1000u);
}

TEST_F(Scripted, DirTwoFailuresGiveTheCode) {
    scripted::arm({{UART_ERR_TIMEOUT, ""}, {UART_ERR_HANGUP, ""}});
    DirBuffers b;
    int32_t count = -1;
    EXPECT_EQ(dir(7, 'a', &count, b, r()), UART_ERR_HANGUP);
    EXPECT_EQ(std::string(r()), "dir Error!, Code:10, ");
    EXPECT_EQ(count, -1);
}

TEST_F(Scripted, DirDiskBAndCodes) {
    const std::string both = "\r\nFiles in Disk A:\r\nTotal File number is 0\r\nFiles in Disk B:\r\n"
                             "0) b.bin x y" + std::string(32, ' ') + "zz\r\nTotal File number is 1\r\n" + kPrompt;
    for (char disk : {'b', 'B'}) {
        scripted::arm({{0, both}});
        DirBuffers b;
        int32_t count = -1;
        EXPECT_EQ(dir(7, disk, &count, b, r()), 0);
        EXPECT_EQ(count, 1);
        EXPECT_EQ(b.word(0, 0), "b.bin");
        EXPECT_EQ(b.word(3, 0), "") << "no hex digit in the size field gives an empty size text";
    }
    scripted::arm({{0, both + " "}, {0, "Total File number is 0" + kPrompt}, {0, "nothing" + kPrompt}});
    DirBuffers b;
    int32_t count = -1;
    EXPECT_EQ(dir(7, 'a', &count, b, r()), TOV_ERR_DIR_REPLY);
    EXPECT_EQ(std::string(r()), kErr + "62, ");
    EXPECT_EQ(dir(7, 'B', &count, b, r()), TOV_ERR_NO_DISK_B);
    EXPECT_EQ(std::string(r()), kErr + "51, ");
    EXPECT_EQ(dir(7, 'a', &count, b, r()), TOV_ERR_NO_TOTAL);
    EXPECT_EQ(std::string(r()), kErr + "52, ");
    EXPECT_EQ(count, -1);
}

TEST_F(Scripted, DirCountOverAHundredWritesOnlyAHundredEntries) {
    std::string listing;
    for (int i = 0; i < 100; ++i) listing += std::to_string(i) + ") f\r\n";
    listing += "Total File number is 250" + kPrompt;
    ASSERT_LT(listing.size(), 1000u);
    scripted::arm({{0, listing}});
    DirBuffers b;  // exactly 100 pointers per array: ASan reports any entry past 99
    int32_t count = -1;
    EXPECT_EQ(dir(7, 'a', &count, b, r()), 0);
    EXPECT_EQ(count, TOV_DIR_MAX_ENTRIES);
    EXPECT_EQ(b.word(0, 99), "f");
    EXPECT_EQ(b.word(0, 0), "f");
}

TEST_F(Scripted, DirMissingLabelSkippedOverlongWordsCut) {
    const std::string listing = "0) " + std::string(50, 'n') + " d t\r\n2) c.bin d t\r\nTotal File number is 3" +
                                kPrompt;
    scripted::arm({{0, listing}});
    DirBuffers b;
    int32_t count = -1;
    EXPECT_EQ(dir(7, 'a', &count, b, r()), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(b.word(0, 0), std::string(TOV_DIR_WORD_SIZE - 1, 'n'));
    EXPECT_TRUE(b.untouched(1));
    EXPECT_EQ(b.word(0, 2), "c.bin");
}

TEST_F(Scripted, DirNullOutputsSendNothing) {
    scripted::arm({});
    DirBuffers b;
    EXPECT_EQ(dir(7, 'a', nullptr, b, r()), TOV_ERR_ARGUMENT);
    int32_t count = 0;
    EXPECT_EQ(TOV_Dir_Tovrane(7, 'a', &count, nullptr, b.arrays[1].data(), b.arrays[2].data(),
                              b.arrays[3].data(), r()),
              TOV_ERR_ARGUMENT);
    EXPECT_TRUE(scripted::sent().empty());
}

// ---- Free space ----

TEST_F(Scripted, FreeSize) {
    const std::string listing = "\r\nFiles in Disk A:\r\nTotal File number is 0\r\nFree space: 1048576\r\n"
                                "Files in Disk B:\r\nTotal File number is 0\r\nFree space: 3145728" + kPrompt;
    scripted::arm({{0, listing}, {0, listing}});
    char free_a[TOV_FREE_TEXT_SIZE] = "", free_b[TOV_FREE_TEXT_SIZE] = "";
    EXPECT_EQ(TOV_Get_FreeSize(7, 'a', free_a, r()), 0);
    EXPECT_EQ(TOV_Get_FreeSize(7, 'B', free_b, r()), 0);
    EXPECT_STREQ(free_a, "1048576");
    EXPECT_STREQ(free_b, "3145728");
    EXPECT_EQ(scripted::sent()[0].timeout_ms, 3000u);
}

TEST_F(Scripted, FreeSizeWithoutPromptKeepsTheReply) {
    const std::string listing = "\r\nFree space: 1048576";
    scripted::arm({{0, listing}, {0, "\r\nTotal" + kPrompt}, {0, "Free space: 1" + kPrompt}});
    char text[TOV_FREE_TEXT_SIZE] = "old";
    EXPECT_EQ(TOV_Get_FreeSize(7, 'a', text, r()), TOV_ERR_BAD_REPLY);
    EXPECT_EQ(std::string(r()), listing);
    EXPECT_EQ(TOV_Get_FreeSize(7, 'a', text, r()), TOV_ERR_BAD_REPLY);
    EXPECT_EQ(std::string(r()), "\r\nTotal" + kPrompt);
    EXPECT_EQ(TOV_Get_FreeSize(7, 'b', text, r()), TOV_ERR_NO_DISK_B);
    EXPECT_EQ(std::string(r()), kErr + "51, ");
    EXPECT_STREQ(text, "old");
}

// ---- Version ----

const std::string kVer = "\r\nTovrane for TQ318-5314A\r\nFLASH MEMORY: 4MB\r\nVer. 1.23 build 003 Dec 06 2026" + kPrompt;

TEST_F(Scripted, VersionAndProbe) {
    scripted::arm({{0, kVer}, {0, "\r\ndata=50" + kPrompt}});
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    int32_t flag = -1;
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, &flag, r()), 123003);
    EXPECT_STREQ(model, "TQ318-5314A");
    EXPECT_STREQ(date, "Dec/06/2026");
    EXPECT_STREQ(flash, "4MB");
    EXPECT_EQ(flag, 1);
    const auto sent = scripted::sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].command, "ver");
    EXPECT_EQ(sent[0].timeout_ms, 1500u);
    EXPECT_EQ(sent[1].command, "inp 30a");
    EXPECT_EQ(sent[1].timeout_ms, 1200u);
}

TEST_F(Scripted, VersionOneDigitMinor) {
    scripted::arm({{0, "\r\nTovrane for X\r\nVer. 1.5 build 010 Jan 02 2027" + kPrompt}, {0, "data=0" + kPrompt}});
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "keep";
    int32_t flag = -1;
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, &flag, r()), 15010);
    EXPECT_STREQ(flash, "keep");
    EXPECT_EQ(flag, 0);
}

TEST_F(Scripted, Kx2000SetsTheFlagWhateverTheProbeRead) {
    scripted::arm({{0, "\r\nTovrane_UDP for KX2000\r\nVer. 2.01 build 100 a b c" + kPrompt},
                   {0, "\r\ndata=49" + kPrompt}});
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    int32_t flag = -1;
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, &flag, r()), 201100);
    EXPECT_STREQ(model, "KX2000");
    EXPECT_EQ(flag, 1);
}

TEST_F(Scripted, FailedProbeLeavesItsErrorTextAndTheFlag) {
    scripted::arm({{0, kVer}, {UART_ERR_TIMEOUT, ""}});
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    int32_t flag = 7;
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, &flag, r()), 123003);
    EXPECT_EQ(flag, 7);
    EXPECT_EQ(std::string(r()), "inp 30a Error!, Code:9, ");
}

TEST_F(Scripted, ProbeReplyWithoutPromptLeavesTheFlag) {
    scripted::arm({{0, "Tovrane for KX2000\r\nVer. 1.23 build 003 a b c" + kPrompt}, {0, "data=50"}});
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    int32_t flag = 7;
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, &flag, r()), 123003);
    EXPECT_EQ(flag, 7);
}

TEST_F(Scripted, VersionFailuresKeepModelAndFlashAndSkipTheProbe) {
    scripted::arm({{0, "\r\nTovrane for M2\r\nFLASH MEMORY: 8MB\r\n" + kPrompt}, {0, kVer + " "}});
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "old", flash[TOV_FLASH_SIZE] = "";
    int32_t flag = 7;
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, &flag, r()), TOV_ERR_BAD_REPLY);
    EXPECT_STREQ(model, "M2");
    EXPECT_STREQ(flash, "8MB");
    EXPECT_STREQ(date, "old");
    EXPECT_EQ(std::string(r()), kErr + "46, ");
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, &flag, r()), TOV_ERR_BAD_REPLY);
    EXPECT_EQ(scripted::sent_commands(), (std::vector<std::string>{"ver", "ver"}));
    EXPECT_EQ(flag, 7);
}

TEST_F(Scripted, VersionOverlongWordsAreCut) {
    const std::string reply = "\r\nTovrane for " + std::string(60, 'M') + "\r\nFLASH MEMORY: " + std::string(60, 'F') +
                              "\r\nVer. 1.23 build 003 December 0006 20261234567" + kPrompt;
    scripted::arm({{0, reply}, {0, "data=1" + kPrompt}});
    std::array<char, 80> model, date, flash;
    model.fill('#');
    date.fill('#');
    flash.fill('#');
    int32_t flag = 0;
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model.data(), date.data(), flash.data(), &flag, r()), 123003);
    EXPECT_EQ(std::string(model.data()), std::string(TOV_MODEL_SIZE - 1, 'M'));
    EXPECT_EQ(std::string(flash.data()), std::string(TOV_FLASH_SIZE - 1, 'F'));
    EXPECT_EQ(std::string(date.data()), "Dec/000/2026123");
    EXPECT_EQ(model[TOV_MODEL_SIZE], '#');
    EXPECT_EQ(date[TOV_BUILD_DATE_SIZE], '#');
}

TEST_F(Scripted, VersionNullOutputsSendNothing) {
    scripted::arm({});
    char model[TOV_MODEL_SIZE] = "", date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE] = "";
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, nullptr, r()), TOV_ERR_ARGUMENT);
    EXPECT_EQ(TOV_Get_Tovrane_Version(7, model, date, flash, nullptr, nullptr), TOV_ERR_ARGUMENT);
    EXPECT_TRUE(scripted::sent().empty());
}
