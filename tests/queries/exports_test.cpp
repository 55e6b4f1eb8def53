// The exports over a scripted exchange (which commands go out with which
// time-outs, what lands in the caller's buffers, the error texts). What the
// reply parsers decide is covered in parse_test.cpp; the exports against the
// simulated controller are driven through tovctl (tests/tovctl/tovctl_test.cpp).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tovrane.h"
#include "uart.h"

namespace {

struct Sent { std::string command; std::uint32_t timeout_ms; bool operator==(const Sent&) const = default; };
void PrintTo(const Sent& s, std::ostream* os) { *os << '"' << s.command << "\"/" << s.timeout_ms; }

// While armed, Exchange_Cmd logs each command and answers the next scripted
// reply; an empty one (or none left) answers UART_ERR_TIMEOUT.
bool armed = false;
std::deque<std::string> answers;
std::vector<Sent> sent;
std::string end_chars;

void arm(const std::vector<std::string>& a) {
    answers.assign(a.begin(), a.end()), sent.clear(), end_chars.clear(), armed = true;
}

}  // namespace

extern "C" uint16_t Exchange_Cmd(uint8_t port, const char* command, char* reply, uint32_t capacity,
                                 uint32_t timeout_ms, int16_t flag, uint16_t* scratch, char end_char) {
    if (!armed) {
        using Fn = uint16_t (*)(uint8_t, const char*, char*, uint32_t, uint32_t, int16_t, uint16_t*, char);
        static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "Exchange_Cmd"));
        return real(port, command, reply, capacity, timeout_ms, flag, scratch, end_char);
    }
    sent.push_back({command, timeout_ms});
    end_chars += end_char;
    const std::string a = answers.empty() ? "" : answers.front();
    if (!answers.empty()) answers.pop_front();
    const std::size_t n = std::min<std::size_t>(a.size(), capacity - 1);
    std::memcpy(reply, a.data(), n);
    reply[n] = '\0';
    return a.empty() ? UART_ERR_TIMEOUT : 0;
}

namespace {

const std::string kPrompt = "\r\nTQ318-5314A>";
const std::string kErr = "\r\n(null) Error!, Code:";
const std::vector<Sent> kVer{{"ver", 1500}, {"inp 30a", 1200}};

class Scripted : public ::testing::Test {
protected:
    void TearDown() override { armed = false; }
    std::array<char, 2048> reply{};
    char* r() { return reply.data(); }
    std::string text() const { return reply.data(); }
};

// 80 bytes of '#' after `initial`: intact(n) is true while nothing from byte n on changed.
struct Guarded {
    std::array<char, 80> b;
    explicit Guarded(const std::string& initial = "") {
        b.fill('#');
        std::memcpy(b.data(), initial.c_str(), initial.size() + 1);
    }
    std::string str() const { return b.data(); }
    bool intact(std::size_t n) const { return std::all_of(b.begin() + n, b.end(), [](char c) { return c == '#'; }); }
};

// 100 entries per directory array, each of its documented size plus guard bytes.
struct DirBuffers {
    std::vector<Guarded> cells{4 * TOV_DIR_MAX_ENTRIES};
    std::array<std::vector<char*>, 4> p;
    DirBuffers() {
        for (int i = 0; i < 4 * TOV_DIR_MAX_ENTRIES; ++i) p[i / TOV_DIR_MAX_ENTRIES].push_back(cells[i].b.data());
        for (auto& c : cells) c.b[0] = '#';  // all '#': written words show
    }
    const Guarded& at(int k, int i) const { return cells[k * TOV_DIR_MAX_ENTRIES + i]; }
    bool untouched(int i) const { return std::ranges::all_of(p, [&](auto& a) { return a[i][0] == '#'; }); }
    uint16_t dir(char disk, int32_t* count, char* reply) {
        return TOV_Dir_Tovrane(7, disk, count, p[0].data(), p[1].data(), p[2].data(), p[3].data(), reply);
    }
};

}  // namespace

