// Both repairs of the wizard end to end: the window, the real libtovrane.so
// and libuart.so on a pseudo-terminal, the simulated controller and packages
// made by the kit's package maker. One table of runs (success, refusal, failure, unplug), then
// the cases a row cannot hold: the whole success, an exit mid-check, an
// adapter pulled out during detection.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <random>
#include <thread>

#include "gcab.h"
#include "harness.h"
#include "package_writer.h"
#include "pty_peer.h"
#include "temp_dir.h"
#include "tq318/repair/record_reader.h"
#include "tq318/simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::read_file;
using testing_support::write_file;
using Members = std::vector<std::pair<std::string, std::string>>;  // name, bytes
using Lines = std::vector<std::string>;

const QString kDone = QStringLiteral("Upgrade Successed.");
const QString kFwFailed = QStringLiteral("Firmware Upgrade Failed!!");
const QString kOsFailed = QStringLiteral("OS Upgrade Failed!!");
const QString kDisconnected = QStringLiteral("Serial adapter disconnected !!");

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// The library shows its messages as modal QMessageBoxes; this answers them
// (No to a question, OK otherwise) and records their texts.
class LibraryBoxes : public QObject {
public:
    std::vector<QString> texts;
    LibraryBoxes() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box == last_) return;
            last_ = box;
            texts.push_back(box->text());
            QAbstractButton* no = box->button(QMessageBox::No);
            if (QAbstractButton* button = no != nullptr ? no : box->button(QMessageBox::Ok)) button->click();
        });
        timer_.start();
    }

private:
    QTimer timer_;
    QMessageBox* last_ = nullptr;
};

// A wizard on COM 1 joined to a fresh simulated controller; TEMP (work
// folders) and XDG_STATE_HOME (records) are its own.
struct Bench {
    tq318::Simulator sim;
    testing_support::ComMapping mapping;
    testing_support::TempDir temp, files, state;
    wizard_test::Harness h{"libuart.so"};
    LibraryBoxes boxes;

    explicit Bench(tq318::SimulatorOptions options = defaults())
        : sim(std::move(options)), mapping(1, sim.device_path()) {
        ::setenv("TEMP", temp.path().c_str(), 1);
        ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
        sim.start();
    }
    ~Bench() { ::unsetenv("TEMP"); }  // the scratch folders' own place
    static tq318::SimulatorOptions defaults() {
        tq318::SimulatorOptions o;
        o.restart_after_open_ms = 20;
        return o;
    }
    // Start-up, Connect and detection: true when step 3 was reached.
    bool toStep3() {
        if (!h.load()) return false;
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        if (!h->Frame_Step3->isEnabled() || !sim.wait_until_ready(3000ms)) return false;
        sim.clear_received_lines();
        return true;
    }
    Lines lines() const { return sim.received_lines(); }
    Members stored(char disk) const {  // names and bytes in the disk's order
        Members on;
        for (const auto& f : sim.files(disk)) on.push_back({f.name, std::string(f.data.begin(), f.data.end())});
        return on;
    }
};

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// A package made by the kit's package maker from `members`, the first one the
// program (its list names the program, then the others by name, then the
// record); without its list, the rest packed again by gcab.
struct Package {
    Members members;
    bool compress = true, packList = true;

    fs::path build(const fs::path& folder, const std::string& name) const {
        const fs::path dir = folder / (name + ".members"), archive = folder / name;
        fs::create_directories(dir);
        std::vector<std::string> names{"auth.key"};
        for (const auto& [member, bytes] : members) write_file(dir / member, bytes), names.push_back(member);
        if (!make_package::write_package({dir, archive, "", compress}).empty()) return {};
        if (!packList && !testing_support::gcab_pack(dir, archive, names, compress)) return {};
        return archive;
    }
};

Members standardMembers() {
    return {{"tq318.exe", randomBytes(5000, 1)}, {"web.bin", randomBytes(700, 2)}, {"cfg.dat", randomBytes(256, 3)},
            {"empty.txt", ""}};
}
// What the technician picks, and what a verified run leaves on the controller.
struct Chosen {
    QString path;    // empty: the dialog was cancelled
    Members stored;  // firmware: the members as stored; OS: the image alone
};
using Chooser = std::function<Chosen(const fs::path& folder)>;

