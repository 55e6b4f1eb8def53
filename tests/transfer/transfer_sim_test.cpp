// End-to-end: the library's transfer, download and update against the
// simulated controller on a pseudo-terminal.
#ifdef HAVE_SIMULATOR

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLabel>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

#include "block.h"
#include "exchange.h"
#include "recovery.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "transfer.h"
#include "uart.h"
#include "ui/qt_ui.h"
#include "ui/ui.h"

// Fault sets are designated initializers: the members left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace ui = tovrane::ui;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kPort = 7;
constexpr const char* kTimeOut = "Receive Time Out!!";

Bytes pattern(std::size_t n, std::uint32_t seed) {
    Bytes v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) b = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    return v;
}

// Records what the library shows and answers its questions from a script. With
// through_qt the real Qt window is shown as well, and its counters and status
// line are noted in `seen` when it opens and at each ACK.
class RecordingUi : public ui::Ui {
public:
    std::vector<std::string> messages, questions, statuses, opened, seen;
    std::vector<bool> answers;  // to the questions in turn; No once they run out
    std::vector<std::pair<std::uint32_t, std::uint32_t>> acks;  // block, total
    int closed = 0, cursor_depth = 0;
    bool through_qt = false;

    void remember_owner() override { if (through_qt) ui::qt_ui().remember_owner(); }
    std::unique_ptr<ui::ProgressWindow> open_progress(std::string_view name) override {
        opened.emplace_back(name);
        auto window = std::make_unique<Window>(*this, through_qt ? ui::qt_ui().open_progress(name) : nullptr);
        look();
        return window;
    }
    void message(std::string_view text, std::string_view) override { messages.emplace_back(text); }
    bool ask_yes_no(std::string_view text, std::string_view) override {
        questions.emplace_back(text);
        return questions.size() <= answers.size() && answers[questions.size() - 1];
    }
    void set_wait_cursor(bool on) override { cursor_depth += on ? 1 : -1; }

private:
    void look() {
        for (QWidget* w : through_qt ? QApplication::topLevelWidgets() : QWidgetList{}) {
            auto text = [&](const char* n) { return w->findChild<QLabel*>(n)->text().toStdString(); };
            if (w->objectName() != ui::qt_names::kDialog || !w->isVisible()) continue;
            seen.push_back(text(ui::qt_names::kBlockCounter) + "/" + text(ui::qt_names::kTotalCounter) + " " +
                           text(ui::qt_names::kStatusLine));
        }
    }
    struct Window : ui::ProgressWindow {
        Window(RecordingUi& owner, std::unique_ptr<ui::ProgressWindow> qt) : owner(owner), qt(std::move(qt)) {}
        ~Window() override { ++owner.closed; }
        void set_status(std::string_view t) override { owner.statuses.emplace_back(t); if (qt) qt->set_status(t); }
        void block_acknowledged(std::uint32_t block, std::uint32_t total) override {
            owner.acks.emplace_back(block, total);
            if (qt) qt->block_acknowledged(block, total);
            owner.look();
        }
        RecordingUi& owner;
        std::unique_ptr<ui::ProgressWindow> qt;
    };
};