TEST_F(Scripted, NetworkSettings) {
    struct Row {  // no command: only the pre-check went out
        uint16_t (*fn)(uint8_t, char*, char*);
        std::string value, precheck, answer;
        std::uint16_t code;
        std::string value_after, command;
        std::uint32_t pre_ms, cmd_ms;
        std::string reply = "";
    };
    const std::string longest(TOV_VALUE_MAX_IN, '1'), ip = "\r\nIP=1.2.3.4" + kPrompt;
    const std::vector<Row> rows{
        {TOV_Get_IP, "", kPrompt, ip, 0, "1.2.3.4", "ip", 1000, 1000, ip},
        {TOV_Get_Mask, "", "", "\r\nMASK=255.0.0.0" + kPrompt, 0, "255.0.0.0", "mask", 1000, 1000},  // silent
        {TOV_Get_IP, "", "\r\nTQ318-9000X> ", ip, 0, "1.2.3.4", "ip", 1000, 1000},  // prompt not last
        {TOV_Set_IP, "10.0.0.1", "\r\nTQ318-9000X>", ip, TOV_ERR_MODEL, "10.0.0.1", "", 1000, 0, kErr + "55, "},
        {TOV_Get_Gateway, "", "kx2k-x>", "Gateway=1.1.1.1" + kPrompt, 0, "1.1.1.1", "gateway", 1000, 1000},
        {TOV_Get_Gateway, "", "SW-4400>", "Gateway=1.1.1.1" + kPrompt, 0, "1.1.1.1", "gateway", 1000, 1000},
        {TOV_Get_Gateway, "", "x5312A>", "Gateway=1.1.1.1" + kPrompt, 0, "1.1.1.1", "gateway", 1000, 1000},
        {TOV_Get_IP, "old", kPrompt, "\r\nip=1.2.3.4" + kPrompt, TOV_ERR_GET_IP, "old", "ip", 1000, 1000, kErr + "57, "},
        {TOV_Get_IP, "old", kPrompt, ip + " ", TOV_ERR_GET_IP, "old", "ip", 1000, 1000, kErr + "57, "},
        {TOV_Set_Mask, "10.0.0.9", kPrompt, "", UART_ERR_TIMEOUT, "10.0.0.9", "mask 10.0.0.9", 1000, 1000,
         "mask 10.0.0.9 Error!, Code:9, "},
        {TOV_Set_IP, "010.000.000.005", kPrompt, "\r\nIP=10.0.0.5" + kPrompt, 0, "10.0.0.5", "ip 010.000.000.005",
         1000, 2000},  // set forms take the controller's form
        {TOV_Set_IP, "300.1.1.1", kPrompt, "\r\nBad" + kPrompt, TOV_ERR_SET_IP, "300.1.1.1", "ip 300.1.1.1", 1000,
         2000, kErr + "56, "},
        {TOV_Set_Gateway, "10.0.0.254", kPrompt, "\r\nGateway=10.0.0.254" + kPrompt, 0, "10.0.0.254",
         "gateway 10.0.0.254", 800, 1000},
        {TOV_Set_Gateway, longest, kPrompt, ip, TOV_ERR_SET_GATEWAY, longest, "gateway " + longest, 800, 1000,
         kErr + "60, "},  // the longest accepted text goes out whole, and fits the console's 52 bytes
        {TOV_Get_IP, "", kPrompt, "\r\nIP=" + std::string(40, '7') + kPrompt, 0, std::string(TOV_VALUE_SIZE - 1, '7'),
         "ip", 1000, 1000},
    };
    EXPECT_LE(("gateway " + longest).size() + 1, 52u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        arm({row.precheck, row.answer});
        Guarded value(row.value);
        EXPECT_EQ(row.fn(7, value.b.data(), r()), row.code);
        EXPECT_EQ(value.str(), row.value_after);
        EXPECT_TRUE(value.intact(std::max<std::size_t>(TOV_VALUE_SIZE, row.value.size() + 1)));
        std::vector<Sent> want{{" ", row.pre_ms}};
        if (!row.command.empty()) want.push_back({row.command, row.cmd_ms});
        EXPECT_EQ(sent, want);
        EXPECT_EQ(end_chars, std::string(want.size(), '>'));
        EXPECT_EQ(row.reply.empty() ? row.reply : text(), row.reply);
    }
}

