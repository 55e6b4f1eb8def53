// Eight paced controllers repaired at once by one tovctl command: prints
// numbers, asserts nothing.
//   download phase: first "load" line on any controller to the last "dir"
//                   (sent once the last download ended): aggregate payload
//                   rate against eight times the link limit
//   cost:           CPU time of every tovctl process against the wall time
//   memory:         peak resident size of each tovctl process
//   simulators:     CPU time of this process (the simulators' threads)
// Arguments: a count of controllers (default 8); or --flows-package
// [--unpaced] for one controller repaired after --wait with the package of
// bench/flows (1 MiB program and 19 members of 4..64 KiB, seed 318), for the
// wall time beside the wizard's. Either may end with --adapter-latency MS
// (every controller behind the simulator's USB serial adapter).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "package_writer.h"
#include "tq318/simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

int kControllers = 8;  // argv[1] may give another count, for comparison
std::uint32_t kBaud = 115200;
constexpr int kMembers = 20;

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// VmHWM of a process in KiB, 0 when it is gone.
long peak_kib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

std::vector<pid_t> children_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<pid_t> out;
    for (pid_t p; in >> p;) out.push_back(p);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    // --adapter-latency MS (last two arguments): every controller behind the
    // simulator's USB serial adapter with that latency timer.
    std::uint32_t adapter_ms = 0;
    if (argc > 2 && std::string(argv[argc - 2]) == "--adapter-latency") {
        adapter_ms = static_cast<std::uint32_t>(std::max(0, std::atoi(argv[argc - 1])));
        argc -= 2;
    }
    const bool flows = argc > 1 && std::string(argv[1]) == "--flows-package";
    if (flows) {
        kControllers = 1;
        if (argc > 2 && std::string(argv[2]) == "--unpaced") kBaud = 0;
    } else if (argc > 1) {
        kControllers = std::max(1, std::atoi(argv[1]));
    }
    const fs::path dir = fs::temp_directory_path() / ("repair_cli_bench." + std::to_string(::getpid()));
    fs::create_directories(dir / "members");
    fs::create_directories(dir / "work");
    std::uint64_t payload = 0;
    std::size_t members = kMembers;
    if (flows) {
        std::mt19937_64 generator(318);
        auto add = [&](const std::string& name, std::size_t size) {
            std::string bytes(size, '\0');
            for (auto& b : bytes) b = static_cast<char>(generator());
            std::ofstream(dir / "members" / name, std::ios::binary) << bytes;
            payload += size;
        };
        add("tq318.exe", 1u << 20);
        std::uniform_int_distribution<std::size_t> sizes(4u << 10, 64u << 10);
        for (int i = 1; i <= 19; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "part%02d.bin", i);
            add(name, sizes(generator));
        }
    }
    for (int i = 0; i < kMembers && !flows; ++i) {
        const std::string name = i == 0 ? "tq318.exe" : "member" + std::to_string(i) + ".bin";
        const std::size_t size = i == 0 ? 40000 : 8000;
        std::ofstream(dir / "members" / name, std::ios::binary) << random_bytes(size, static_cast<unsigned>(i + 1));
        payload += size;
    }
    const fs::path package = dir / "tq318.hex";
    if (const std::string e = make_package::write_package({dir / "members", package, "", true}); !e.empty()) {
        std::fprintf(stderr, "package: %s\n", e.c_str());
        return 1;
    }

    std::vector<std::unique_ptr<tq318::Simulator>> sims;
    std::vector<std::string> argv_text{TOVCTL_PATH};
    for (int i = 0; i < kControllers; ++i) {
        tq318::SimulatorOptions o;
        o.baud = kBaud;
        o.adapter_latency_ms = adapter_ms;
        o.disk_a_kib = flows ? 8192 : 4096;
        o.disk_b_kib = flows ? 8192 : 3072;
        o.restart_after_open_ms = flows ? 100 : -1;
        sims.push_back(std::make_unique<tq318::Simulator>(o));
        sims.back()->start();
        argv_text.insert(argv_text.end(), {"--port", sims.back()->device_path()});
    }
    if (flows) {
        argv_text.insert(argv_text.end(), {"--json", "repair-firmware", package.string(), "--wait"});
    } else {
        argv_text.insert(argv_text.end(), {"--json", "repair-firmware", package.string(), "--disk", "a"});
    }

    rusage self_before{};
    ::getrusage(RUSAGE_SELF, &self_before);
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open((dir / "out.jsonl").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
        ::setenv("TEMP", (dir / "work").c_str(), 1);
        std::vector<char*> argv;
        for (auto& a : argv_text) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::map<pid_t, long> peaks;
    int status = 0;
    rusage usage{};
    while (true) {
        for (pid_t p : [&] {
                 auto all = children_of(pid);
                 all.push_back(pid);
                 return all;
             }()) {
            peaks[p] = std::max(peaks[p], peak_kib(p));
        }
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        std::this_thread::sleep_for(50ms);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    auto seconds = [](const rusage& u) {
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double cpu = seconds(usage);
    rusage self_after{};
    ::getrusage(RUSAGE_SELF, &self_after);
    // The simulators are threads of this process (with this loop's light polling).
    const double sim_cpu = seconds(self_after) - seconds(self_before);

    std::uint64_t first_load = UINT64_MAX, last_dir = 0;
    int verified = 0;
    for (auto& sim : sims) {
        for (const auto& [ms, line] : sim->received_lines_timed()) {
            if (line == "load") first_load = std::min(first_load, ms);
            if (line == "dir") last_dir = std::max(last_dir, ms);
        }
        verified += sim->files('a').size() == members ? 1 : 0;
    }
    std::ifstream results(dir / "out.jsonl");
    std::string last, line;
    while (std::getline(results, line)) last = line;

    const double phase = static_cast<double>(last_dir - first_load) / 1000.0;
    const double rate = static_cast<double>(payload) * kControllers / phase;
    const double limit = kControllers * kBaud / 10.0;
    std::printf("controllers %d at %u baud, adapter latency %u ms, %zu members, %llu payload bytes each\n",
                kControllers, kBaud, adapter_ms, members, static_cast<unsigned long long>(payload));
    std::printf("tovctl exit %d; %d of %d controllers hold every member; summary ok: %s\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, verified, kControllers,
                last.find("\"event\":\"summary\",\"command\":\"repair-firmware\",\"ok\":true") != std::string::npos
                    ? "yes"
                    : "no");
    std::printf("download phase %.2f s: %.0f B/s aggregate payload, %.1f %% of %d x %u B/s\n", phase, rate,
                100.0 * rate / limit, kControllers, kBaud / 10);
    std::printf("wall %.2f s, tovctl CPU %.3f s (all processes) = %.1f %% of one core\n", wall, cpu,
                100.0 * cpu / wall);
    std::printf("simulators CPU %.3f s = %.1f %% of one core\n", sim_cpu, 100.0 * sim_cpu / wall);
    for (const auto& [p, kib] : peaks) {
        std::printf("peak RSS pid %d%s: %ld KiB\n", p, p == pid ? " (parent)" : "", kib);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
