// flows_bench: the wizard's firmware repair ("(2). Repair Firmware") end to
// end, against the simulated controller paced at 115200 baud and unpaced.
// Prints numbers, asserts nothing.
//
// The package: tq318.hex, a compressed cabinet holding file.lst, auth.key,
// the 1 MiB program file tq318.exe and 19 more members of 4..64 KiB random
// bytes. Each run:
//   - the parent starts a fresh simulator (disks A and B 8 MiB each, one junk
//     file on each so that the emptying shows) and runs the wizard in a child
//     process, so that the child's peak resident memory is the wizard's own;
//   - the child (offscreen Qt) builds the real window, connects on COM 1 (the
//     simulator's pty, via UART_COM1), waits for the banner like a
//     technician would, then clicks "(2). Repair Firmware" with the file
//     dialog answering the package path;
//   - the child reports the time of every status-panel text, of every file
//     written into the work folder (inotify on its TEMP folder: the work
//     folder is made there), the message boxes and its VmHWM;
//   - the parent splits the wall time with those and the simulator's
//     timestamped console lines, then checks disk A byte for byte.
// All times are steady-clock milliseconds, one clock for both processes.
//
// Options: --unpaced-only (skips the paced run, which takes about 2.5 min),
// --keep (leaves the scratch folder /tmp/flows_bench.XXXXXX). With the
// environment variable FLOWS_BENCH_LINES set, every console line, panel text
// and work-folder file is listed with its time from the click.
#include <QApplication>
#include <QGroupBox>
#include <QPushButton>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <tq318/simulator.h>

#include "dialogs.h"
#include "form1.h"
#include "package_writer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kProgramSize = 1u << 20;
constexpr int kOtherMembers = 19;
constexpr std::size_t kSmallest = 4u << 10;
constexpr std::size_t kLargest = 64u << 10;
constexpr std::uint32_t kDiskKib = 8192;
constexpr double kSettleMs = 1000;       // from step 3 showing to the click
constexpr int kChildAlarmSeconds = 1200;  // a hung child ends instead of hanging the bench
const char* const kPackageName = "tq318.hex";
const char* const kJunkName = "junk.bin";

double nowMs() { return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count(); }

// One line of text with its line ends made visible.
std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

// ======================================================================= child

// Answers the open-file dialog with the package and records message boxes.
class AnsweringDialogs final : public pelorim::Dialogs {
public:
    explicit AnsweringDialogs(QString package) : package_(std::move(package)) {}
    std::vector<std::pair<double, QString>> messages;
    void message(QWidget*, const QString& text) override { messages.emplace_back(nowMs(), text); }
    QString openFile(QWidget*, const pelorim::OpenFileRequest&) override { return package_; }

private:
    QString package_;
};

// A field of /proc/self/status in kB (VmHWM, VmRSS), -1 when missing.
long statusKib(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
    }
    return -1;
}