TEST_F(Scripted, ArgumentsRefusedWithNothingSent) {
    char value[TOV_VALUE_SIZE] = "1.1.1.1", with_cr[] = "1.1.1.1\rdel";
    std::string too_long(TOV_VALUE_MAX_IN + 1, '1');
    Guarded model, date, flash;
    int32_t n = 0;
    DirBuffers b;
    // Each export writes its own error text; with a null reply nothing is written anywhere.
    const std::string err = kErr + "49, ", none = "untouched";
    const std::vector<std::pair<std::function<int32_t()>, std::string>> calls{
        {[&] { return TOV_Set_IP(7, too_long.data(), r()); }, err},
        {[&] { return TOV_Set_IP(7, with_cr, r()); }, err},
        {[&] { return TOV_Get_IP(7, nullptr, r()); }, err},
        {[&] { return TOV_Get_Mask(7, value, nullptr); }, none},
        {[&] { return TOV_Get_COM(7, 1, &n, nullptr, &n, &n, r()); }, err},
        {[&] { return TOV_Set_COM(7, 1, 9600, 8, 13, 1, r()); }, err},     // a control character as parity
        {[&] { return TOV_Set_COM(7, 1, 9600, 8, 0x100, 1, r()); }, err},  // parity letter NUL
        // A line that would not fit the 52-byte command buffer is refused, not cut.
        {[&] { return TOV_Set_COM(7, INT32_MIN, INT32_MIN, INT32_MIN, 0, INT32_MIN, r()); }, err},
        {[&] { return b.dir('a', nullptr, r()); }, err},
        {[&] { return TOV_Dir_Tovrane(7, 'a', &n, nullptr, b.p[1].data(), b.p[2].data(), b.p[3].data(), r()); }, err},
        {[&] { return b.dir('a', &n, nullptr); }, none},
        {[&] { return TOV_Get_FreeSize(7, 'a', nullptr, r()); }, err},
        {[&] { return TOV_Get_FreeSize(7, 'a', value, nullptr); }, none},
        {[&] { return TOV_Del_All_Files(7, 'a', nullptr); }, none},
        {[&] { return TOV_Get_Tovrane_Version(7, model.b.data(), date.b.data(), flash.b.data(), nullptr, r()); }, err},
        {[&] { return TOV_Get_Tovrane_Version(7, model.b.data(), date.b.data(), flash.b.data(), &n, nullptr); }, none},
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        arm({kPrompt, "\r\nIP=1.1.1.1" + kPrompt});
        std::snprintf(r(), reply.size(), "%s", none.c_str());
        EXPECT_EQ(calls[i].first(), TOV_ERR_ARGUMENT);
        EXPECT_TRUE(sent.empty());
        EXPECT_EQ(text(), calls[i].second);
    }
}

