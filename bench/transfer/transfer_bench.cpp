// Transfer throughput and cost: prints numbers, asserts nothing.
//   paced 115200: payload B/s against the link limit, sender CPU share
//   unpaced pty:  blocks/s and sender CPU per block
//   anchor:       lrzsz sx -k (XMODEM-1K) to rx over a socat pty pair, same file
//   memory:       peak RSS of a process that sends 4 MiB (run as a child)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "exchange.h"
#include "sections.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "transfer.h"
#include "uart.h"

namespace {

namespace fs = std::filesystem;
constexpr std::uint8_t kPort = 9;

double now_s() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double thread_cpu_s() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string make_file(const fs::path& dir, const std::string& name, std::size_t size) {
    std::vector<char> data(size);
    std::uint32_t x = 12345;
    for (auto& c : data) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    const fs::path p = dir / name;
    std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));
    return p.string();
}

struct Run {
    std::uint16_t code = 0;
    double wall_s = 0;
    double cpu_s = 0;
};

// One transfer with SendFile alone (the console's load exchange and the
// final store are outside the timed part).
Run timed_transfer(tq318::Simulator& sim, const std::string& path) {
    char reply[2048];
    Run run;
    if (tovrane::exchange(kPort, "loadb", reply, 2400, '!') != 0) {
        run.code = 0xFFFF;
        return run;
    }
    const double t0 = now_s();
    const double c0 = thread_cpu_s();
    run.code = tovrane::SendFile(kPort, path.c_str(), nullptr);
    run.cpu_s = thread_cpu_s() - c0;
    run.wall_s = now_s() - t0;
    std::uint16_t scratch = 0;
    Read_Until(kPort, reply, 1001, 20000, 0, &scratch, '>');
    (void)sim;
    return run;
}

bool open_on(tq318::Simulator& sim) {
    sim.start();
    ::setenv("UART_COM9", sim.device_path().c_str(), 1);
    return Open_Com(kPort, 115200, 8, 0, 0) == 0 && sim.wait_until_ready(std::chrono::seconds(3));
}

void paced(const fs::path& dir) {
    tq318::SimulatorOptions o;
    o.baud = 115200;
    o.disk_b_kib = 8192;
    tq318::Simulator sim(o);
    if (!open_on(sim)) {
        std::puts("paced: cannot open the simulator");
        return;
    }
    const std::string path = make_file(dir, "paced.bin", 256 * 1024);
    const Run r = timed_transfer(sim, path);
    Close_Com(kPort);
    const double limit = 115200.0 / 10.0 * 256.0 / 261.0;
    const double rate = 256.0 * 1024.0 / r.wall_s;
    std::printf("paced 115200, 256 KiB: code %u, %.3f s, %.0f payload B/s = %.1f%% of the %.0f B/s limit; "
                "sender CPU %.3f s = %.2f%% of wall\n",
                r.code, r.wall_s, rate, 100.0 * rate / limit, limit, r.cpu_s, 100.0 * r.cpu_s / r.wall_s);
}

void unpaced(const fs::path& dir, const std::string& path) {
    tq318::SimulatorOptions o;
    o.disk_b_kib = 8192;
    tq318::Simulator sim(o);
    if (!open_on(sim)) {
        std::puts("unpaced: cannot open the simulator");
        return;
    }
    (void)dir;
    const Run r = timed_transfer(sim, path);
    Close_Com(kPort);
    const double blocks = static_cast<double>(fs::file_size(path) / 256);
    std::printf("unpaced pty, %.0f KiB: code %u, %.3f s, %.0f blocks/s, %.0f KiB/s, sender CPU %.1f us/block (%.1f%% of wall)\n",
                static_cast<double>(fs::file_size(path)) / 1024.0, r.code, r.wall_s, blocks / r.wall_s,
                static_cast<double>(fs::file_size(path)) / 1024.0 / r.wall_s, 1e6 * r.cpu_s / blocks,
                100.0 * r.cpu_s / r.wall_s);
}

// Starts `argv` in `cwd` with stdin and stdout on the device `tty`, stderr discarded.
pid_t spawn_on(const std::string& tty, const fs::path& cwd, std::vector<const char*> argv) {
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY);
        const int null_fd = ::open("/dev/null", O_WRONLY);
        if (fd < 0 || null_fd < 0 || ::chdir(cwd.c_str()) != 0) _exit(126);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(null_fd, 2);
        execvp(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    return pid;
}

