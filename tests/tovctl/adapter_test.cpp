// tovctl and the serial layer through the simulator's USB serial adapter
// (62-byte packets, a partial packet only after 16 or 40 ms): the same output
// as on the direct line, replies not cut by the settle time, and an adapter
// pulled out in the middle of a command ends it within a second.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "pty_peer.h"
#include "spawn.h"
#include "temp_dir.h"
#include "tq318/simulator.h"
#include "uart.h"

namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using tovctl_test::Args;
using tovctl_test::Result;
using testing_support::TempDir;

const std::string kDisconnected = "Serial adapter disconnected !!";

tq318::SimulatorOptions through_adapter(std::uint32_t latency_ms, const std::string& model = "TQ318-5314A") {
    tq318::SimulatorOptions o;
    o.adapter_latency_ms = latency_ms;
    o.model = model;
    return o;
}

// `count` files on disk A with fixed dates, so listings are alike on every
// run; with `prompt_in_name`, one name holds the prompt character.
void fill(tq318::Simulator& sim, int count, bool prompt_in_name) {
    for (int i = 0; i < count; ++i) {
        tq318::StoredFile f;
        f.name = "file" + std::to_string(i) + ".bin";
        if (prompt_in_name && i == count - 2) f.name = "a>b.txt";
        f.data.assign(300 + static_cast<std::size_t>(i) * 37, static_cast<std::uint8_t>(i));
        f.year = 2026, f.month = 12, f.day = 6, f.hour = 12, f.minute = 34, f.seconds2 = static_cast<std::uint16_t>(i % 30);
        sim.put_file('a', f);
    }
    tq318::StoredFile b;
    b.name = "web.bin";
    b.data.assign(5000, 7);
    sim.put_file('b', b);
}

// One simulated controller and tovctl runs against it.
class Line {
public:
    explicit Line(tq318::SimulatorOptions o) : sim(o) {
        ::setenv("XDG_STATE_HOME", state_.path().c_str(), 1);
        sim.start();
    }
    Result tov(Args args) {
        args.insert(args.begin(), {"--port", sim.device_path()});
        Result r = tovctl_test::run(TOVCTL_PATH, args);
        sim.wait_for_slave(false, 2s);
        return r;
    }
    // The raw "dir" reply as the serial layer collects it.
    std::string dir_reply() {
        testing_support::ComMapping mapping(kPort, sim.device_path());
        if (Open_Com(kPort, 115200, 8, 0, 0) != UART_OK) return "(open failed)";
        char reply[4096] = "";
        std::uint16_t scratch = 0;
        const std::uint16_t r = Exchange_Cmd(kPort, "dir", reply, sizeof reply, 3000, 0, &scratch, '>');
        Close_Com(kPort);
        sim.wait_for_slave(false, 2s);
        return r == UART_OK ? std::string(reply) : "(code " + std::to_string(r) + ")";
    }
    static constexpr std::uint8_t kPort = 41;
    TempDir state_;
    tq318::Simulator sim;
};

// The commands whose output is compared; sets come before the reads that show them.
const std::vector<Args> kScript = {
    {"ver"}, {"--json", "ver"}, {"dir"}, {"--json", "dir"}, {"dir", "b"}, {"free"}, {"--json", "free", "b"},
    {"ip"}, {"ip", "10.1.2.3"}, {"--json", "ip"}, {"mask", "255.255.0.0"}, {"mask"},
    {"gateway", "10.1.0.1"}, {"gateway"}, {"com", "2", "19200", "7", "e", "2"}, {"--json", "com", "2"},
    {"disksize"}, {"disksize", "2048", "4096"}, {"--json", "disksize"}, {"prompt"},
};

void expect_same_as_direct(std::uint32_t latency, const std::string& model, int files) {
    Line direct(through_adapter(0, model)), adapter(through_adapter(latency, model));
    fill(direct.sim, files, true);
    fill(adapter.sim, files, true);
    for (const Args& args : kScript) {
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        SCOPED_TRACE(shown + "at " + std::to_string(latency) + " ms");
        const Result want = direct.tov(args), got = adapter.tov(args);
        EXPECT_EQ(want.status, 0) << want.err;
        EXPECT_EQ(got.status, want.status) << got.err;
        EXPECT_EQ(got.out, want.out);
        EXPECT_EQ(got.err, want.err);
    }
}

// The "dir" reply's length on a controller of this model with `files` files.
std::size_t dir_length(const std::string& model, int files) {
    Line line(through_adapter(0, model));
    fill(line.sim, files, true);
    return line.dir_reply().size();
}

}  // namespace

// A listing of nearly 2048 bytes with the prompt character inside a file name:
// the adapter hands it over in full packets with a late partial one, and the
// reply is still taken whole.
TEST(ThroughAdapter, QueriesAndSettingsGiveTheDirectLinesOutput) {
    constexpr int kFiles = 36;
    const std::size_t length = dir_length("TQ318-5314A", kFiles);
    ASSERT_GT(length, 1900u);
    ASSERT_LT(length, 2047u);
    for (const std::uint32_t latency : {16u, 40u}) expect_same_as_direct(latency, "TQ318-5314A", kFiles);
}