TEST_F(Scripted, ComPortAndDiskSizes) {
    const std::string set_to = "\r\nCOM 2 Set to: 9600,8,o,1" + kPrompt;
    arm({set_to, set_to, set_to + " ", "\r\nUnknown command" + kPrompt});
    EXPECT_EQ(TOV_Set_COM(7, 2, 9600, 8, 2, 1, r()), 0);
    EXPECT_EQ(TOV_Set_COM(7, 3, 115200, 7, 78, 2, r()), 0);
    EXPECT_EQ(TOV_Set_COM(7, 2, 9600, 8, 2, 1, r()) + TOV_Set_COM(7, 2, 9600, 8, 2, 1, r()), 2 * TOV_ERR_SET_COM);
    EXPECT_EQ(text(), kErr + "63, ");
    EXPECT_EQ(std::vector<Sent>(sent.begin(), sent.begin() + 2),
              (std::vector<Sent>{{"setcom 2 9600 8 o 1", 1500}, {"setcom 3 115200 7 N 2", 1500}}));
    const std::pair<std::string, std::array<int32_t, 4>> get_rows[] = {
        {" 115200,8,0,1", {115200, 8, 0, 1}}, {" 9600,8", {9600, -1, -1, 8}}, {"115200,8,0,1", {-1, -1, -1, -1}}};
    for (const auto& [word, want] : get_rows) {
        arm({"\r\nCOM 1 Current set is:" + word + kPrompt});
        std::array<int32_t, 4> got{-1, -1, -1, -1};
        EXPECT_EQ(TOV_Get_COM(7, 1, &got[0], &got[1], &got[2], &got[3], r()), word[0] == ' ' ? 0 : TOV_ERR_GET_COM);
        EXPECT_EQ(got, want) << word;
        EXPECT_EQ(sent, (std::vector<Sent>{{"setcom 1", 1500}}));
    }
    EXPECT_EQ(text(), kErr + "64, ");

    arm({"\r\nSizeA=2048 SizeB=2048" + kPrompt, "\r\nSizeA=512" + kPrompt, "\r\nSizeB=512" + kPrompt});
    EXPECT_EQ(TOV_Set_DiskSize(7, 2048, 2048, r()), 0);
    int32_t a = -1, b = -1;
    EXPECT_EQ(TOV_Get_DiskSize(7, &a, &b, r()), 0);
    EXPECT_EQ(a, 512);
    EXPECT_EQ(b, -1);
    EXPECT_EQ(TOV_Get_DiskSize(7, &a, &b, r()), TOV_ERR_DISK_SIZE);
    EXPECT_EQ(text(), kErr + "65, ");
    EXPECT_EQ(sent, (std::vector<Sent>{{"disksize 2048 2048", 1000}, {"disksize", 600}, {"disksize", 600}}));
}

TEST_F(Scripted, DirAndFreeSizeExchanges) {
    const std::string listing = "\r\nFiles in Disk A:\r\nTotal File number is 0\r\nFree space: 1048576\r\n"
                                "Files in Disk B:\r\nTotal File number is 0\r\nFree space: 3145728" + kPrompt;
    arm({"", listing, "", "", listing, "\r\nFree space: 1048576", "\r\nTotal" + kPrompt});
    DirBuffers b;
    int32_t count = -1;
    EXPECT_EQ(b.dir('a', &count, r()), 0);  // retried once after a failed exchange
    EXPECT_EQ(count, 0);
    count = -1;
    EXPECT_EQ(b.dir('a', &count, r()), UART_ERR_TIMEOUT);
    EXPECT_EQ(text(), "dir Error!, Code:9, ");
    EXPECT_EQ(count, -1);
    char free_b[TOV_FREE_TEXT_SIZE] = "", old[TOV_FREE_TEXT_SIZE] = "old";
    EXPECT_EQ(TOV_Get_FreeSize(7, 'B', free_b, r()), 0);
    EXPECT_STREQ(free_b, "3145728");
    // Without the prompt or the key the reply is kept as it came.
    EXPECT_EQ(TOV_Get_FreeSize(7, 'a', old, r()), TOV_ERR_BAD_REPLY);
    EXPECT_EQ(text(), "\r\nFree space: 1048576");
    EXPECT_EQ(TOV_Get_FreeSize(7, 'a', old, r()), TOV_ERR_BAD_REPLY);
    EXPECT_EQ(text(), "\r\nTotal" + kPrompt);
    EXPECT_STREQ(old, "old");
    EXPECT_EQ(sent, (std::vector<Sent>{{"dir", 1000}, {"dir", 1000}, {"dir", 1000}, {"dir", 1000}, {"dir", 3000},
                                       {"dir", 3000}, {"dir", 3000}}));
}