double children_cpu_s() {
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// lrzsz over a socat pty pair (rx refuses a path with a slash, so it runs in `dir`). The time is taken when rx has the whole file:
// sx is known to linger on the final EOT handshake over a pty pair, so it is
// ended once rx is done.
void lrzsz_anchor(const fs::path& dir, const std::string& path) {
    const std::string a = (dir / "ptyA").string();
    const std::string b = (dir / "ptyB").string();
    const std::string out = (dir / "rx.out").string();
    const pid_t socat = fork();
    if (socat == 0) {
        const std::string l = "pty,raw,echo=0,link=" + a;
        const std::string r = "pty,raw,echo=0,link=" + b;
        execlp("socat", "socat", l.c_str(), r.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200 && !(fs::exists(a) && fs::exists(b)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // socat creating the links
    }
    const double cpu0 = children_cpu_s();
    const double t0 = now_s();
    const pid_t rx = spawn_on(b, dir, {"rx", "-c", "-q", "rx.out"});
    const pid_t sx = spawn_on(a, dir, {"sx", "-k", "-q", path.c_str()});
    int rx_status = 0;
    waitpid(rx, &rx_status, 0);
    const double wall = now_s() - t0;
    kill(sx, SIGTERM);
    waitpid(sx, nullptr, 0);
    const double cpu = children_cpu_s() - cpu0;
    kill(socat, SIGTERM);
    waitpid(socat, nullptr, 0);
    const double size = static_cast<double>(fs::file_size(path));
    bool same = false;
    {
        std::ifstream x(path, std::ios::binary), y(out, std::ios::binary);
        const std::string sx_data((std::istreambuf_iterator<char>(x)), {});
        const std::string rx_data((std::istreambuf_iterator<char>(y)), {});
        same = rx_data.size() >= sx_data.size() && rx_data.compare(0, sx_data.size(), sx_data) == 0;
    }
    std::printf("lrzsz sx -k -> rx -c over a socat pty pair, %.0f KiB: rx status %d, file %s, %.3f s, "
                "%.0f KiB/s = %.0f 1K-blocks/s (sx+rx CPU %.3f s)\n",
                size / 1024.0, WEXITSTATUS(rx_status), same ? "identical" : "DIFFERENT", wall,
                size / 1024.0 / wall, size / 1024.0 / wall, cpu);
}

// Child: open the port and send the file, then report the peak RSS.
int rss_child(const char* path) {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const long base = ru.ru_maxrss;
    if (Open_Com(kPort, 115200, 8, 0, 0) != 0) return 2;
    char reply[2048];
    const std::uint16_t code = TOV_Load_File(kPort, path, 'b', nullptr, 0, reply);
    getrusage(RUSAGE_SELF, &ru);
    std::printf("4 MiB download: code %u, peak RSS %ld KiB (%ld KiB before the transfer)\n", code, ru.ru_maxrss, base);
    Close_Com(kPort);
    return code == 0 ? 0 : 1;
}

void rss(const fs::path& dir, const char* self) {
    tq318::SimulatorOptions o;
    o.disk_b_kib = 8192;
    tq318::Simulator sim(o);
    sim.start();
    const std::string path = make_file(dir, "big.bin", 4 * 1024 * 1024);
    ::setenv("UART_COM9", sim.device_path().c_str(), 1);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        execl(self, self, "--rss-child", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--rss-child") == 0) return rss_child(argv[2]);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Sections to run: paced, unpaced, lrzsz, rss (all when none is named).
    const auto wanted = [&](const char* name) { return section_wanted(argc, argv, name); };
    char templ[] = "/tmp/transfer_bench_XXXXXX";
    const fs::path dir(::mkdtemp(templ));
    if (wanted("paced")) paced(dir);
    const std::string four = make_file(dir, "unpaced.bin", 4 * 1024 * 1024);
    if (wanted("unpaced")) unpaced(dir, four);
    if (wanted("lrzsz")) lrzsz_anchor(dir, four);
    if (wanted("rss")) rss(dir, argv[0]);
    fs::remove_all(dir);
    return 0;
}