class SimTransfer : public ::testing::Test {
protected:
    void SetUp() override { ui::set_active_ui(&ui_); start({}); }
    void TearDown() override {
        Close_Com(kPort);
        ui::set_active_ui(nullptr);
        fs::remove_all(dir_);
    }
    void start(const tq318::SimulatorOptions& options) {
        if (sim_) {
            Close_Com(kPort);
            sim_.reset();
        }
        sim_ = std::make_unique<tq318::Simulator>(options);
        sim_->start();
        ::setenv("UART_COM7", sim_->device_path().c_str(), 1);
        ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), 0);
        ASSERT_TRUE(sim_->wait_until_ready(3s));
    }
    std::string make_file(const std::string& name, const Bytes& content) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                 static_cast<std::streamsize>(content.size()));
        return p.string();
    }
    std::uint16_t load(const std::string& path, char disk = 'a', std::int32_t mode = 0,
                       const char* target = nullptr) {
        return TOV_Load_File(kPort, path.c_str(), disk, target, mode, reply_);
    }
    std::uint16_t update(const std::string& path) { return TOV_Update_Tovrane(kPort, path.c_str(), reply_); }
    // The console's "load" exchange, as TOV_Load_File does it before SendFile.
    void begin_load() {
        ASSERT_EQ(tovrane::exchange(kPort, "load", reply_, 2400, '!'), 0);
        ASSERT_TRUE(tovrane::ends_with_char(reply_, '!')) << reply_;
    }
    std::optional<Bytes> stored(char disk, const std::string& name) const {
        for (const auto& f : sim_->files(disk)) if (f.name == name) return f.data;
        return std::nullopt;
    }
    bool lines_in_order(const std::vector<std::string>& expected) const {
        const auto lines = sim_->received_lines();
        auto it = lines.begin();
        for (const auto& e : expected) {
            if ((it = std::find(it, lines.end(), e)) == lines.end()) return false;
            ++it;
        }
        return true;
    }
    bool received_line(const std::string& line) const { return lines_in_order({line}); }
    void fill_disk(char disk) { sim_->put_file(disk, {.name = "old.bin", .data = pattern(12 * 1024, 99)}); }
    long count_status(const char* s) const { return std::count(ui_.statuses.begin(), ui_.statuses.end(), s); }

    std::unique_ptr<tq318::Simulator> sim_;
    fs::path dir_ = [] { char templ[] = "/tmp/transfer_test_XXXXXX"; return fs::path(::mkdtemp(templ)); }();
    RecordingUi ui_;
    char reply_[2048] = {};
};

template <typename P>
class SimParam : public SimTransfer, public ::testing::WithParamInterface<P> {};

using StoredSize = SimParam<std::size_t>;
TEST_P(StoredSize, ByteIdenticalWithOneAckPerBlock) {
    const std::size_t size = GetParam();
    const std::string name = "f" + std::to_string(size) + ".bin";
    const auto content = pattern(size, static_cast<std::uint32_t>(size));
    const fs::path cwd = fs::current_path();
    ASSERT_EQ(load(make_file(name, content)), 0) << reply_;
    EXPECT_TRUE(tovrane::ends_with_char(reply_, '>')) << reply_;
    EXPECT_EQ(stored('a', name), content);
    const auto blocks = static_cast<std::uint32_t>((size + 255) / 256);
    EXPECT_EQ(tovrane::last_block_count(), blocks);  // sizes the final wait
    ASSERT_EQ(ui_.acks.size(), blocks);
    for (std::uint32_t i = 0; i < blocks; ++i) EXPECT_EQ(ui_.acks[i], std::make_pair(i + 1, blocks));
    EXPECT_EQ(ui_.opened, std::vector<std::string>{name});
    EXPECT_EQ(ui_.closed, 1);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(fs::current_path(), cwd);
}
INSTANTIATE_TEST_SUITE_P(Sizes, StoredSize, ::testing::Values(0u, 1u, 255u, 256u, 257u, 65536u + 17u));

TEST_F(SimTransfer, BlocksOnTheWire) {
    const auto content = pattern(300, 5);
    const std::string path = make_file("source.dat", content);
    std::tm local{.tm_isdst = -1};
    ::strptime("2026-03-14 15:09:27", "%F %T", &local);  // local time, daylight saving as it falls
    const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    ASSERT_EQ(load(path, 'a', 0, "C:\\Work\\ABCDEFGHIJKLMNO"), 0) << reply_;
    const auto blocks = sim_->received_blocks();
    ASSERT_EQ(blocks.size(), 3u);
    const Bytes& h = blocks[0];
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[2])), "defghijklmno");  // NUL-terminated
    EXPECT_EQ(h[2 + 13] | (h[2 + 14] << 8) | (h[2 + 15] << 16) | (h[2 + 16] << 24), 300);
    const int date_fields[] = {46, 3, 14, 15, 9, 13};  // years from 1980, month, day, h, min, s/2
    for (int i = 0; i < 6; ++i) EXPECT_EQ(h[2 + 17 + 2 * i] | (h[2 + 18 + 2 * i] << 8), date_fields[i]) << i;
    const std::pair<int, int> lengths[] = {{29, 0}, {0, 1}, {44, 0}};  // LSB first
    for (std::size_t i = 0; i < 3; ++i) {
        const Bytes& b = blocks[i];
        ASSERT_EQ(b.size(), 260u);
        EXPECT_EQ((std::pair<int, int>(b[0], b[1])), lengths[i]) << i;
        EXPECT_EQ(b[258] << 8 | b[259], GetCRC16(b.data(), 258)) << i;  // over stale payload bytes too, MSB first
    }
    // The last block keeps the bytes the block before left after its 44.
    EXPECT_TRUE(std::equal(blocks[2].begin() + 2 + 44, blocks[2].begin() + 258, content.begin() + 44));
    EXPECT_EQ(stored('a', "defghijklmno"), content);
}