TEST_F(Scripted, DirWritesOnlyTheEntriesItReads) {
    const std::string both = "\r\nFiles in Disk A:\r\nTotal File number is 0\r\nFiles in Disk B:\r\n0) b.bin x y" +
                             std::string(32, ' ') + "zz\r\nTotal File number is 1\r\n" + kPrompt;
    std::string hundred;
    for (int i = 0; i < 100; ++i) hundred += std::to_string(i) + ") f\r\n";
    struct Row { char disk; std::string reply; int32_t count; std::vector<std::string> names; };
    const Row rows[] = {
        {'b', both, 1, {"b.bin"}},  // no hex digit in the size field: an empty size text
        {'B', both, 1, {"b.bin"}},
        {'a', "0) a b c\r\nTotal File number is 0" + kPrompt, 0, {}},
        {'a', hundred + "Total File number is 250" + kPrompt, TOV_DIR_MAX_ENTRIES, std::vector<std::string>(100, "f")},
        {'a', "0) " + std::string(50, 'n') + " d t\r\n2) c.bin d t\r\nTotal File number is 3" + kPrompt, 3,
         {std::string(TOV_DIR_WORD_SIZE - 1, 'n'), "", "c.bin"}},  // a missing label is skipped
        {'a', "nothing" + kPrompt, -1, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reply.substr(0, 60));
        arm({row.reply});
        DirBuffers b;  // exactly 100 pointers per array: ASan reports any entry past 99
        int32_t count = -1;
        EXPECT_EQ(b.dir(row.disk, &count, r()), row.count < 0 ? TOV_ERR_NO_TOTAL : 0);
        EXPECT_EQ(count, row.count);
        EXPECT_EQ(row.count < 0 ? text() : kErr + "52, ", kErr + "52, ");
        for (int i = 0; i < TOV_DIR_MAX_ENTRIES; ++i) {
            const std::string name = i < static_cast<int>(row.names.size()) ? row.names[i] : "";
            EXPECT_EQ(name.empty() ? b.untouched(i) : b.at(0, i).str() == name, true) << i;
            for (int k = 0; k < 4; ++k) EXPECT_TRUE(b.at(k, i).intact(k == 3 ? TOV_DIR_SIZE_TEXT_SIZE : TOV_DIR_WORD_SIZE));
        }
        EXPECT_EQ(row.count == 1 ? b.at(3, 0).str() : "", "");
        EXPECT_EQ(row.count == 1 ? b.at(1, 0).str() + " " + b.at(2, 0).str() : "x y", "x y");
    }
}

TEST_F(Scripted, VersionAndProbe) {
    const std::string ver = "\r\nTovrane for TQ318-5314A\r\nFLASH MEMORY: 4MB\r\nVer. 1.23 build 003 Dec 06 2026" + kPrompt;
    const std::string m(TOV_MODEL_SIZE - 1, 'M'), f(TOV_FLASH_SIZE - 1, 'F');
    struct Row { std::vector<std::string> answers; int32_t version; std::string model, date, flash; int32_t flag;
                 std::vector<Sent> sent; std::string reply = ""; };
    const std::vector<Row> rows{
        {{ver, ""}, 123003, "TQ318-5314A", "Dec/06/2026", "4MB", 7, kVer, "inp 30a Error!, Code:9, "},
        {{ver, "data=50"}, 123003, "TQ318-5314A", "Dec/06/2026", "4MB", 7, kVer},  // probe reply without prompt
        {{"\r\nTovrane for M2\r\nFLASH MEMORY: 8MB\r\n" + kPrompt}, TOV_ERR_BAD_REPLY, "M2", "old", "8MB", 7,
         {kVer[0]}, kErr + "46, "},
        {{"\r\nTovrane for " + m + "MMM\r\nFLASH MEMORY: " + f + "FFF\r\nVer. 1.23 build 003 December 0006 20261234567" +
              kPrompt, "data=1" + kPrompt},
         123003, m, "Dec/000/2026123", f, 0, kVer},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        arm(row.answers);
        Guarded model, date("old"), flash("keep");
        int32_t flag = 7;
        EXPECT_EQ(TOV_Get_Tovrane_Version(7, model.b.data(), date.b.data(), flash.b.data(), &flag, r()), row.version);
        EXPECT_EQ((std::vector<std::string>{model.str(), date.str(), flash.str()}),
                  (std::vector<std::string>{row.model, row.date, row.flash}));
        EXPECT_TRUE(model.intact(TOV_MODEL_SIZE) && date.intact(TOV_BUILD_DATE_SIZE) && flash.intact(TOV_FLASH_SIZE));
        EXPECT_EQ(flag, row.flag);
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(row.reply.empty() ? row.reply : text(), row.reply);
    }
}
