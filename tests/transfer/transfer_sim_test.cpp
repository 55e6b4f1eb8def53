// End-to-end: the library's transfer, download and update against the
// simulated controller on a pseudo-terminal.
#ifdef HAVE_SIMULATOR

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exchange.h"
#include "recording_ui.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "transfer.h"
#include "uart.h"
#include "ui/qt_ui.h"

namespace {

using namespace std::chrono_literals;
using transfer_testing::RecordingUi;
using transfer_testing::ScopedUi;
namespace fs = std::filesystem;

constexpr std::uint8_t kPort = 7;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return v;
}

std::uint64_t elapsed_ms(std::chrono::steady_clock::time_point since) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
            .count());
}

class SimTransfer : public ::testing::Test {
protected:
    void SetUp() override { start({}); }

    void start(tq318::SimulatorOptions options) {
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

    void TearDown() override {
        Close_Com(kPort);
        sim_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string make_file(const std::string& name, const std::vector<std::uint8_t>& content) {
        const fs::path p = dir_ / name;
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
        return p.string();
    }

    // Asks the console for a file, as TOV_Load_File does before the transfer.
    void begin_load() {
        ASSERT_EQ(tovrane::exchange(kPort, "load", reply_, 2400, '!'), 0);
        ASSERT_TRUE(tovrane::ends_with_char(reply_, '!')) << reply_;
    }

    std::optional<tq318::StoredFile> stored(char disk, const std::string& name) const {
        for (const auto& f : sim_->files(disk)) {
            if (f.name == name) return f;
        }
        return std::nullopt;
    }

    // True when `expected` appears in order among the received lines.
    bool lines_in_order(const std::vector<std::string>& expected) const {
        const auto lines = sim_->received_lines();
        auto it = lines.begin();
        for (const auto& e : expected) {
            it = std::find(it, lines.end(), e);
            if (it == lines.end()) return false;
            ++it;
        }
        return true;
    }
    bool received_line(const std::string& line) const {
        const auto lines = sim_->received_lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    void fill_disk(char disk, std::size_t bytes) {
        tq318::StoredFile f;
        f.name = "old.bin";
        f.data = pattern(bytes, 99);
        sim_->put_file(disk, f);
    }

    static tq318::SimulatorOptions disks(std::uint32_t a_kib, std::uint32_t b_kib) {
        tq318::SimulatorOptions o;
        o.disk_a_kib = a_kib;
        o.disk_b_kib = b_kib;
        return o;
    }

    std::unique_ptr<tq318::Simulator> sim_;
    fs::path dir_ = [] {
        char templ[] = "/tmp/transfer_test_XXXXXX";
        return fs::path(::mkdtemp(templ));
    }();
    RecordingUi ui_;
    ScopedUi scope_{ui_};
    char reply_[2048] = {};
};

TEST_F(SimTransfer, StoredFilesAreByteIdenticalForEverySize) {
    for (std::size_t size : {0u, 1u, 255u, 256u, 257u, 65536u + 17u}) {
        SCOPED_TRACE(size);
        const std::string name = "f" + std::to_string(size) + ".bin";
        const auto content = pattern(size, static_cast<std::uint32_t>(size));
        const std::string path = make_file(name, content);
        ui_ = RecordingUi{};
        ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), 0) << reply_;
        EXPECT_TRUE(tovrane::ends_with_char(reply_, '>')) << reply_;
        const auto f = stored('a', name);
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ(f->data, content);
        const std::uint32_t blocks = tovrane::data_block_count(static_cast<std::uint32_t>(size));
        EXPECT_EQ(tovrane::last_block_count(), blocks);
        ASSERT_EQ(ui_.acks.size(), blocks);
        for (std::uint32_t i = 0; i < blocks; ++i) {
            EXPECT_EQ(ui_.acks[i], std::make_pair(i + 1, blocks));
        }
        EXPECT_EQ(ui_.opened, std::vector<std::string>{name});
        EXPECT_EQ(ui_.closed, 1);
        EXPECT_TRUE(ui_.messages.empty());
    }
}

TEST_F(SimTransfer, HeaderCarriesNameSizeAndLocalWriteTime) {
    const auto content = pattern(300, 5);
    const std::string path = make_file("source.dat", content);
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 14;
    local.tm_hour = 15;
    local.tm_min = 9;
    local.tm_sec = 27;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', "C:\\Work\\ABCDEFGHIJKLMNO", 0, reply_), 0)
        << reply_;
    const auto blocks = sim_->received_blocks();
    ASSERT_EQ(blocks.size(), 3u);  // header and two data blocks
    const auto& h = blocks[0];
    ASSERT_EQ(h.size(), 260u);
    EXPECT_EQ(h[0], 29);
    EXPECT_EQ(h[1], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[2])), "defghijklmno");
    EXPECT_EQ(h[2 + 13] | (h[2 + 14] << 8) | (h[2 + 15] << 16) | (h[2 + 16] << 24), 300);
    const int expected_fields[] = {46, 3, 14, 15, 9, 13};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(h[2 + 17 + 2 * i] | (h[2 + 18 + 2 * i] << 8), expected_fields[i]) << "field " << i;
    }
    const auto f = stored('a', "defghijklmno");
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->data, content);
    EXPECT_EQ(f->year, 2026);
    EXPECT_EQ(f->seconds2, 13);
    // The second data block carries 44 bytes and the rest of the first one.
    EXPECT_EQ(blocks[2][0], 44);
    EXPECT_TRUE(std::equal(blocks[2].begin() + 2 + 44, blocks[2].begin() + 258,
                           content.begin() + 44));
}