// Two NAKs then an ACK succeed, also after a time-out, which does not count as
// a NAK. (The simulator swallows the first tries and NAKs the rest up to nak_times.)
using NaksThenAck = SimParam<int>;
TEST_P(NaksThenAck, Succeed) {
    sim_->set_faults({.nak_block = 1, .nak_times = 2 + GetParam(), .swallow_block = 1, .swallow_times = GetParam()});
    const auto content = pattern(600, 4);
    ASSERT_EQ(load(make_file("naks.bin", content)), 0) << reply_;
    EXPECT_EQ(count_status(kTimeOut), GetParam());
    EXPECT_EQ(stored('a', "naks.bin"), content);
}
INSTANTIATE_TEST_SUITE_P(TimeOuts, NaksThenAck, ::testing::Values(0, 1));

// After three NAKs the controller still waits for the block; the library stays
// silent until it gives up and shows its prompt, so the next command is answered.
TEST_F(SimTransfer, ThreeNaksFailTheDownloadWith44AndLeaveTheControllerAtItsPrompt) {
    start({.transfer_timeout_ms = 3000});
    sim_->set_faults({.nak_block = 1, .nak_times = 3});
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(load(make_file("nak3.bin", pattern(1000, 3))), TOV_ERR_LOAD_FAILED);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 4500ms);
    EXPECT_STREQ(reply_, "\r\n(null) Error!, Code:44, ");
    EXPECT_EQ(ui_.statuses, (std::vector<std::string>{"time Error", std::string(tovrane::kAwaitingPromptStatus)}));
    EXPECT_EQ(ui_.closed, 1);
    EXPECT_TRUE(ui_.questions.empty());
    EXPECT_EQ(tovrane::exchange(kPort, "ver", reply_, 1500, '>'), 0) << reply_;
}

