// Each export's own contract over a scripted exchange: its codes, what lands
// in the caller's buffers and no byte past them, its error texts, the
// arguments it refuses with nothing sent. What the reply parsers decide is
// covered in parse_test.cpp; the exports against the simulated controller
// (the commands and their effect) are driven through tovctl
// (tests/tovctl/tovctl_test.cpp).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tovrane.h"
#include "uart.h"

namespace {

// While armed, Exchange_Cmd logs each command and answers the next scripted
// reply; an empty one (or none left) answers UART_ERR_TIMEOUT.
bool armed = false;
std::deque<std::string> answers;
std::vector<std::string> sent;
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
    sent.push_back(command);
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
    std::size_t size = 0;  // the documented size it was handed over as
    explicit Guarded(const std::string& initial = "") {
        b.fill('#');
        std::memcpy(b.data(), initial.c_str(), initial.size() + 1);
    }
    char* as(std::size_t documented) { return size = documented, b.data(); }
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

// The buffers one call writes: three texts, four numbers, the reply.
struct Out {
    std::array<Guarded, 3> text;
    std::array<int32_t, 4> n{-1, -1, -1, -1};
    std::array<char, 2048> reply{};
    char* r() { return reply.data(); }
};
using Call = std::function<int32_t(Out&)>;
Call value(uint16_t (*fn)(uint8_t, char*, char*)) {
    return [fn](Out& o) { return fn(7, o.text[0].as(TOV_VALUE_SIZE), o.r()); };
}
Call setCom(int32_t com, int32_t baud, int32_t data, int32_t parity, int32_t stop) {
    return [=](Out& o) { return TOV_Set_COM(7, com, baud, data, parity, stop, o.r()); };
}
const Call getCom = [](Out& o) { return TOV_Get_COM(7, 1, &o.n[0], &o.n[1], &o.n[2], &o.n[3], o.r()); };
const Call getDiskSize = [](Out& o) { return TOV_Get_DiskSize(7, &o.n[0], &o.n[1], o.r()); };
Call freeSize(char disk) {
    return [disk](Out& o) { return TOV_Get_FreeSize(7, disk, o.text[0].as(TOV_FREE_TEXT_SIZE), o.r()); };
}
const Call dir = [](Out& o) { return DirBuffers().dir('a', &o.n[0], o.r()); };
const Call version = [](Out& o) {
    return TOV_Get_Tovrane_Version(7, o.text[0].as(TOV_MODEL_SIZE), o.text[1].as(TOV_BUILD_DATE_SIZE),
                                   o.text[2].as(TOV_FLASH_SIZE), &o.n[0], o.r());
};

struct Row {
    std::vector<std::string> answers;  // the exchanges' replies in turn; "" times out
    Call call;
    int32_t code;
    std::vector<std::string> texts = {};  // the texts after the call, as many as given
    std::vector<int32_t> numbers = {};    // the numbers after the call, as many as given (-1: untouched)
    std::string reply = "";               // the reply's text ("" not checked)
    std::size_t exchanges = 0;            // how many went out (0 not checked)
    std::string last = "";                // the last command sent ("" not checked)
    std::array<std::string, 3> initial = {};
};

}  // namespace