Chooser package(std::function<void(Package&)> change = {}, std::string name = "tq318.hex") {
    return [=](const fs::path& folder) {
        Package p{standardMembers()};
        if (change) change(p);
        Members stored = p.members;  // in the list's order
        std::sort(stored.begin() + 1, stored.end());
        return Chosen{QString::fromStdString(p.build(folder, name).string()), stored};
    };
}
Chooser image(std::size_t size) {
    return [=](const fs::path& folder) {
        const std::string bytes = randomBytes(size, 11);
        write_file(folder / "tq318.img", bytes);
        return Chosen{QString::fromStdString((folder / "tq318.img").string()), {{"", bytes}}};
    };
}
// Hangs the simulator up on its own thread (the wizard's thread is inside
// the click) once `when` is true; since() is how long ago (max: never).
struct Unplug {
    std::optional<std::chrono::steady_clock::time_point> at;
    std::jthread thread;
    Unplug(tq318::Simulator& sim, std::function<bool()> when)
        : thread([&sim, when, this] { if (when()) at = std::chrono::steady_clock::now(), sim.hang_up(); }) {}
    std::chrono::milliseconds since() {
        thread.join();
        return at ? std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - *at)
                  : std::chrono::milliseconds::max();
    }
};

QByteArray joined(const std::vector<QString>& texts) { return QStringList(texts.begin(), texts.end()).join(" | ").toUtf8(); }

// The console lines of a firmware run that loads `count` members with
// `command`: the deletes, the prompt and free-space probes, the loads, the
// listing and the restart.
Lines loads(std::size_t count, const std::string& command = "load") {
    Lines l{"del", "y", "delb", "y", "", "dir"};
    l.insert(l.end(), count, command);
    l.insert(l.end(), {"dir", "reset"});
    return l;
}

struct Row {
    const char* name;
    bool firmware;
    Chooser choose;
    std::vector<QString> messages;           // the wizard's boxes
    Lines lines = {};                        // every console line the controller received
    std::vector<QString> libraryBoxes = {};  // the library's own boxes
    std::function<void(tq318::SimulatorOptions&, tq318::Faults&)> line = {};
    char disk = 'a';                         // a verified firmware run stores its members here
    std::function<bool(tq318::Simulator&)> unplugWhen = {};
    bool noRecordFolder = false;             // a regular file where the records' folder goes
};

void throughAdapter(tq318::SimulatorOptions& o, std::uint32_t latency) {
    o.password = "quorvelstand83";
    o.adapter_latency_ms = latency;
}

const std::vector<Row>& rows() {
    static const std::vector<Row> table{
        {"cancelled", true, nullptr, {"Can not find HEX file for repairing!!", kFwFailed}},
        // Verified: on disk A with "load", or disk B with "loadb" for any mode code but "MS".
        {"odd_names_program_named_dot_exe", true, package([](Package& p) {
             p.members = {{".exe", randomBytes(1000, 9)}, {"caf\xe9.bin", "latin-1"}};
         }, ".exe"), {kDone}, loads(2)},
        {"adapter_40ms_mode_ms_to_disk_b_no_record_folder", true, package([](Package& p) { p.compress = false; }),
         {kDone}, loads(4, "loadb"), {}, [](auto& o, auto&) { throughAdapter(o, 40), o.mode_code = "ms"; }, 'b', {},
         true},
        {"os_through_adapter_16ms", false, image(9000), {kDone}, {"upload", "bios1", "reset", "quorvelstand83", "ver", "inp 30a"}, {},
         [](auto& o, auto&) { throughAdapter(o, 16); }},
        // Refused before the device is touched.
        {"no_list", true, package([](Package& p) { p.packList = false; }), {"HEX file Error !!", kFwFailed}},
        {"os_cancelled", false, nullptr, {"Can not find OS Image file for repairing!!", kOsFailed}},
        // Failed after the device was touched; the controller is restarted for another try.
        {"stored_short", true, package(), {"Firmware verify failure.\r\nweb.bin: size 699, expected 700", kFwFailed},
         loads(4), {}, [](auto&, auto& f) { f.store_short_name = "web.bin", f.store_short_by = 1; }},
        {"os_install_error", false, image(700), {kOsFailed}, {"upload", "bios1", "reset"},
         {"\r\nFlash write error, image NOT installed\r\nTQ318-5314A>"},
         [](auto&, auto& f) { f.bios1_answer = "\r\nFlash write error, image NOT installed\r\nTQ318-5314A>"; }},
        // Installed, but the report held no CRC: the engine's words alone, no success and no failure box.
        {"os_report_without_crc", false, image(700),
         {"installed; the controller reported no CRC, so the image's content was not compared; running Tovrane 1.23 build 003 after the restart"},
         {"upload", "bios1", "reset", "ver", "inp 30a"}, {},
         [](auto&, auto& f) { f.upload_report = "\r\nImage written.\r\nTQ318-5314A>"; }},
        // The adapter pulled out mid-repair: said at once, and nothing more is sent.
        {"unplugged_during_the_deletes", true, package(), {kDisconnected, kFwFailed}, {"del"}, {}, {}, 'a',
         [](tq318::Simulator& s) { return s.wait_for_line("del", 30s); }},
    };
    return table;
}

}  // namespace