TEST_F(SimTransfer, TheCurrentDirectoryIsNeverChanged) {
    const fs::path before = fs::current_path();
    const std::string path = make_file("cwd.bin", pattern(10, 1));
    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), 0) << reply_;
    EXPECT_EQ(fs::current_path(), before);
}

TEST_F(SimTransfer, TwoNaksThenAckSucceed) {
    tq318::Faults faults;
    faults.nak_block = 2;
    faults.nak_times = 2;
    sim_->set_faults(faults);
    const auto content = pattern(1000, 2);
    const std::string path = make_file("nak2.bin", content);
    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), 0) << reply_;
    EXPECT_EQ(stored('a', "nak2.bin")->data, content);
}

TEST_F(SimTransfer, ThreeNaksRefuseTheBlock) {
    tq318::Faults faults;
    faults.nak_block = 1;
    faults.nak_times = 3;
    sim_->set_faults(faults);
    const std::string path = make_file("nak3.bin", pattern(1000, 3));
    begin_load();
    EXPECT_EQ(tovrane::SendFile(kPort, path.c_str(), nullptr), TOV_ERR_BLOCK_REFUSED);
    ASSERT_FALSE(ui_.statuses.empty());
    EXPECT_EQ(ui_.statuses.back(), "time Error");
    EXPECT_TRUE(ui_.acks.empty());
    EXPECT_EQ(ui_.closed, 1);
}

TEST_F(SimTransfer, ThreeNaksMakeTheDownloadFailWith44) {
    tq318::Faults faults;
    faults.nak_block = 1;
    faults.nak_times = 3;
    sim_->set_faults(faults);
    const std::string path = make_file("nak3.bin", pattern(1000, 3));
    EXPECT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), TOV_ERR_LOAD_FAILED);
    EXPECT_STREQ(reply_, "\r\n(null) Error!, Code:44, ");
    EXPECT_TRUE(ui_.questions.empty());
}

TEST_F(SimTransfer, ATimeoutBetweenNaksDoesNotCount) {
    tq318::Faults faults;
    faults.nak_block = 1;
    faults.nak_times = 2;
    faults.swallow_block = 1;
    faults.swallow_times = 1;
    sim_->set_faults(faults);
    const auto content = pattern(600, 4);
    const std::string path = make_file("mixed.bin", content);
    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), 0) << reply_;
    EXPECT_EQ(std::count(ui_.statuses.begin(), ui_.statuses.end(), "Receive Time Out!!"), 1);
    EXPECT_EQ(stored('a', "mixed.bin")->data, content);
}

TEST_F(SimTransfer, SilenceEndsTheTransferWithinTheBound) {
    tq318::Faults faults;
    faults.swallow_block = 1;
    faults.swallow_times = 1000;
    sim_->set_faults(faults);
    const std::string path = make_file("silent.bin", pattern(600, 6));
    begin_load();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tovrane::SendFile(kPort, path.c_str(), nullptr), TOV_ERR_SILENT);
    EXPECT_LT(elapsed_ms(t0), 12'500u);  // 5 waits of 2 s and the sends
    EXPECT_EQ(std::count(ui_.statuses.begin(), ui_.statuses.end(), "Receive Time Out!!"), 5);
    EXPECT_EQ(ui_.closed, 1);
}