TEST_F(Scripted, CodesBuffersAndErrorTexts) {
    const std::string longest(TOV_VALUE_MAX_IN, '1'), ip = "\r\nIP=1.2.3.4" + kPrompt;
    const std::string set_to = "\r\nCOM 2 Set to: 9600,8,o,1" + kPrompt;
    const std::string listing = "\r\nFiles in Disk A:\r\nTotal File number is 0\r\nFree space: 1048576\r\n"
                                "Files in Disk B:\r\nTotal File number is 0\r\nFree space: 3145728" + kPrompt;
    const std::string ver = "\r\nTovrane for TQ318-5314A\r\nFLASH MEMORY: 4MB\r\nVer. 1.23 build 003 Dec 06 2026" + kPrompt;
    const std::string m(TOV_MODEL_SIZE - 1, 'M'), f(TOV_FLASH_SIZE - 1, 'F');
    const std::string inp = "inp 30a Error!, Code:9, ";
    const std::array<std::string, 3> version_kept{"", "old", "keep"};
    EXPECT_LE(("gateway " + longest).size() + 1, 52u);  // the longest accepted text fits the console's 52 bytes
    // clang-format off
    const std::vector<Row> rows{
        // The settings: the pre-check's prompt (silence is no refusal; another model's refuses a set), the
        // value in the controller's form, cut to its buffer, or kept when the reply is not the one wanted.
        {{kPrompt, ip}, value(TOV_Get_IP), 0, {"1.2.3.4"}, {}, ip, 2, "ip"},
        {{"", "\r\nMASK=255.0.0.0" + kPrompt}, value(TOV_Get_Mask), 0, {"255.0.0.0"}, {}, "", 2},
        {{"\r\nTQ318-9000X> ", ip}, value(TOV_Get_IP), 0, {"1.2.3.4"}},  // prompt not last: no model
        {{"\r\nTQ318-9000X>", ip}, value(TOV_Set_IP), TOV_ERR_MODEL, {"10.0.0.1"}, {}, kErr + "55, ", 1, "", {"10.0.0.1"}},
        {{"kx2k-x>", "Gateway=1.1.1.1" + kPrompt}, value(TOV_Get_Gateway), 0, {"1.1.1.1"}},
        {{"SW-4400>", "Gateway=1.1.1.1" + kPrompt}, value(TOV_Get_Gateway), 0, {"1.1.1.1"}},
        {{"x5312A>", "Gateway=1.1.1.1" + kPrompt}, value(TOV_Get_Gateway), 0, {"1.1.1.1"}},
        {{kPrompt, "\r\nip=1.2.3.4" + kPrompt}, value(TOV_Get_IP), TOV_ERR_GET_IP, {"old"}, {}, kErr + "57, ", 0, "", {"old"}},
        {{kPrompt, ip + " "}, value(TOV_Get_IP), TOV_ERR_GET_IP, {"old"}, {}, kErr + "57, ", 0, "", {"old"}},
        {{kPrompt, ""}, value(TOV_Set_Mask), UART_ERR_TIMEOUT, {"10.0.0.9"}, {}, "mask 10.0.0.9 Error!, Code:9, ", 2, "",
         {"10.0.0.9"}},
        {{kPrompt, "\r\nIP=10.0.0.5" + kPrompt}, value(TOV_Set_IP), 0, {"10.0.0.5"}, {}, "", 2, "ip 010.000.000.005",
         {"010.000.000.005"}},
        {{kPrompt, "\r\nBad" + kPrompt}, value(TOV_Set_IP), TOV_ERR_SET_IP, {"300.1.1.1"}, {}, kErr + "56, ", 2, "",
         {"300.1.1.1"}},
        {{kPrompt, ip}, value(TOV_Set_Gateway), TOV_ERR_SET_GATEWAY, {longest}, {}, kErr + "60, ", 2, "gateway " + longest,
         {longest}},  // goes out whole
        {{kPrompt, "\r\nIP=" + std::string(40, '7') + kPrompt}, value(TOV_Get_IP), 0, {std::string(TOV_VALUE_SIZE - 1, '7')}},
        // The serial ports and the disk sizes: a parity code as its letter, the numbers read or left alone.
        {{set_to}, setCom(2, 9600, 8, 2, 1), 0, {}, {}, "", 1, "setcom 2 9600 8 o 1"},
        {{set_to}, setCom(3, 115200, 7, 78, 2), 0, {}, {}, "", 1, "setcom 3 115200 7 N 2"},
        {{set_to + " "}, setCom(2, 9600, 8, 2, 1), TOV_ERR_SET_COM},
        {{"\r\nUnknown command" + kPrompt}, setCom(2, 9600, 8, 2, 1), TOV_ERR_SET_COM, {}, {}, kErr + "63, "},
        {{"\r\nCOM 1 Current set is: 115200,8,0,1" + kPrompt}, getCom, 0, {}, {115200, 8, 0, 1}, "", 1, "setcom 1"},
        {{"\r\nCOM 1 Current set is: 9600,8" + kPrompt}, getCom, 0, {}, {9600, -1, -1, 8}},
        {{"\r\nCOM 1 Current set is:115200,8,0,1" + kPrompt}, getCom, TOV_ERR_GET_COM, {}, {-1, -1, -1, -1}, kErr + "64, "},
        {{"\r\nSizeA=2048 SizeB=2048" + kPrompt}, [](Out& o) { return TOV_Set_DiskSize(7, 2048, 2048, o.r()); }, 0, {}, {},
         "", 1, "disksize 2048 2048"},
        {{"\r\nSizeA=512" + kPrompt}, getDiskSize, 0, {}, {512, -1}, "", 1, "disksize"},
        {{"\r\nSizeB=512" + kPrompt}, getDiskSize, TOV_ERR_DISK_SIZE, {}, {}, kErr + "65, "},
        // The listing, retried once after a failed exchange; the free space, the reply kept as it came when bad.
        {{"", listing}, dir, 0, {}, {0}, "", 2},
        {{"", ""}, dir, UART_ERR_TIMEOUT, {}, {-1}, "dir Error!, Code:9, ", 2},
        {{listing}, freeSize('B'), 0, {"3145728"}, {}, "", 1, "dir"},
        {{"\r\nFree space: 1048576"}, freeSize('a'), TOV_ERR_BAD_REPLY, {"old"}, {}, "\r\nFree space: 1048576", 0, "", {"old"}},
        {{"\r\nTotal" + kPrompt}, freeSize('a'), TOV_ERR_BAD_REPLY, {"old"}, {}, "\r\nTotal" + kPrompt, 0, "", {"old"}},
        // The version: the probe's flag only from a whole reply; texts cut to their buffers.
        {{ver, ""}, version, 123003, {"TQ318-5314A", "Dec/06/2026", "4MB"}, {-1}, inp, 2, "inp 30a", version_kept},
        {{ver, "data=50"}, version, 123003, {"TQ318-5314A", "Dec/06/2026", "4MB"}, {-1}, "", 2, "", version_kept},
        {{"\r\nTovrane for M2\r\nFLASH MEMORY: 8MB\r\n" + kPrompt}, version, TOV_ERR_BAD_REPLY, {"M2", "old", "8MB"}, {-1},
         kErr + "46, ", 1, "ver", version_kept},
        {{"\r\nTovrane for " + m + "MMM\r\nFLASH MEMORY: " + f + "FFF\r\nVer. 1.23 build 003 December 0006 20261234567" +
          kPrompt, "data=1" + kPrompt}, version, 123003, {m, "Dec/000/2026123", f}, {0}, "", 2, "", version_kept},
    };
    // clang-format on
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        arm(row.answers);
        Out o{{Guarded(row.initial[0]), Guarded(row.initial[1]), Guarded(row.initial[2])}};
        EXPECT_EQ(row.call(o), row.code);
        for (std::size_t k = 0; k < row.texts.size(); ++k) EXPECT_EQ(o.text[k].str(), row.texts[k]) << k;
        for (std::size_t k = 0; k < 3; ++k) EXPECT_TRUE(o.text[k].intact(std::max(o.text[k].size, row.initial[k].size() + 1))) << k;
        for (std::size_t k = 0; k < row.numbers.size(); ++k) EXPECT_EQ(o.n[k], row.numbers[k]) << k;
        EXPECT_EQ(row.reply.empty() ? row.reply : std::string(o.reply.data()), row.reply);
        EXPECT_EQ(row.exchanges == 0 ? 0 : sent.size(), row.exchanges);
        EXPECT_EQ(row.last.empty() ? row.last : sent.empty() ? "(none)" : sent.back(), row.last);
        EXPECT_EQ(end_chars, std::string(sent.size(), '>'));
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