// Lost answers: the block arrived and was stored, only its ACK went missing.
// A load may fail, but it never reports success with a file stored wrong, and
// afterwards the controller answers at once. A header is never sent twice:
// the download starts over from "load", once.
struct LostAnswer { const char* name; tq318::Faults faults; std::uint16_t code; int load_lines; };
void PrintTo(const LostAnswer& f, std::ostream* os) { *os << f.name; }
using LostAnswers = SimParam<LostAnswer>;
TEST_P(LostAnswers, NeverSucceedWithAWrongFile) {
    const LostAnswer& f = GetParam();
    start({.transfer_timeout_ms = 3000});
    sim_->set_faults(f.faults);
    const auto content = pattern(1000, 31);  // last block 232 bytes: a header taken as content would fit
    const std::uint16_t r = load(make_file("lost.bin", content));
    EXPECT_EQ(r, f.code) << reply_;
    if (r == 0) {
        EXPECT_EQ(stored('a', "lost.bin"), content);
    }
    sim_->set_faults({});
    const auto lines = sim_->received_lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "load"), f.load_lines);
    // Nothing of the file reached the console as typed input (an empty line
    // is the carriage return that confirms the prompt).
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& l) { return !l.empty(); }), f.load_lines);
    EXPECT_EQ(tovrane::exchange(kPort, "ver", reply_, 1500, '>'), 0) << reply_;
}
INSTANTIATE_TEST_SUITE_P(
    Faults, LostAnswers,
    ::testing::Values(LostAnswer{"header_ack_once", {.lose_ack_block = 0, .lose_ack_times = 1}, 0, 2},
                      LostAnswer{"header_ack_twice", {.lose_ack_block = 0, .lose_ack_times = 2}, TOV_ERR_LOAD_FAILED, 2},
                      LostAnswer{"data_ack", {.lose_ack_block = 2, .lose_ack_times = 1}, TOV_ERR_LOAD_FAILED, 1},
                      LostAnswer{"data_ack_slow5", {.reply_delay_ms = 5, .lose_ack_block = 2, .lose_ack_times = 1}, TOV_ERR_LOAD_FAILED, 1},
                      LostAnswer{"data_ack_slow20", {.reply_delay_ms = 20, .lose_ack_block = 2, .lose_ack_times = 1}, TOV_ERR_LOAD_FAILED, 1},
                      LostAnswer{"data_ack_slow100", {.reply_delay_ms = 100, .lose_ack_block = 2, .lose_ack_times = 1}, TOV_ERR_LOAD_FAILED, 1},
                      LostAnswer{"block_lost_twice", {.swallow_block = 3, .swallow_times = 2}, 0, 1},
                      LostAnswer{"naks_only", {.nak_block = 0, .nak_times = 2}, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Every check on the file runs before the command: 48 and nothing on the line.
using RefusedSource = SimParam<std::tuple<const char*, bool>>;  // kind, through the update
TEST_P(RefusedSource, SendsNothing) {
    const auto& [kind, through_update] = GetParam();
    const fs::path p = dir_ / (std::string(kind) + ".img");
    if (std::string(kind) == "fifo") {
        ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
    } else if (std::string(kind) == "directory") {
        fs::create_directory(p);
    } else {
        std::ofstream(p).close();
        fs::resize_file(p, std::uintmax_t{1} << 32);  // sparse: 4 GiB
    }
    sim_->clear_received_lines();
    EXPECT_EQ(through_update ? update(p.string()) : load(p.string()), TOV_ERR_FILE_UNREADABLE);
    EXPECT_STREQ(reply_, "\r\n(null) Error!, Code:48, ");
    EXPECT_TRUE(sim_->received_lines().empty());
    EXPECT_TRUE(ui_.opened.empty());
}
INSTANTIATE_TEST_SUITE_P(Kinds, RefusedSource,
                         ::testing::Combine(::testing::Values("fifo", "directory", "sparse4g"), ::testing::Bool()));

struct Failure { tq318::Faults faults; std::uint16_t code; long timeouts; std::chrono::milliseconds within; };
void PrintTo(const Failure& f, std::ostream* os) { *os << "code " << f.code; }
using SendFailure = SimParam<Failure>;
TEST_P(SendFailure, EndsWithItsCodeInTime) {
    const Failure& f = GetParam();
    sim_->set_faults(f.faults);
    const std::string path = make_file("fail.bin", pattern(256 * 10, 7));
    begin_load();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tovrane::SendFile(kPort, path.c_str(), nullptr), f.code);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, f.within);
    EXPECT_EQ(count_status(kTimeOut), f.timeouts);
    EXPECT_EQ(ui_.closed, 1);
}
INSTANTIATE_TEST_SUITE_P(
    Faults, SendFailure,
    ::testing::Values(Failure{{.swallow_block = 1, .swallow_times = 1000}, TOV_ERR_SILENT, 5, 12'500ms},
                      Failure{{.other_byte_block = 2}, TOV_ERR_BAD_ANSWER, 0, 1'900ms},
                      Failure{{.hangup_after_block = 2}, TOV_ERR_TRANSFER_LINE, 0, 1'900ms}));

TEST_F(SimTransfer, MissingFileSendsTheNoFileBlockAndGives45) {
    begin_load();
    EXPECT_EQ(tovrane::SendFile(kPort, (dir_ / "absent.bin").c_str(), nullptr), TOV_ERR_NO_FILE);
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"File no found!!"});
    EXPECT_TRUE(ui_.opened.empty());
    EXPECT_TRUE(sim_->wait_until_ready(2s));  // the controller took it as "no file"
}

// A full disk: Yes empties that disk (only) and sends the file again from its
// header; No gives 44 and deletes nothing.
using FullDisk = SimParam<std::tuple<char, bool, std::string, std::string>>;  // disk, answer, its lines
TEST_P(FullDisk, AsksBeforeDeleting) {
    const auto [disk, yes, load_line, del_line] = GetParam();
    start({.disk_a_kib = 16, .disk_b_kib = 16});
    fill_disk('a');
    fill_disk('b');
    const auto content = pattern(8 * 1024, 10);
    ui_.answers = {yes};
    const std::uint16_t r = load(make_file("new.bin", content), disk);
    EXPECT_EQ(ui_.questions, std::vector<std::string>{"Delete all files!!"});
    EXPECT_TRUE(stored(disk == 'a' ? 'b' : 'a', "old.bin"));
    if (yes) {
        EXPECT_EQ(r, 0) << reply_;
        EXPECT_TRUE(lines_in_order({load_line, del_line, "Y", load_line}));
        EXPECT_FALSE(stored(disk, "old.bin"));
        EXPECT_EQ(stored(disk, "new.bin"), content);
    } else {
        EXPECT_EQ(r, TOV_ERR_LOAD_FAILED);
        EXPECT_STREQ(reply_, "\r\n(null) Error!, Code:44, ");
        EXPECT_FALSE(received_line(del_line));
        EXPECT_TRUE(stored(disk, "old.bin"));
    }
}
INSTANTIATE_TEST_SUITE_P(Answers, FullDisk,
                         ::testing::Values(FullDisk::ParamType{'a', true, "load", "del"},
                                           FullDisk::ParamType{'B', true, "loadb", "delb"},
                                           FullDisk::ParamType{'a', false, "load", "del"}));

TEST_F(SimTransfer, StillFullAfterDeletingAsksAgain) {
    start({.disk_a_kib = 4});
    ui_.answers = {true, false};
    EXPECT_EQ(load(make_file("huge.bin", pattern(8 * 1024, 12))), TOV_ERR_LOAD_FAILED);
    EXPECT_EQ(ui_.questions.size(), 2u);
}

// Mode 1 sends "loadr" whatever the disk; mode 3 a carriage return, then "loadfirmware".
using LoadMode = SimParam<std::tuple<std::int32_t, char, std::vector<std::string>, std::string>>;
TEST_P(LoadMode, SendsItsCommand) {
    const auto& [mode, disk, lines, never] = GetParam();
    const auto content = pattern(700, 15);
    ASSERT_EQ(load(make_file("m.bin", content), disk, mode), 0) << reply_;
    EXPECT_TRUE(lines_in_order(lines));
    EXPECT_FALSE(received_line(never));
    EXPECT_EQ(stored('a', "m.bin"), content);
}
INSTANTIATE_TEST_SUITE_P(Modes, LoadMode,
                         ::testing::Values(LoadMode::ParamType{1, 'b', {"loadr"}, "loadb"},
                                           LoadMode::ParamType{3, 'a', {"", "loadfirmware"}, "load"}));

TEST_F(SimTransfer, NullReplyBufferSendsNothing) {
    const std::string path = make_file("x.bin", pattern(10, 16));
    sim_->clear_received_lines();
    EXPECT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, nullptr), TOV_ERR_ARGUMENT);
    EXPECT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), nullptr), TOV_ERR_ARGUMENT);
    EXPECT_TRUE(sim_->received_lines().empty());
}