TEST_F(SimTransfer, HangUpEndsTheTransferAtOnce) {
    tq318::Faults faults;
    faults.hangup_after_block = 2;
    sim_->set_faults(faults);
    const std::string path = make_file("hangup.bin", pattern(256 * 10, 7));
    begin_load();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tovrane::SendFile(kPort, path.c_str(), nullptr), TOV_ERR_TRANSFER_LINE);
    EXPECT_LT(elapsed_ms(t0), 1'900u);  // well before one answer time-out
    // The ACK written just before the hang-up may be lost with the line.
    EXPECT_GE(ui_.acks.size(), 1u);
    EXPECT_LE(ui_.acks.size(), 2u);
    EXPECT_EQ(ui_.closed, 1);
}

TEST_F(SimTransfer, AnotherAnswerByteEndsWith41) {
    tq318::Faults faults;
    faults.other_byte_block = 2;
    faults.other_byte = 'X';
    sim_->set_faults(faults);
    const std::string path = make_file("other.bin", pattern(256 * 3, 8));
    begin_load();
    EXPECT_EQ(tovrane::SendFile(kPort, path.c_str(), nullptr), TOV_ERR_BAD_ANSWER);
    ASSERT_FALSE(ui_.statuses.empty());
    EXPECT_EQ(ui_.statuses.back(), "NO NAK or ACK");
    EXPECT_EQ(ui_.acks.size(), 1u);
}

TEST_F(SimTransfer, MissingFileSendsTheNoFileBlock) {
    begin_load();
    EXPECT_EQ(tovrane::SendFile(kPort, (dir_ / "absent.bin").c_str(), nullptr), TOV_ERR_NO_FILE);
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"File no found!!"});
    EXPECT_TRUE(ui_.opened.empty());
    // The controller took the block of length 0 as "no file" and is back at its prompt.
    EXPECT_TRUE(sim_->wait_until_ready(2s));
    EXPECT_EQ(TOV_GetPrompt(kPort, 500, '>'), 0);
}

TEST_F(SimTransfer, UnreadableFileSendsNothing) {
    begin_load();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tovrane::SendFile(kPort, dir_.c_str(), nullptr), TOV_ERR_FILE_UNREADABLE);
    EXPECT_LT(elapsed_ms(t0), 500u);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_TRUE(ui_.opened.empty());
    EXPECT_TRUE(sim_->received_blocks().empty());
}

TEST_F(SimTransfer, NoWindowEndsWith43) {
    ui_.refuse_window = true;
    const std::string path = make_file("nowin.bin", pattern(10, 9));
    begin_load();
    EXPECT_EQ(tovrane::SendFile(kPort, path.c_str(), nullptr), TOV_ERR_WINDOW);
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"The block Dialog build Failure!!"});
}

TEST_F(SimTransfer, FullDiskWithYesDeletesAndSendsAgain) {
    start(disks(16, 3072));
    fill_disk('a', 12 * 1024);
    const auto content = pattern(8 * 1024, 10);
    const std::string path = make_file("new.bin", content);
    ui_.answers = {true};
    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), 0) << reply_;
    ASSERT_EQ(ui_.questions.size(), 1u);
    EXPECT_EQ(ui_.questions[0].text, "Delete all files!!");
    EXPECT_EQ(ui_.questions[0].caption, "Delete File");
    EXPECT_TRUE(lines_in_order({"load", "del", "Y", "load"}));
    EXPECT_FALSE(stored('a', "old.bin").has_value());
    ASSERT_TRUE(stored('a', "new.bin").has_value());
    EXPECT_EQ(stored('a', "new.bin")->data, content);
}

TEST_F(SimTransfer, FullDiskWithNoGives44AndDeletesNothing) {
    start(disks(16, 3072));
    fill_disk('a', 12 * 1024);
    const std::string path = make_file("new.bin", pattern(8 * 1024, 11));
    ui_.answers = {false};
    EXPECT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), TOV_ERR_LOAD_FAILED);
    EXPECT_STREQ(reply_, "\r\n(null) Error!, Code:44, ");
    EXPECT_EQ(ui_.questions.size(), 1u);
    EXPECT_FALSE(received_line("del"));
    EXPECT_TRUE(stored('a', "old.bin").has_value());
}

TEST_F(SimTransfer, StillFullAfterDeletingAsksAgain) {
    start(disks(4, 3072));
    const std::string path = make_file("huge.bin", pattern(8 * 1024, 12));
    ui_.answers = {true, false};
    EXPECT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), TOV_ERR_LOAD_FAILED);
    EXPECT_EQ(ui_.questions.size(), 2u);
    EXPECT_TRUE(lines_in_order({"load", "del", "Y", "load"}));
}

