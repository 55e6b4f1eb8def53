// tovctl and the serial layer through the simulator's USB serial adapter
// (62-byte packets, a partial packet only after 16 or 40 ms): the same output
// as on the direct line, replies not cut by the settle time, and an adapter
// pulled out in the middle of a command named as the cause.
#include <stdlib.h>

#include <cstring>

#include "pty_peer.h"
#include "spawn.h"
#include "uart.h"

namespace {

using namespace tovctl_test;

// One simulated controller (behind the adapter when `latency_ms` > 0) with
// `files` files of fixed dates on disk A; one name holds the prompt character.
class Line {
public:
    Line(std::uint32_t latency_ms, int files, std::uint32_t baud = 0) : sim(options(latency_ms, baud)) {
        ::setenv("XDG_STATE_HOME", state_.path().c_str(), 1);
        sim.start();
        for (int i = 0; i < files; ++i) {
            tq318::StoredFile f;
            f.name = i == files - 2 ? "a>b.txt" : "file" + std::to_string(i) + ".bin";
            f.data.assign(300 + static_cast<std::size_t>(i) * 37, static_cast<std::uint8_t>(i));
            f.year = 2026, f.month = 12, f.day = 6, f.hour = 12, f.minute = 34, f.seconds2 = static_cast<std::uint16_t>(i % 30);
            sim.put_file('a', f);
        }
        sim.put_file('b', tq318::StoredFile{"web.bin", std::vector<std::uint8_t>(5000, 7)});
    }
    Result tov(Args args) {
        args.insert(args.begin(), {"--port", sim.device_path()});
        Result r = run(TOVCTL_PATH, args);
        sim.wait_for_slave(false, 2s);
        return r;
    }
    // The length of the raw "dir" reply as the serial layer collects it.
    std::size_t dir_length() {
        testing_support::ComMapping mapping(kPort, sim.device_path());
        char reply[4096] = "";
        std::uint16_t scratch = 0;
        EXPECT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK);
        EXPECT_EQ(Exchange_Cmd(kPort, "dir", reply, sizeof reply, 3000, 0, &scratch, '>'), UART_OK);
        Close_Com(kPort);
        sim.wait_for_slave(false, 2s);
        return std::strlen(reply);
    }
    static constexpr std::uint8_t kPort = 41;
    testing_support::TempDir state_;
    tq318::Simulator sim;

private:
    static tq318::SimulatorOptions options(std::uint32_t latency_ms, std::uint32_t baud) {
        tq318::SimulatorOptions o;
        o.adapter_latency_ms = latency_ms;
        if (baud) o.baud = baud;
        return o;
    }
};

// The commands whose output is compared; sets come before the reads that show them.
const std::vector<Args> kScript = {
    {"ver"}, {"--json", "ver"}, {"dir"}, {"--json", "dir"}, {"dir", "b"}, {"free"}, {"--json", "free", "b"},
    {"ip"}, {"ip", "10.1.2.3"}, {"--json", "ip"}, {"mask", "255.255.0.0"}, {"mask"},
    {"gateway", "10.1.0.1"}, {"gateway"}, {"com", "2", "19200", "7", "e", "2"}, {"--json", "com", "2"},
    {"disksize"}, {"disksize", "2048", "4096"}, {"--json", "disksize"}, {"prompt"},
};

}  // namespace

// A listing of nearly 2048 bytes with the prompt character inside a file
// name: the adapter hands it over in full packets with a late partial one,
// and every command gives the direct line's output. How the serial layer
// collects such replies is the reply collector's table.
TEST(ThroughAdapter, QueriesAndSettingsGiveTheDirectLinesOutput) {
    const std::size_t length = Line(0, 36).dir_length();
    ASSERT_GT(length, 1900u);
    ASSERT_LT(length, 2047u);
    for (const std::uint32_t latency : {16u, 40u}) {
        Line direct(0, 36), adapter(latency, 36);
        for (const Args& args : kScript) {
            SCOPED_TRACE(args.back() + " at " + std::to_string(latency) + " ms");
            const Result want = direct.tov(args), got = adapter.tov(args);
            EXPECT_EQ(want.status, 0) << want.err;
            EXPECT_EQ(got.status, want.status) << got.err;
            EXPECT_EQ(got.out, want.out);
            EXPECT_EQ(got.err, want.err);
        }
    }
}

// An adapter pulled out (the pty's master side closes) while a query waits
// for its reply or in the middle of a transfer's blocks: tovctl names the cause.
TEST(Unplug, TovctlSaysTheAdapterWasDisconnected) {
    testing_support::TempDir dir;
    testing_support::write_file(dir / "big.bin", random_bytes(200'000, 13));
    struct Row {
        std::uint32_t latency;
        Args args;
        std::size_t blocks;  // a transfer: unplugged after the header and 20 data blocks
    } rows[] = {
        {16, {"dir"}, 0},
        {0, {"--json", "ver"}, 0},
        {40, {"load", (dir / "big.bin").string()}, 21},  // some 17 s of blocks: the unplug lands in the middle
    };
    for (const Row& row : rows) {
        const std::string command = row.args[row.args[0] == "--json" ? 1 : 0];
        SCOPED_TRACE(command + " at " + std::to_string(row.latency) + " ms");
        Line line(row.latency, 0, row.blocks > 0 ? 115200 : 0);
        tq318::Faults f;
        if (row.blocks == 0) f.mute_commands = {command};  // the query is waiting when the line goes
        line.sim.set_faults(f);
        Args args = row.args;
        args.insert(args.begin(), {"--port", line.sim.device_path()});
        Child child(TOVCTL_PATH, args);
        ASSERT_TRUE(line.sim.wait_for_line(command, 10s) && (row.blocks == 0 || line.sim.wait_for_blocks(row.blocks, 10s)))
            << child.finish(0s).err;
        line.sim.hang_up();
        const Result r = child.finish(10s);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("tovctl " + command + ": Serial adapter disconnected !!"), std::string::npos) << r.err;
        if (row.args[0] == "--json") {
            EXPECT_NE(r.out.find("\"disconnected\":true"), std::string::npos) << r.out;
        }
        if (row.blocks > 0) { EXPECT_TRUE(line.sim.files('a').empty()); }
    }
}