// An update installs only when every block went through and the controller's
// report gives the image's CRC-16/XMODEM as exactly four hex digits equal to
// the file's: any other value ends it with 54, a report without "CRC16=" or
// prompt with 46, a failed transfer with its own code while the text says 100.
// "bios1" first answers "... done." and the rest 300 ms later: read once more;
// only an answer of exactly 50 characters ending with the prompt asks for an
// upload, and every other answer but the report of a finished install fails.
struct UpdateCase {
    const char* name;
    tq318::Faults faults;
    std::uint16_t code;
    std::string reply_has, reply_ends;
    std::vector<std::string> shown;
    bool bios1_sent;
};
void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }
const Bytes kImage = pattern(600, 18);
std::string crc_hex(const Bytes& b, bool lower) {
    char text[8];
    std::snprintf(text, sizeof text, lower ? "%04x" : "%04X", tovrane::crc16_update(0, b));
    return text;
}
std::vector<UpdateCase> update_cases() {
    const std::string head = "\r\nImage received, 600 bytes, CRC16=", tail = "\r\nTQ318-5314A>";
    const std::string file_crc = ", file CRC16=" + crc_hex(kImage, false);
    auto report = [&](const char* name, const std::string& text, std::uint16_t code, const std::string& value) {
        const std::string shown = "Load receive error\n" + (code == TOV_ERR_IMAGE_CRC ? "CRC16=" + value + file_crc : text);
        // A refused report leaves the error text alone in the reply.
        const std::string error = " Error!, Code:" + std::to_string(code) + ", ";
        return UpdateCase{name, {.upload_report = text}, code, error, error, {shown}, false};
    };
    auto bios1 = [](const char* name, const std::string& answer, bool asks) {
        return UpdateCase{name, {.bios1_answer = answer}, TOV_ERR_NOT_INSTALLED, " Error!, Code:39, ", "\r\n" + answer,
                          {asks ? "Please Upload first!" : answer}, true};
    };
    auto no_image = [](std::size_t length, char last) {
        std::string answer = "\r\nNo OS image in memory, please upload it first";
        answer.resize(length - 1, ' ');
        return answer + last;
    };
    return {
        {"installed", {}, 0, "installed", "", {}, true},
        {"matching_lower_case", {.upload_report = head + crc_hex(kImage, true) + tail}, 0, "installed", "", {}, true},
        {"three_naks", {.nak_block = 1, .nak_times = 3}, TOV_ERR_BLOCK_REFUSED, " Error!, Code:100, ", "", {}, false},
        {"image_lost", {.upload_report = "\r\nImage lost"}, TOV_ERR_BAD_REPLY, " Error!, Code:46, ", " Error!, Code:46, ",
         {"Load receive error"}, false},
        report("differing", head + "07d4" + tail, TOV_ERR_IMAGE_CRC, "07d4"),
        report("five_digits", head + "00000" + tail, TOV_ERR_IMAGE_CRC, "00000"),
        report("fifth_digit", head + crc_hex(kImage, false) + "0" + tail, TOV_ERR_IMAGE_CRC, crc_hex(kImage, false) + "0"),
        report("three_digits", head + "07D" + tail, TOV_ERR_IMAGE_CRC, "07D"),
        report("empty_value", "\r\nUpload aborted CRC16=" + tail, TOV_ERR_IMAGE_CRC, ""),
        report("rejected", "\r\nImage rejected: bad blocks" + tail, TOV_ERR_BAD_REPLY, ""),
        {"size_without_crc", {.upload_report = "\r\nImage received, 12 bytes" + tail}, 0, "installed", "", {}, true},
        bios1("bios1_49", no_image(49, '>'), false),
        bios1("bios1_50", no_image(50, '>'), true),
        bios1("bios1_51", no_image(51, '>'), false),
        bios1("bios1_50_dot", no_image(50, '.'), false),
        bios1("flash_error", "\r\nFlash write error, image NOT installed\r\nTQ318-5314A>", false),
        bios1("done_not_installed", "\r\nInstalling image ... done.\r\nTovrane image NOT installed\r\nTQ318-5314A>", false),
    };
}
using Update = SimParam<UpdateCase>;
TEST_P(Update, InstallsOnlyWhatTheControllerTookRight) {
    const UpdateCase& c = GetParam();
    sim_->set_faults(c.faults);
    EXPECT_EQ(update(make_file("os.img", kImage)), c.code) << reply_;
    EXPECT_NE(std::string(reply_).find(c.reply_has), std::string::npos) << reply_;
    EXPECT_TRUE(std::string(reply_).ends_with(c.reply_ends)) << reply_;
    EXPECT_EQ(ui_.messages, c.shown);
    EXPECT_EQ(received_line("bios1"), c.bios1_sent);
    EXPECT_EQ(sim_->image_installed(), c.code == 0);
    if (c.code == 0) {
        EXPECT_EQ(sim_->uploaded_image(), kImage);
    }
    EXPECT_EQ(ui_.cursor_depth, 0);
}
INSTANTIATE_TEST_SUITE_P(Cases, Update, ::testing::ValuesIn(update_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTransfer, QtWindowCountsTheAcknowledgedBlocks) {
    ui_.through_qt = true;
    ASSERT_EQ(load(make_file("qt.bin", pattern(256 * 2 + 1, 23))), 0) << reply_;
    EXPECT_EQ(ui_.seen, (std::vector<std::string>{"255/255 qt.bin", "1/3 qt.bin", "2/3 qt.bin", "3/3 qt.bin"}));
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->objectName(), ui::qt_names::kDialog);
}

}  // namespace

#endif  // HAVE_SIMULATOR