TEST_F(SimTransfer, DiskBSelectsLoadbAndDelb) {
    start(disks(1024, 16));
    fill_disk('b', 12 * 1024);
    const auto content = pattern(8 * 1024, 13);
    const std::string path = make_file("onb.bin", content);
    ui_.answers = {true};
    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'B', nullptr, 0, reply_), 0) << reply_;
    EXPECT_TRUE(lines_in_order({"loadb", "delb", "Y", "loadb"}));
    EXPECT_FALSE(received_line("load"));
    EXPECT_EQ(stored('b', "onb.bin")->data, content);
    EXPECT_FALSE(stored('a', "onb.bin").has_value());
}

TEST_F(SimTransfer, Mode1SendsLoadrWhateverTheDisk) {
    const std::string path = make_file("raw.bin", pattern(100, 14));
    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'b', nullptr, 1, reply_), 0) << reply_;
    EXPECT_TRUE(received_line("loadr"));
    EXPECT_FALSE(received_line("loadb"));
    EXPECT_TRUE(stored('a', "raw.bin").has_value());
    EXPECT_EQ(tovrane::last_load_mode(), 1);
}

TEST_F(SimTransfer, Mode3SendsACarriageReturnThenLoadfirmware) {
    const auto content = pattern(700, 15);
    const std::string path = make_file("fw.bin", content);
    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 3, reply_), 0) << reply_;
    EXPECT_TRUE(lines_in_order({"", "loadfirmware"}));
    EXPECT_EQ(stored('a', "fw.bin")->data, content);
    EXPECT_EQ(tovrane::last_load_mode(), 3);
}

TEST_F(SimTransfer, NullReplyBufferSendsNothing) {
    sim_->clear_received_lines();
    const std::string path = make_file("x.bin", pattern(10, 16));
    EXPECT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, nullptr), TOV_ERR_ARGUMENT);
    EXPECT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), nullptr), TOV_ERR_ARGUMENT);
    EXPECT_EQ(TOV_Del_All_Files(kPort, 'a', nullptr), TOV_ERR_ARGUMENT);
    EXPECT_TRUE(sim_->received_lines().empty());
}

TEST_F(SimTransfer, DelAllFilesEmptiesTheChosenDisk) {
    fill_disk('b', 100);
    fill_disk('a', 100);
    EXPECT_EQ(TOV_Del_All_Files(kPort, 'b', reply_), 0);
    EXPECT_TRUE(sim_->files('b').empty());
    EXPECT_FALSE(sim_->files('a').empty());
    EXPECT_TRUE(tovrane::ends_with_char(reply_, '>')) << reply_;
}

TEST_F(SimTransfer, UpdateUploadsAndInstalls) {
    const auto image = pattern(3000, 17);
    const std::string path = make_file("os.img", image);
    ASSERT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), reply_), 0) << reply_;
    ASSERT_TRUE(sim_->uploaded_image().has_value());
    EXPECT_EQ(*sim_->uploaded_image(), image);
    EXPECT_TRUE(sim_->image_installed());
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(ui_.cursor_max_depth, 1);
    EXPECT_EQ(ui_.cursor_depth, 0);
    EXPECT_NE(std::strstr(reply_, "installed"), nullptr) << reply_;
}

TEST_F(SimTransfer, UpdateFailedTransferReturnsItsCodeWhileTheTextSays100) {
    tq318::Faults faults;
    faults.nak_block = 1;
    faults.nak_times = 3;
    sim_->set_faults(faults);
    const std::string path = make_file("os.img", pattern(600, 18));
    EXPECT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), reply_), TOV_ERR_BLOCK_REFUSED);
    EXPECT_STREQ(reply_, "\r\n(null) Error!, Code:100, ");
    EXPECT_EQ(ui_.cursor_depth, 0);
    EXPECT_FALSE(sim_->image_installed());
}

TEST_F(SimTransfer, UpdateRejectsAReportWithoutCrcOrPrompt) {
    tq318::Faults faults;
    faults.upload_report = "\r\nImage lost";
    sim_->set_faults(faults);
    const std::string path = make_file("os.img", pattern(300, 19));
    EXPECT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), reply_), TOV_ERR_BAD_REPLY);
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"Load receive error"});
    EXPECT_STREQ(reply_, "\r\n(null) Error!, Code:46, ");
    EXPECT_EQ(ui_.cursor_depth, 0);
    EXPECT_FALSE(received_line("bios1"));
}