// A listing of exactly N packets and its prompt: the end character comes
// alone in its own packet, one latency timer after the rest. The serial
// layer's reply is compared; what tovctl makes of a reply is the test above.
TEST(ThroughAdapter, EndCharacterInItsOwnLatePacket) {
    constexpr int kFiles = 12;
    std::string model = "TQ318-5314A";
    const std::size_t base = dir_length(model, kFiles);
    model += std::string((62 + 1 - base % 62) % 62, 'X');
    ASSERT_EQ(dir_length(model, kFiles) % 62, 1u);
    for (const std::uint32_t latency : {16u, 40u}) {
        Line direct(through_adapter(0, model)), adapter(through_adapter(latency, model));
        fill(direct.sim, kFiles, true);
        fill(adapter.sim, kFiles, true);
        const std::string want = direct.dir_reply();
        EXPECT_EQ(want.back(), '>');
        EXPECT_EQ(adapter.dir_reply(), want) << latency << " ms";
    }
}

// A read without an end character ends when the line is quiet; through an
// adapter the quiet must outlast the adapter's pause before a partial packet.
TEST(ThroughAdapter, ReplyReadWithoutEndCharacterIsNotCut) {
    for (const std::uint32_t latency : {16u, 40u}) {
        SCOPED_TRACE(std::to_string(latency) + " ms");
        Line line(through_adapter(latency));
        fill(line.sim, 20, false);
        testing_support::ComMapping mapping(Line::kPort, line.sim.device_path());
        ASSERT_EQ(Open_Com(Line::kPort, 115200, 8, 0, 0), UART_OK);
        char whole[4096] = "";
        std::uint16_t scratch = 0;
        ASSERT_EQ(Exchange_Cmd(Line::kPort, "dir", whole, sizeof whole, 3000, 0, &scratch, '>'), UART_OK);
        ASSERT_GT(std::strlen(whole), 62u * 3);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(Send_Cmd(Line::kPort, "dir", 0), UART_OK);
            char read[UART_TEXT_CAPACITY] = "";
            EXPECT_EQ(Receive_Cmd(Line::kPort, read, 2000, 0, &scratch), UART_OK);
            EXPECT_STREQ(read, whole) << "read " << i;
            char rest[4096] = "";
            Read_Until(Line::kPort, rest, sizeof rest, 200, 0, &scratch, '>');  // nothing left over
            EXPECT_STREQ(rest, "");
        }
        Close_Com(Line::kPort);
    }
}

namespace {

// tovctl `args` started on `line`; once the simulator has received the line
// `started_at` (and acknowledged `blocks` blocks of a transfer) the adapter is
// pulled out (the pty's master side closes).
struct Unplugged {
    Result result;
    milliseconds after_unplug{};
};

Unplugged unplug_during(Line& line, Args args, const std::string& started_at, std::size_t blocks = 0) {
    ::setenv("XDG_STATE_HOME", line.state_.path().c_str(), 1);
    args.insert(args.begin(), {"--port", line.sim.device_path()});
    tovctl_test::Child child(TOVCTL_PATH, args);
    Unplugged u;
    if (!line.sim.wait_for_line(started_at, 10s) || (blocks > 0 && !line.sim.wait_for_blocks(blocks, 10s))) {
        u.result = child.finish();
        ADD_FAILURE() << "never received " << started_at << ": " << u.result.err;
        return u;
    }
    const auto at = steady_clock::now();
    line.sim.hang_up();
    u.result = child.finish();
    u.after_unplug = duration_cast<milliseconds>(steady_clock::now() - at);
    std::printf("%s: ended %lld ms after the unplug\n", started_at.c_str(),
                static_cast<long long>(u.after_unplug.count()));
    return u;
}

void expect_disconnected(const Unplugged& u, const std::string& command) {
    EXPECT_EQ(u.result.status, 1) << u.result.err;
    EXPECT_LT(u.after_unplug, 1000ms);
    EXPECT_NE(u.result.err.find("tovctl " + command + ": " + kDisconnected), std::string::npos) << u.result.err;
}

}  // namespace

// An adapter pulled out while a query waits for its reply or in the middle of
// a transfer's blocks: tovctl names the cause within a second.
TEST(Unplug, TovctlSaysTheAdapterWasDisconnected) {
    TempDir dir;
    std::string payload(200'000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 13);
    testing_support::write_file(dir / "big.bin", payload);
    struct Row {
        std::uint32_t latency;
        Args args;
        std::string command;
        std::size_t blocks;  // a transfer: unplugged after the header and 20 data blocks
    } rows[] = {
        {0, {"dir"}, "dir", 0},
        {16, {"dir"}, "dir", 0},
        {0, {"--json", "ver"}, "ver", 0},
        {0, {"load", (dir / "big.bin").string()}, "load", 21},
        {40, {"load", (dir / "big.bin").string()}, "load", 21},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command + " at " + std::to_string(row.latency) + " ms");
        auto o = through_adapter(row.latency);
        if (row.blocks > 0) o.baud = 115200;  // some 17 s of blocks: the unplug lands in the middle
        Line line(o);
        tq318::Faults f;
        if (row.blocks == 0) f.mute_commands = {row.command};  // the query is waiting when the line goes
        line.sim.set_faults(f);
        const Unplugged u = unplug_during(line, row.args, row.command, row.blocks);
        expect_disconnected(u, row.command);
        if (row.args[0] == "--json") {
            EXPECT_NE(u.result.out.find("\"disconnected\":true"), std::string::npos) << u.result.out;
        }
        if (row.blocks > 0) {
            EXPECT_TRUE(line.sim.files('a').empty());
        }
    }
}