class FlowsTest : public QObject {
    Q_OBJECT
private slots:
    void table_data() {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < rows().size(); ++i) QTest::newRow(rows()[i].name) << int(i);
    }
    void table() {
        QFETCH(int, row);
        const Row& r = rows()[std::size_t(row)];
        auto options = Bench::defaults();
        tq318::Faults faults;
        if (r.line) r.line(options, faults);
        Bench b(options);
        if (r.noRecordFolder) write_file(b.state / "tq318", "in the way");
        QVERIFY(b.toStep3());
        b.sim.set_faults(faults);
        const Chosen chosen = r.choose ? r.choose(b.files.path()) : Chosen{};
        if (r.choose) QVERIFY(!chosen.path.isEmpty());
        b.h.dialogs->fileAnswers.push_back(chosen.path);
        const auto boots = b.sim.boot_count();
        std::optional<Unplug> unplug;
        if (r.unplugWhen) unplug.emplace(b.sim, [&b, &r] { return r.unplugWhen(b.sim); });
        QTest::mouseClick(r.firmware ? b.h->ComUpload : b.h->ComUploadOS, Qt::LeftButton);
        if (unplug) QVERIFY2(unplug->since() < 1000ms, "not ended within a second of the unplug");

        QVERIFY2(b.h.dialogs->messages == r.messages, joined(b.h.dialogs->messages));
        QVERIFY2(b.boxes.texts == r.libraryBoxes, joined(b.boxes.texts));
        QCOMPARE(b.h.dialogs->fileRequests.front().filter,
                 r.firmware ? QStringLiteral("HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| ")
                            : QStringLiteral("IMG Files (*.img)|*.img|All "));
        // The dialog opens where the last file of this run was chosen, else in the user's home.
        QCOMPARE(b.h.dialogs->fileRequests.front().initialFolder, lastFolder_.isEmpty() ? QDir::homePath() : lastFolder_);
        if (r.choose) lastFolder_ = QString::fromStdString(b.files.path().string());
        QCOMPARE(b.h->panelText(1), QStringLiteral("COM 1 Disonnected!! "));
        if (std::find(r.lines.begin(), r.lines.end(), "reset") != r.lines.end()) {
            QVERIFY(b.sim.wait_for_line("reset", 2000ms));
            QCOMPARE(b.sim.boot_count(), boots + 1);  // it restarted
        }
        std::string seen;
        for (const auto& l : b.lines()) seen += "[" + l + "]";
        QVERIFY2(b.lines() == r.lines, seen.c_str());  // nothing at all when refused
        QVERIFY2(fs::is_empty(b.temp.path()), "a work folder was left behind");
        QVERIFY(b.h->Frame_Step1->isEnabled());
        QVERIFY(b.h->Frame1->isHidden());
        QCOMPARE(b.h->cursor().shape(), Qt::ArrowCursor);
        const bool verified = r.messages == std::vector<QString>{kDone};
        if (!r.firmware) {
            QCOMPARE(b.sim.image_installed(), verified || r.messages.front().startsWith("installed;"));
            if (verified) QVERIFY(b.sim.uploaded_image() == bytesOf(chosen.stored[0].second));
        } else if (verified) {
            QVERIFY(b.stored(r.disk) == chosen.stored);
            QVERIFY(b.sim.files(r.disk == 'a' ? 'b' : 'a').empty());
        }
    }

    // The whole success: every member in list order, the deletes at least a
    // second apart with the window served meanwhile, the bar full, what the window
    // shows, and the record the wizard's run leaves.
    void firmwareSuccess() {
        Bench b;
        QVERIFY(b.toStep3());
        const Chosen chosen = package()(b.files.path());
        b.h.dialogs->fileAnswers.push_back(chosen.path);
        bool deleting = false;
        int ticks = 0;
        QTimer probe;
        probe.setInterval(20);
        QObject::connect(&probe, &QTimer::timeout, [&] { ticks += deleting; });
        QObject::connect(b.h.form.get(), &pelorim::Form1::panelChanged, b.h.form.get(), [&](int panel, const QString& text) {
            if (panel == 2 && text == QStringLiteral("Firmware authentication verify ok.")) deleting = true;
            if (panel == 2 && text == QStringLiteral("start loading firmware...")) deleting = false;
        });
        probe.start();
        QTest::mouseClick(b.h->ComUpload, Qt::LeftButton);
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{kDone});
        QVERIFY2(ticks >= 50, qPrintable(QString::number(ticks)));  // served through four 1 s pauses at 20 ms

        QCOMPARE(b.h->UploadBar->maximum(), 8);  // four members and the record: 1 to 5 + 3
        QCOMPARE(b.h->UploadBar->value(), 8);
        QVERIFY(b.stored('a') == chosen.stored);
        QVERIFY(b.sim.wait_for_line("reset", 2000ms));
        QVERIFY(b.lines() == loads(4));
        const auto timed = b.sim.received_lines_timed();
        for (std::size_t i = 1; i < 4; ++i) {
            const auto gap = timed[i].first - timed[i - 1].first;
            QVERIFY2(gap >= 950, qPrintable(QString::number(gap)));  // how long: bench/flows
        }
        QCOMPARE(b.h->hexFileName(), QStringLiteral("tq318.hex"));
        QCOMPARE(b.h->exeFileName(), QStringLiteral("tq318.exe"));
        for (const char* text : {"MS File Checking ...", "MS File Checking...", "Firmware authentication verify ok.",
                                 "start loading firmware...", "Verifying ...", "Reseting..."}) {
            QVERIFY2(std::find(b.h.panel2History.begin(), b.h.panel2History.end(), text) != b.h.panel2History.end(), text);
        }
        const auto listing = tq318::repair::listRecords(b.state / "tq318" / "repairs", 10);
        QCOMPARE(listing.records.size(), std::size_t{1});
        const auto& rec = listing.records.front();
        QCOMPARE(rec["frontEnd"].get<std::string>(), std::string("Pelorim"));
        QCOMPARE(rec["outcome"].get<std::string>(), std::string("verified"));
        QCOMPARE(rec["modeCode"].get<std::string>(), std::string("MS"));
        QVERIFY(rec["banner"].get<std::string>().starts_with("HALVERN Tovrane"));
        QCOMPARE(rec["device"].get<std::string>(), b.sim.device_path());
        QCOMPARE(rec["members"].size(), chosen.stored.size() + 1);
    }

    // ComExit while the checksum runs: the work folder is gone before the program ends.
    void exitDuringTheChecksumLeavesNoWorkFolder() {
        Bench b;
        QVERIFY(b.toStep3());
        b.h.dialogs->fileAnswers.push_back(package([](Package& p) {
            p.members[0].second = randomBytes(8 << 20, 5);  // summing takes many 10 ms slices
            p.compress = false;
        })(b.files.path()).path);
        bool exited = false, folderGone = false;
        QObject::connect(b.h.form.get(), &pelorim::Form1::panelChanged, b.h.form.get(), [&](int panel, const QString& text) {
            if (panel != 2 || text != QStringLiteral("MS File Checking...")) return;
            QTimer::singleShot(0, b.h.form.get(), [&] {  // runs at the checksum's first yield
                QTest::mouseClick(b.h->ComExit, Qt::LeftButton);
                exited = !b.h.exits.empty();
                folderGone = fs::is_empty(b.temp.path());  // before anything else runs
            });
        });
        QTest::mouseClick(b.h->ComUpload, Qt::LeftButton);
        QVERIFY(exited);
        QVERIFY(folderGone);
        QVERIFY(b.lines().empty());
    }

    // Pulled out while step 2 waits for the banner: the wait ends within a
    // second, back at step 1, and the count stops with it.
    void unpluggedDuringDetection() {
        auto options = Bench::defaults();
        throughAdapter(options, 16);
        options.restart_after_open_ms = -1;  // the controller stays silent: step 2 waits
        Bench b(options);
        QVERIFY(b.h.load());
        Unplug unplug(b.sim, [&b] { return b.sim.wait_for_slave(true, 10s); });
        QTest::mouseClick(b.h->ComConnect, Qt::LeftButton);
        QVERIFY(unplug.since() < 1000ms);
        QVERIFY(b.h->Frame_Step1->isEnabled());
        QVERIFY(!b.h->Frame_Step3->isEnabled());
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"COM 1 " + kDisconnected});
        QCOMPARE(b.h->panelText(2), kDisconnected);
        QTest::qWait(1200);  // a whole count: nothing more is shown
        QCOMPARE(b.h->panelText(2), kDisconnected);
    }

private:
    QString lastFolder_;  // where the run's last chosen file lay
};

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    FlowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "flows_test.moc"