TEST_F(SimTransfer, UpdateAcceptsAReportEndingWithThePrompt) {
    tq318::Faults faults;
    faults.upload_report = "\r\nImage received\r\nTQ318-5314A>";
    sim_->set_faults(faults);
    const std::string path = make_file("os.img", pattern(300, 20));
    EXPECT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), reply_), 0) << reply_;
    EXPECT_TRUE(sim_->image_installed());
}

class Bios1Answer : public SimTransfer, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(Bios1Answer, OnlyFiftyCharactersWithPromptAskForAnUpload) {
    const std::size_t length = GetParam();
    std::string answer = "\r\nNo OS image in memory, please upload it first";
    answer.resize(length - 1, ' ');
    answer += '>';
    tq318::Faults faults;
    faults.bios1_answer = answer;
    sim_->set_faults(faults);
    const std::string path = make_file("os.img", pattern(300, 21));
    EXPECT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), reply_), 0);
    EXPECT_EQ(std::string(reply_), answer);
    const bool asked = std::count(ui_.messages.begin(), ui_.messages.end(), "Please Upload first!") == 1;
    EXPECT_EQ(asked, length == 50);
    EXPECT_EQ(ui_.cursor_depth, 0);
}
INSTANTIATE_TEST_SUITE_P(Lengths, Bios1Answer, ::testing::Values(49u, 50u, 51u));

TEST_F(SimTransfer, AnAnswerEndingWithADotIsReadOnceMore) {
    tq318::Faults faults;
    faults.bios1_answer = "\r\nInstalling image ... done.";
    sim_->set_faults(faults);
    const std::string path = make_file("os.img", pattern(300, 22));
    EXPECT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), reply_), 0);
    // Nothing followed: the second read keeps the answer rather than blanking it.
    EXPECT_STREQ(reply_, "\r\nInstalling image ... done.");
    EXPECT_TRUE(ui_.messages.empty());
}

// The Qt window during a real transfer: a UI that forwards to the Qt one and
// reads the window's counters at each step.
class WatchingQtUi : public RecordingUi {
public:
    std::vector<std::string> seen;

    std::unique_ptr<tovrane::ui::ProgressWindow> open_progress(std::string_view name) override {
        auto inner = tovrane::ui::qt_ui().open_progress(name);
        look();
        return std::make_unique<Watch>(*this, std::move(inner));
    }
    void remember_owner() override { tovrane::ui::qt_ui().remember_owner(); }

    void look() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() != tovrane::ui::qt_names::kDialog || !w->isVisible()) continue;
            auto text = [&](const char* n) { return w->findChild<QLabel*>(n)->text().toStdString(); };
            seen.push_back(text(tovrane::ui::qt_names::kBlockCounter) + "/" +
                           text(tovrane::ui::qt_names::kTotalCounter) + " " +
                           text(tovrane::ui::qt_names::kStatusLine));
            return;
        }
        seen.emplace_back("no window");
    }

private:
    class Watch : public tovrane::ui::ProgressWindow {
    public:
        Watch(WatchingQtUi& ui, std::unique_ptr<tovrane::ui::ProgressWindow> inner)
            : ui_(ui), inner_(std::move(inner)) {}
        void set_status(std::string_view t) override { inner_->set_status(t); }
        void block_acknowledged(std::uint32_t b, std::uint32_t n) override {
            inner_->block_acknowledged(b, n);
            ui_.look();
        }

    private:
        WatchingQtUi& ui_;
        std::unique_ptr<tovrane::ui::ProgressWindow> inner_;
    };
};

TEST_F(SimTransfer, QtWindowCountsTheAcknowledgedBlocks) {
    WatchingQtUi watching;
    ScopedUi scope(watching);
    const std::string path = make_file("qt.bin", pattern(256 * 2 + 1, 23));
    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, reply_), 0) << reply_;
    EXPECT_EQ(watching.seen, (std::vector<std::string>{"255/255 qt.bin", "1/3 qt.bin", "2/3 qt.bin",
                                                        "3/3 qt.bin"}));
    for (QWidget* w : QApplication::topLevelWidgets()) {
        EXPECT_NE(w->objectName(), tovrane::ui::qt_names::kDialog);
    }
}

}  // namespace

#endif  // HAVE_SIMULATOR