// Watches the TEMP folder from a thread: the work folder the flow creates
// there gets a watch of its own, and every file finished in it (closed after
// writing, or renamed into place) is stamped with the time it was seen.
class FolderWatch {
public:
    explicit FolderWatch(const fs::path& parent) : parent_(parent) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) inotify_add_watch(fd_, parent.c_str(), IN_CREATE);
        thread_ = std::thread([this] { run(); });
    }
    ~FolderWatch() { stop(); }
    void stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // (time, name) of each file finished in the work folder, in order.
    std::vector<std::pair<double, std::string>> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void run() {
        if (fd_ < 0) return;
        alignas(inotify_event) char buffer[16384];
        while (!stopping_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            const double t = nowMs();
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                const std::string name = e->len > 0 ? std::string(e->name) : std::string();
                if ((e->mask & IN_CREATE) && (e->mask & IN_ISDIR) && workDirWatch_ < 0) {
                    workDirWatch_ = inotify_add_watch(fd_, (parent_ / name).c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
                } else if (e->wd == workDirWatch_ && (e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO))) {
                    std::lock_guard lock(mutex_);
                    events_.emplace_back(t, name);
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
    }

    fs::path parent_;
    int fd_ = -1;
    int workDirWatch_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::pair<double, std::string>> events_;
};

// Child mode: flows_bench --child PACKAGE. Prints tagged lines on stdout.
int runChild(int argc, char** argv) {
    ::alarm(kChildAlarmSeconds);
    const QString package = QString::fromLocal8Bit(argv[2]);
    QApplication app(argc, argv);

    const char* temp = std::getenv("TEMP");
    FolderWatch watch(temp != nullptr ? fs::path(temp) : fs::temp_directory_path());

    auto dialogs = std::make_shared<AnsweringDialogs>(package);
    pelorim::Form1::Services services;
    services.dialogs = dialogs;
    std::vector<int> exits;
    services.terminate = [&exits](int code) { exits.push_back(code); };
    services.startTimer = false;
    pelorim::Form1 window(std::move(services));

    std::vector<std::tuple<double, int, QString>> panels;
    QObject::connect(&window, &pelorim::Form1::panelChanged,
                     [&panels](int panel, const QString& text) { panels.emplace_back(nowMs(), panel, text); });

    if (!window.guarded([&window] { window.Form_Load(); })) {
        std::printf("ERROR start-up failed\n");
        return 1;
    }
    window.centreOnScreen();
    window.show();
    QCoreApplication::processEvents();

    // Step 1 and 2: connect, then detection runs until the simulator's banner.
    window.ComConnect->click();
    std::printf("MODE %s\n", qPrintable(window.modeCode()));
    if (window.stepFrame() != window.Frame_Step3) {
        std::printf("ERROR detection did not reach step 3\n");
        return 1;
    }
    // The controller prints its prompt 100 ms after the banner and ignores
    // input before it; a technician reads the screen before clicking. The
    // flow sends "del" a few milliseconds after the click and never checks
    // its answer, so clicking straight away would leave disk A as it was.
    const double settleUntil = nowMs() + kSettleMs;
    while (nowMs() < settleUntil) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::printf("HWM_BEFORE %ld\n", statusKib("VmHWM"));

    // Step 3: the firmware repair, as the button runs it.
    panels.clear();
    const double clicked = nowMs();
    window.ComUpload->click();
    const double returned = nowMs();
    watch.stop();

    std::printf("HWM %ld\n", statusKib("VmHWM"));
    std::printf("RSS %ld\n", statusKib("VmRSS"));
    std::printf("CLICK %.3f\n", clicked);
    std::printf("DONE %.3f\n", returned);
    for (const auto& [t, panel, text] : panels) {
        std::printf("PANEL %.3f %d %s\n", t, panel, oneLine(text.toStdString()).c_str());
    }
    for (const auto& [t, name] : watch.events()) std::printf("FILE %.3f %s\n", t, name.c_str());
    for (const auto& [t, text] : dialogs->messages) {
        std::printf("MSG %.3f %s\n", t, oneLine(text.toStdString()).c_str());
    }
    for (int code : exits) std::printf("EXIT %d\n", code);
    std::fflush(stdout);
    return 0;
}

// ====================================================================== parent

struct Member {
    std::string name;
    std::vector<std::uint8_t> data;
};

struct ChildReport {
    bool ok = false;
    std::string mode;
    std::string error;
    long hwmBefore = -1, hwm = -1, rss = -1;
    long maxrssKib = -1;  // getrusage of the child
    int status = -1;
    double clicked = 0, done = 0;
    std::vector<std::tuple<double, int, std::string>> panels;
    std::vector<std::pair<double, std::string>> files;
    std::vector<std::pair<double, std::string>> messages;
};

// Runs this program in child mode; its stderr goes to `log`.
ChildReport runWizardChild(const fs::path& package, const fs::path& log) {
    ChildReport report;
    int out[2];
    if (::pipe(out) != 0) return report;
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        if (FILE* err = std::fopen(log.c_str(), "w")) ::dup2(fileno(err), STDERR_FILENO);
        ::execl(self.c_str(), self.c_str(), "--child", package.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    rusage usage{};
    ::wait4(pid, &report.status, 0, &usage);
    report.maxrssKib = usage.ru_maxrss;

    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string tag;
        in >> tag;
        auto rest = [&in] {
            std::string r;
            std::getline(in, r);
            return r.empty() ? r : r.substr(1);
        };
        if (tag == "MODE") report.mode = rest();
        else if (tag == "ERROR") report.error = rest();
        else if (tag == "HWM_BEFORE") in >> report.hwmBefore;
        else if (tag == "HWM") in >> report.hwm;
        else if (tag == "RSS") in >> report.rss;
        else if (tag == "CLICK") in >> report.clicked;
        else if (tag == "DONE") in >> report.done;
        else if (tag == "PANEL") {
            double t = 0;
            int panel = 0;
            in >> t >> panel;
            report.panels.emplace_back(t, panel, rest());
        } else if (tag == "FILE") {
            double t = 0;
            in >> t;
            report.files.emplace_back(t, rest());
        } else if (tag == "MSG") {
            double t = 0;
            in >> t;
            report.messages.emplace_back(t, rest());
        }
    }
    report.ok = WIFEXITED(report.status) && WEXITSTATUS(report.status) == 0 && report.done > 0;
    return report;
}

struct RunResult {
    std::string label;
    bool ran = false;
    std::string failure;
    // phases, ms (negative: not seen)
    double list = -1, members = -1, checksum = -1, pauses = -1, consoleSpan = -1, freeQuery = -1,
           downloads = -1, readBack = -1, finish = -1, total = -1;
    int loads = 0;
    int filesSeen = 0;  // files finished in the work folder before the verification
    std::uint32_t baud = 0;
    std::uint64_t payload = 0;
    long hwmBefore = -1, hwm = -1, maxrss = -1;
    std::string outcome;
    bool diskOk = false;
    std::string diskDetail;
};

std::optional<double> panelTime(const ChildReport& r, const std::string& suffix) {
    for (const auto& [t, panel, text] : r.panels) {
        if (panel == 2 && text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return t;
        }
    }
    return std::nullopt;
}

RunResult runOnce(const std::string& label, std::uint32_t baud, const fs::path& package,
                  const std::vector<Member>& downloaded, const fs::path& scratch) {
    RunResult result;
    result.label = label;
    result.baud = baud;

    tq318::SimulatorOptions options;
    options.baud = baud;
    options.disk_a_kib = kDiskKib;
    options.disk_b_kib = kDiskKib;
    options.restart_after_open_ms = 100;  // the "power restart" the wizard waits for, right after it connects
    tq318::Simulator sim(options);
    sim.start();
    // One file on each disk beforehand, so that the check shows both were emptied.
    sim.put_file('a', tq318::StoredFile{kJunkName, std::vector<std::uint8_t>(1000, 0x5A)});
    sim.put_file('b', tq318::StoredFile{kJunkName, std::vector<std::uint8_t>(1000, 0xA5)});

    const fs::path temp = scratch / ("temp-" + label);
    fs::create_directories(temp);
    ::setenv("UART_COM1", sim.device_path().c_str(), 1);
    ::setenv("TEMP", temp.c_str(), 1);
    const fs::path log = scratch / ("child-" + label + ".log");
    const ChildReport child = runWizardChild(package, log);
    const auto lines = sim.received_lines_timed();
    if (std::getenv("FLOWS_BENCH_LINES") != nullptr) {  // the console lines, for looking into a run
        for (const auto& [ms, text] : lines) {
            std::printf("  line %+10.1f ms %s\n", static_cast<double>(ms) - child.clicked, oneLine(text).c_str());
        }
        for (const auto& [t, panel, text] : child.panels) {
            std::printf("  panel %+9.1f ms %d %s\n", t - child.clicked, panel, text.c_str());
        }
        for (const auto& [t, name] : child.files) std::printf("  file  %+9.1f ms %s\n", t - child.clicked, name.c_str());
    }
    const auto diskA = sim.files('a');
    const auto diskB = sim.files('b');
    sim.stop();

    result.hwmBefore = child.hwmBefore;
    result.hwm = child.hwm;
    result.maxrss = child.maxrssKib;
    if (!child.ok) {
        result.failure = "child failed (status " + std::to_string(child.status) + ") " + child.error +
                         "; see " + log.string();
        return result;
    }
    result.ran = true;
    for (const auto& [t, text] : child.messages) result.outcome += (result.outcome.empty() ? "" : " / ") + text;

    // Panel texts, in the order the flow shows them.
    const auto checking = panelTime(child, " File Checking ...");
    const auto listed = panelTime(child, " File Checking...");
    const auto verified = panelTime(child, "Firmware authentication verify ok.");
    const auto loading = panelTime(child, "start loading firmware...");
    const auto verifying = panelTime(child, "Verifying ...");
    const auto resetting = panelTime(child, "Reseting...");
    // The last file finished in the work folder before the verification: the
    // end of the members' extraction (the list's last member is auth.key).
    std::optional<double> unpacked;
    for (const auto& [t, name] : child.files) {
        if (!verified || t <= *verified) {
            unpacked = t;
            ++result.filesSeen;
        }
    }

    // Console lines from the click on.
    std::optional<double> del, secondY, firstLoad;
    for (const auto& [ms, text] : lines) {
        const double t = static_cast<double>(ms);
        if (t < child.clicked) continue;
        if (text == "del" && !del) del = t;
        if ((text == "y" || text == "Y") && del && !firstLoad) secondY = t;  // the last one before the loads
        if (text == "load" || text == "loadb" || text == "loadfirmware") {
            if (!firstLoad) firstLoad = t;
            ++result.loads;
        }
    }

    auto span = [](std::optional<double> a, std::optional<double> b) { return a && b ? *b - *a : -1.0; };
    result.list = span(checking, listed);
    result.members = span(listed, unpacked);
    result.checksum = span(unpacked, verified);
    result.pauses = span(verified, loading);
    result.consoleSpan = span(del, secondY);
    result.freeQuery = span(loading, firstLoad);
    // The downloads end where the read-back of the listing begins.
    result.downloads = span(firstLoad, verifying ? verifying : resetting);
    result.readBack = span(verifying, resetting);
    result.finish = span(resetting, std::optional<double>(child.done));
    result.total = child.done - child.clicked;

    // Disk A must hold exactly the downloaded members, byte for byte; disk B nothing.
    std::map<std::string, const tq318::StoredFile*> onDisk;
    for (const auto& f : diskA) onDisk[f.name] = &f;
    int same = 0;
    std::string detail;
    for (const auto& m : downloaded) {
        result.payload += m.data.size();
        const auto it = onDisk.find(m.name);
        if (it == onDisk.end()) detail += " missing " + m.name + ";";
        else if (it->second->data != m.data) detail += " differs " + m.name + ";";
        else ++same;
    }
    if (onDisk.size() != downloaded.size()) {
        detail += " disk A holds " + std::to_string(onDisk.size()) + " files;";
    }
    if (!diskB.empty()) detail += " disk B holds " + std::to_string(diskB.size()) + " files;";
    result.diskOk = detail.empty() && same == static_cast<int>(downloaded.size());
    result.diskDetail = std::to_string(same) + "/" + std::to_string(downloaded.size()) + " identical" + detail;
    return result;
}

std::string cell(double ms) {
    char b[32];
    if (ms < 0) return "-";
    std::snprintf(b, sizeof b, "%.1f", ms);
    return b;
}

void row(const char* name, const std::vector<std::string>& cells) {
    std::printf("  %-40s", name);
    for (const auto& c : cells) std::printf(" %16s", c.c_str());
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    if (argc > 2 && std::string(argv[1]) == "--child") return runChild(argc, argv);

    // Options: --keep (leave the scratch folder), --unpaced-only (skip the ~3 min paced run).
    bool keep = false, unpacedOnly = false;
    for (int i = 1; i < argc; ++i) {
        keep = keep || std::string(argv[i]) == "--keep";
        unpacedOnly = unpacedOnly || std::string(argv[i]) == "--unpaced-only";
    }
    char pattern[] = "/tmp/flows_bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path scratch = pattern;
    const fs::path membersDir = scratch / "members";
    fs::create_directories(membersDir);

    // Members: the program file and 19 others of random size and content.
    std::mt19937_64 generator(318);
    std::vector<Member> downloaded;
    auto addMember = [&](const std::string& name, std::size_t size) {
        Member m{name, std::vector<std::uint8_t>(size)};
        for (auto& b : m.data) b = static_cast<std::uint8_t>(generator());
        std::ofstream(membersDir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(m.data.data()), static_cast<std::streamsize>(size));
        downloaded.push_back(std::move(m));
    };
    addMember("tq318.exe", kProgramSize);
    std::uniform_int_distribution<std::size_t> sizes(kSmallest, kLargest);
    for (int i = 1; i <= kOtherMembers; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "part%02d.bin", i);
        addMember(name, sizes(generator));
    }
    const fs::path package = scratch / kPackageName;
    const std::string error = make_package::write_package({membersDir, package, "", true});
    if (!error.empty()) {
        std::printf("cannot write the package: %s\n", error.c_str());
        return 1;
    }
    std::uint64_t payload = 0;
    for (const auto& m : downloaded) payload += m.data.size();
    std::printf("flows_bench: firmware repair of %s (%ju bytes, MSZIP): %zu listed members + auth.key, "
                "%ju payload bytes (program %zu)\n",
                kPackageName, static_cast<std::uintmax_t>(fs::file_size(package)), downloaded.size(),
                static_cast<std::uintmax_t>(payload), kProgramSize);

    std::vector<RunResult> results;
    results.push_back(runOnce("unpaced", 0, package, downloaded, scratch));
    if (!unpacedOnly) results.push_back(runOnce("paced", 115200, package, downloaded, scratch));

    std::printf("\n");
    row("", unpacedOnly ? std::vector<std::string>{"unpaced"} : std::vector<std::string>{"unpaced", "paced 115200"});
    auto line = [&](const char* name, auto field) {
        std::vector<std::string> cells;
        for (const auto& r : results) cells.push_back(r.ran ? field(r) : std::string("-"));
        row(name, cells);
    };
    line("unpack: file list (ms)", [](const RunResult& r) { return cell(r.list); });
    line("unpack: members (ms)", [](const RunResult& r) { return cell(r.members); });
    line("  files written in the work folder", [](const RunResult& r) { return std::to_string(r.filesSeen); });
    line("checksum: record + program CRC (ms)", [](const RunResult& r) { return cell(r.checksum); });
    line("pauses: 4 x 1 s + prompt (ms)", [](const RunResult& r) { return cell(r.pauses); });
    line("  console \"del\" .. last \"y\" (ms)", [](const RunResult& r) { return cell(r.consoleSpan); });
    line("transfer: free-space query (ms)", [](const RunResult& r) { return cell(r.freeQuery); });
    line("transfer: downloads (ms)", [](const RunResult& r) { return cell(r.downloads); });
    line("  loads seen by the controller", [](const RunResult& r) { return std::to_string(r.loads); });
    line("  payload rate (KiB/s)", [](const RunResult& r) {
        return r.downloads > 0 ? cell(static_cast<double>(r.payload) / 1024.0 / (r.downloads / 1000.0)) : "-";
    });
    line("  share of the line's bytes/s (%)", [](const RunResult& r) {
        return r.downloads > 0 && r.baud > 0
                   ? cell(100.0 * static_cast<double>(r.payload) / (r.downloads / 1000.0) / (r.baud / 10.0))
                   : std::string("-");
    });
    line("read-back: one \"dir\" and the compare (ms)", [](const RunResult& r) { return cell(r.readBack); });
    line("reset, message, disconnect (ms)", [](const RunResult& r) { return cell(r.finish); });
    line("TOTAL click -> return (ms)", [](const RunResult& r) { return cell(r.total); });
    line("peak RSS before the click (KiB)", [](const RunResult& r) { return std::to_string(r.hwmBefore); });
    line("peak RSS after the repair (KiB)", [](const RunResult& r) { return std::to_string(r.hwm); });
    line("  child ru_maxrss (KiB)", [](const RunResult& r) { return std::to_string(r.maxrss); });
    line("disk A check", [](const RunResult& r) { return std::string(r.diskOk ? "OK" : "FAILED"); });

    bool allOk = true;
    for (const auto& r : results) {
        if (!r.ran) {
            std::printf("%s: %s\n", r.label.c_str(), r.failure.c_str());
            allOk = false;
            continue;
        }
        std::printf("%s: messages: %s; disk A: %s\n", r.label.c_str(), r.outcome.c_str(), r.diskDetail.c_str());
        allOk = allOk && r.diskOk;
    }
    std::printf("\nverification: %s\n", allOk ? "OK" : "FAILED");
    if (keep || !allOk) {
        std::printf("scratch folder kept: %s\n", scratch.c_str());
    } else {
        std::error_code ec;
        fs::remove_all(scratch, ec);
    }
    return 0;
}
