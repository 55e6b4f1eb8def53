// "(2). Repair Firmware": unpack a package, authenticate it, empty both
// disks, download every listed member, restart the controller.
#include <QCryptographicHash>
#include <QCursor>
#include <QElapsedTimer>
#include <QTimer>
#include <QProgressBar>
#include <QTest>

#include <algorithm>
#include <functional>
#include <map>

#include "flow_support.h"
#include "package_writer.h"
#include "temp_dir.h"
#include "tq318/repair/record_reader.h"

using namespace flow_test;
using testing_support::read_file;
using testing_support::write_file;

namespace {

// XDG_STATE_HOME pointed at a folder for one test, then back.
struct StateHome {
    explicit StateHome(const fs::path& folder) : previous(std::getenv("XDG_STATE_HOME") ? std::getenv("XDG_STATE_HOME") : "") {
        ::setenv("XDG_STATE_HOME", folder.c_str(), 1);
    }
    ~StateHome() { ::setenv("XDG_STATE_HOME", previous.c_str(), 1); }
    std::string previous;
};

const QString kAuthFailure = QStringLiteral(
    "Firmware authentication verify failure.\rReturn to utility without upgrade firmware.");

// Members in list order; the record is computed for the program file unless
// the test gives its own list or record.
struct Package {
    std::vector<std::pair<std::string, std::string>> members;  // name, bytes (packed)
    std::optional<std::string> list;                           // default: names + "auth.key", CRLF
    std::optional<std::string> record;                         // default: genuine
    std::string program = "tq318.exe";
    bool compress = true;
    bool packList = true;
    bool packRecord = true;

    fs::path build(const fs::path& folder, const std::string& name) const {
        const fs::path dir = folder / (name + ".members");
        fs::create_directories(dir);
        std::vector<std::string> names;
        std::string program_bytes;
        std::string list_text;
        for (const auto& [member, bytes] : members) {
            write_file(dir / member, bytes);
            names.push_back(member);
            list_text += member + "\r\n";
            if (member == program) program_bytes = bytes;
        }
        list_text += "auth.key\r\n";
        const auto genuine = make_package::make_auth_record({program_bytes.begin(), program_bytes.end()});
        write_file(dir / "auth.key", record.value_or(std::string(genuine.begin(), genuine.end())));
        write_file(dir / "file.lst", list.value_or(list_text));
        if (packRecord) names.push_back("auth.key");
        if (packList) names.push_back("file.lst");
        const fs::path archive = folder / name;
        if (!gcab(dir, archive, names, compress)) return {};
        return archive;
    }
};

Package standardPackage() {
    Package p;
    p.members = {{"tq318.exe", randomBytes(5000, 1)},
                 {"web.bin", randomBytes(700, 2)},
                 {"cfg.dat", randomBytes(256, 3)},
                 {"empty.txt", ""}};
    return p;
}

bool runRepair(Bench& b, const fs::path& package) {
    if (package.empty()) return false;
    b.h.dialogs->fileAnswers.push_back(QString::fromStdString(package.string()));
    QTest::mouseClick(b.h->ComUpload, Qt::LeftButton);
    return true;
}

std::vector<std::string> loadLines(const std::vector<std::string>& lines) {
    std::vector<std::string> loads;
    for (const auto& l : lines) {
        if (l.rfind("load", 0) == 0) loads.push_back(l);
    }
    return loads;
}

bool shown(const std::vector<QString>& history, const QString& text) {
    return std::find(history.begin(), history.end(), text) != history.end();
}

// gcab keeps only plain names: a member is packed under a placeholder of the
// same length and renamed in the archive's bytes (the CAB checksums cover the
// data, not the names). False unless the placeholder occurs exactly once.
bool renameMember(const fs::path& archive, const std::string& placeholder, const std::string& name) {
    std::string bytes = read_file(archive);
    const std::string key = placeholder + '\0';
    const std::size_t at = bytes.find(key);
    if (at == std::string::npos || bytes.find(key, at + 1) != std::string::npos || name.size() != placeholder.size())
        return false;
    bytes.replace(at, name.size(), name);
    write_file(archive, bytes);
    return true;
}


}  // namespace

class FirmwareFlowTest : public QObject {
    Q_OBJECT
private slots:
    void successfulRepairDownloadsEveryMemberInListOrder() {
        Bench b;
        QVERIFY(b.toStep3());
        const Package p = standardPackage();
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});
        QVERIFY(b.boxes.texts.empty());

        // Five lines (four members and the record): the bar runs from 1 to 5 + 3.
        QCOMPARE(b.h->UploadBar->maximum(), 8);
        QCOMPARE(b.h->UploadBar->value(), 8);
        QVERIFY(b.h->Frame1->isHidden());
        QCOMPARE(b.h->cursor().shape(), Qt::ArrowCursor);

        const auto stored = b.sim.files('a');
        QCOMPARE(stored.size(), p.members.size());
        for (std::size_t i = 0; i < stored.size(); ++i) {
            QCOMPARE(stored[i].name, p.members[i].first);
            QVERIFY(stored[i].data == bytesOf(p.members[i].second));
        }
        QVERIFY(b.sim.files('b').empty());

        QVERIFY(b.sim.wait_for_line("reset", 2000ms));
        const auto timed = b.sim.received_lines_timed();
        QVERIFY(timed.size() >= 4);
        const std::vector<std::string> deletes = {"del", "y", "delb", "y"};
        for (std::size_t i = 0; i < 4; ++i) QCOMPARE(timed[i].second, deletes[i]);
        for (std::size_t i = 1; i < 4; ++i) {
            const auto gap = timed[i].first - timed[i - 1].first;
            QVERIFY2(gap >= 950 && gap <= 1300, qPrintable(QString::number(gap)));
        }
        QCOMPARE(timed.back().second, std::string("reset"));
        QCOMPARE(loadLines(b.lines()), std::vector<std::string>(4, "load"));

        QVERIFY2(b.tempIsEmpty(), "the work folder was left behind");
        QVERIFY(b.h->Frame_Step1->isEnabled());
        QCOMPARE(b.h->hexFileName(), QStringLiteral("tq318.hex"));
        QCOMPARE(b.h->exeFileName(), QStringLiteral("tq318.exe"));
        for (const char* text : {"MS File Checking ...", "MS File Checking...", "Firmware authentication verify ok.",
                                 "start loading firmware...", "Reseting..."}) {
            QVERIFY2(shown(b.h.panel2History, text), text);
        }
    }

    void everyRepairIsRecordedAndARecordThatCannotBeWrittenChangesNothing() {
        testing_support::TempDir state;
        const StateHome home(state.path());
        Bench b;
        QVERIFY(b.toStep3());
        const Package p = standardPackage();
        const fs::path package = p.build(b.files.path(), "tq318.hex");
        QVERIFY(runRepair(b, package));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});

        const fs::path folder = state.path() / "tq318" / "repairs";
        const auto listing = tq318::repair::listRecords(folder, 10);
        QCOMPARE(listing.records.size(), std::size_t{1});
        QCOMPARE(listing.skipped, std::size_t{0});
        const auto& r = listing.records.front();
        QCOMPARE(r["frontEnd"].get<std::string>(), std::string("Pelorim"));
        QCOMPARE(r["kind"].get<std::string>(), std::string("firmware"));
        QCOMPARE(r["outcome"].get<std::string>(), std::string("verified"));
        QCOMPARE(r["modeCode"].get<std::string>(), std::string("MS"));
        QVERIFY(r["banner"].get<std::string>().starts_with("HALVERN Tovrane"));
        QCOMPARE(r["device"].get<std::string>(), b.sim.device_path());
        const QByteArray whole = QByteArray::fromStdString(read_file(package));
        QCOMPARE(r["sha256"].get<std::string>(),
                 QCryptographicHash::hash(whole, QCryptographicHash::Sha256).toHex().toStdString());
        // Every listed member with its size and digest, the record's line last.
        QCOMPARE(r["members"].size(), p.members.size() + 1);
        for (std::size_t i = 0; i < p.members.size(); ++i) {
            const auto& m = r["members"][i];
            QCOMPARE(m["name"].get<std::string>(), p.members[i].first);
            QCOMPARE(m["size"].get<std::uint64_t>(), std::uint64_t{p.members[i].second.size()});
            QCOMPARE(m["sha256"].get<std::string>(),
                     QCryptographicHash::hash(QByteArray::fromStdString(p.members[i].second),
                                              QCryptographicHash::Sha256).toHex().toStdString());
            QCOMPARE(m["loadCode"].get<int>(), 0);
        }
        QVERIFY(r["verification"]["passed"].get<bool>());
        const auto file = folder / r["file"].get<std::string>();
        QCOMPARE(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

        // A regular file where the records' folder should be: the next repair
        // still succeeds and says nothing more in the window.
        fs::remove_all(state.path() / "tq318");
        write_file(state.path() / "tq318", "in the way");
        Bench again;
        QVERIFY(again.toStep3());
        QVERIFY(runRepair(again, p.build(again.files.path(), "tq318.hex")));
        QCOMPARE(again.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});
        QVERIFY(again.boxes.texts.empty());
    }

    void otherModeCodeLoadsToDiskBFromAStoredPackage() {
        auto options = Bench::defaults();
        options.mode_code = "ms";  // not exactly "MS"
        Bench b(options);
        QVERIFY(b.toStep3());
        QCOMPARE(b.h->modeCode(), QStringLiteral("ms"));
        Package p = standardPackage();
        p.compress = false;
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});
        QCOMPARE(b.sim.files('b').size(), p.members.size());
        QVERIFY(b.sim.files('a').empty());
        QCOMPARE(loadLines(b.lines()), std::vector<std::string>(4, "loadb"));
    }

    void cancelledChoiceTouchesNothing() {
        Bench b;
        QVERIFY(b.toStep3());
        QTest::mouseClick(b.h->ComUpload, Qt::LeftButton);
        QCOMPARE(b.h.dialogs->messages,
                 (std::vector<QString>{"Can not find HEX file for repairing!!", "Firmware Upgrade Failed!!"}));
        QCOMPARE(b.h.dialogs->fileRequests[0].filter,
                 QStringLiteral("HEX Files (*.hex)|*.hex|EXE Files (*.exe)|*.exe|All| "));
        QVERIFY(b.lines().empty());
        QVERIFY(b.tempIsEmpty());
        QVERIFY(b.h->Frame_Step1->isEnabled());
    }

    void packageWithoutListIsRefused() {
        Bench b;
        QVERIFY(b.toStep3());
        Package p = standardPackage();
        p.packList = false;
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        QCOMPARE(b.h.dialogs->messages, (std::vector<QString>{"HEX file Error !!", "Firmware Upgrade Failed!!"}));
        QVERIFY(b.lines().empty());
        QVERIFY(b.tempIsEmpty());
    }

    void missingRecordOrProgramIsRefused() {
        for (bool dropRecord : {true, false}) {
            Bench b;
            QVERIFY(b.toStep3());
            Package p = standardPackage();
            if (dropRecord) {
                p.packRecord = false;
            } else {
                p.members.erase(p.members.begin());  // the program file
                p.list = "tq318.exe\r\nweb.bin\r\nauth.key\r\n";
            }
            QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
            QCOMPARE(b.h.dialogs->messages,
                     (std::vector<QString>{"HEX File Error !!", "Firmware Upgrade Failed!!"}));
            QVERIFY(b.lines().empty());
            QVERIFY(b.tempIsEmpty());
        }
    }

    void wrongRecordOrProgramFailsAuthenticationBeforeTheDeviceIsTouched() {
        for (int variant = 0; variant < 3; ++variant) {
            Bench b;
            QVERIFY(b.toStep3());
            Package p = standardPackage();
            const auto genuine = make_package::make_auth_record(bytesOf(p.members[0].second));
            std::string record(genuine.begin(), genuine.end());
            if (variant == 0) record[10] ^= 0x01;                  // record checksum wrong
            if (variant == 1) std::swap(record[48], record[49]);   // checksum bytes swapped
            if (variant == 2) p.members[0].second[100] ^= 0x01;    // program does not match
            p.record = record;
            QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
            QCOMPARE(b.h.dialogs->messages, (std::vector<QString>{kAuthFailure, "Firmware Upgrade Failed!!"}));
            QVERIFY(b.lines().empty());
            QVERIFY(b.tempIsEmpty());
            QVERIFY(b.h->Frame1->isHidden());
        }
    }

    void emptyProgramFileIsASizeFailureBeforeAnyConsoleLine() {
        Bench b;
        QVERIFY(b.toStep3());
        Package p = standardPackage();
        p.members[0].second.clear();
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        QCOMPARE(b.h.dialogs->messages,
                 (std::vector<QString>{"File size checking Error !! (2)\r\n\r\nUpgrade firmware failed!!",
                                       "Firmware Upgrade Failed!!"}));
        QVERIFY(b.lines().empty());
        QVERIFY(b.tempIsEmpty());
    }

    void silentConsoleGetsNoConfirmation() {
        Bench b;
        QVERIFY(b.toStep3());
        // The boot prompt that followed the banner is still waiting on the
        // line; take it, as a console that stopped answering would not send one.
        char scratch[2048];
        uint16_t count = 0;
        b.h->uart().Receive_Cmd(1, scratch, 100, 0, &count);
        tq318::Faults f;
        f.silent = true;
        b.sim.set_faults(f);
        QVERIFY(runRepair(b, standardPackage().build(b.files.path(), "tq318.hex")));
        // No question came: no "y" is sent, and the message says so.
        QCOMPARE(b.h.dialogs->messages,
                 (std::vector<QString>{"Disk delete Error !! (no answer to \"del\" within 6000 ms)\r\n\r\n"
                                       "No disk was emptied.",
                                       "Firmware Upgrade Failed!!"}));
        QCOMPARE(b.lines(), std::vector<std::string>{"del"});
        QVERIFY(b.tempIsEmpty());
    }

    void failedFreeSpaceProbeSendsMembersAsFirmwareAndCannotVerify() {
        Bench b;
        QVERIFY(b.toStep3());
        tq318::Faults f;
        f.mute_commands = {"dir"};
        b.sim.set_faults(f);
        const Package p = standardPackage();
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        // The listing that would prove the download cannot be read either: never a pass.
        QCOMPARE(b.h.dialogs->messages.size(), std::size_t(2));
        QVERIFY(b.h.dialogs->messages[0].startsWith("Firmware verify failure.\r\nlisting unreadable (code "));
        QCOMPARE(b.h.dialogs->messages[1], QStringLiteral("Firmware Upgrade Failed!!"));
        QCOMPARE(loadLines(b.lines()), std::vector<std::string>(4, "loadfirmware"));
        QCOMPARE(b.sim.files('a').size(), p.members.size());
    }

    void recordNameInAnotherCaseIsAnOrdinaryMember() {
        Bench b;
        QVERIFY(b.toStep3());
        Package p = standardPackage();
        p.members.push_back({"AUTH.KEY", "not the record"});
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});
        const auto stored = b.sim.files('a');
        QCOMPARE(stored.size(), p.members.size());
        QCOMPARE(stored.back().name, std::string("auth.key"));  // names are lower-cased on the controller
        QVERIFY(stored.back().data == bytesOf("not the record"));
        QCOMPARE(b.h->UploadBar->value(), b.h->UploadBar->maximum());
    }

    void packageNamedDotExeIsItsOwnProgramFile() {
        Bench b;
        QVERIFY(b.toStep3());
        Package p;
        p.members = {{".exe", randomBytes(1000, 9)}};
        p.program = ".exe";
        QVERIFY(runRepair(b, p.build(b.files.path(), ".exe")));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});
        QCOMPARE(b.h->exeFileName(), QStringLiteral(".exe"));
        QCOMPARE(b.sim.files('a').size(), std::size_t(1));
        QVERIFY(b.tempIsEmpty());
    }

    void failedDownloadStillSendsTheRestAndReportsFailure() {
        auto options = Bench::defaults();
        options.disk_a_kib = 16;
        Bench b(options);
        QVERIFY(b.toStep3());
        Package p = standardPackage();
        p.members.insert(p.members.begin() + 1, {"huge.bin", randomBytes(40000, 5)});
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        // The library asks whether to delete all files; the answer is No.
        QCOMPARE(b.boxes.texts, std::vector<QString>{"Delete all files!!"});
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Firmware Upgrade Failed!!"});
        QVERIFY(b.sim.wait_for_line("reset", 2000ms));
        QCOMPARE(b.lines().back(), std::string("reset"));
        const auto stored = b.sim.files('a');
        QCOMPARE(stored.size(), p.members.size() - 1);
        QCOMPARE(stored.back().name, p.members.back().first);  // members after the failure went too
        QVERIFY(b.tempIsEmpty());
    }

    // A member that fails leaves the controller waiting for a block; the
    // library brings it back to its prompt, so the final "reset" restarts it.
    void resetAfterAFailedMemberRestartsTheController() {
        auto options = Bench::defaults();
        options.transfer_timeout_ms = 3000;
        Bench b(options);
        QVERIFY(b.toStep3());
        Package p;
        p.members = {{"tq318.exe", randomBytes(1000, 21)}};
        tq318::Faults f;
        f.nak_block = 1;
        f.nak_times = 1000;
        b.sim.set_faults(f);
        const auto boots = b.sim.boot_count();
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Firmware Upgrade Failed!!"});
        QVERIFY(b.sim.wait_for_line("reset", 2000ms));
        QCOMPARE(b.sim.boot_count(), boots + 1);
    }

    void namesThatLeaveTheWorkFolderRefuseThePackage() {
        for (const std::string bad : {"../evil", "/tmp/evil", "sub/evil", "..", "sub\\evil"}) {
            Bench b;
            QVERIFY(b.toStep3());
            std::string placeholder = bad;
            std::replace_if(placeholder.begin(), placeholder.end(), [](char c) { return c == '/' || c == '\\' || c == '.'; }, 'q');
            Package p = standardPackage();
            p.members.push_back({placeholder, "planted"});
            p.list = "tq318.exe\r\n" + bad + "\r\nauth.key\r\n";
            const fs::path archive = p.build(b.files.path(), "tq318.hex");
            QVERIFY2(renameMember(archive, placeholder, bad), bad.c_str());  // the archive really holds the name
            QVERIFY(runRepair(b, archive));
            QCOMPARE(b.h.dialogs->messages,
                     (std::vector<QString>{"HEX File Error !!", "Firmware Upgrade Failed!!"}));
            QVERIFY(b.lines().empty());
            QVERIFY2(b.tempIsEmpty(), bad.c_str());  // nothing beside the work folder either
            QVERIFY(!fs::exists(b.temp.path().parent_path() / "evil") ||
                    read_file(b.temp.path().parent_path() / "evil") != "planted");
            QVERIFY(!fs::exists("/tmp/evil") || read_file("/tmp/evil") != "planted");
        }
    }

    void packagesThatCannotBeVerifiedAreRefusedBeforeTheDeviceIsTouched() {
        struct Case {
            const char* what;
            std::vector<std::pair<std::string, std::string>> extra;  // packed besides the standard members
            std::string listed;                                       // list lines besides the standard ones
            bool damageWebBin = false;
        };
        const std::vector<Case> cases = {
            {"trailing blank", {{"web2.bin ", "x"}}, "web2.bin \r\n"},
            {"missing from the cabinet", {}, "gone.bin\r\n"},
            {"damaged member", {}, "", true},
            {"same stored name", {{"A_web_file.bin", "one"}, {"web_file.bin", "two"}},
             "A_web_file.bin\r\nweb_file.bin\r\n"},
            {"line of blanks", {}, "   \r\n"},
        };
        for (const Case& c : cases) {
            Bench b;
            QVERIFY(b.toStep3());
            Package p = standardPackage();
            p.compress = false;  // the damage lands in a member's stored bytes
            std::string list = "tq318.exe\r\nweb.bin\r\ncfg.dat\r\nempty.txt\r\n";
            for (const auto& member : c.extra) p.members.push_back(member);
            p.list = list + c.listed + "auth.key\r\n";
            const fs::path archive = p.build(b.files.path(), "tq318.hex");
            QVERIFY(!archive.empty());
            if (c.damageWebBin) {
                // web.bin's entry claims more bytes than its folder holds: it cannot unpack whole.
                std::string bytes = read_file(archive);
                const std::size_t at = bytes.find(std::string("web.bin") + '\0');
                QVERIFY(at != std::string::npos && at >= 16);
                const std::uint32_t claimed = 40000;
                for (int i = 0; i < 4; ++i) bytes[at - 16 + i] = static_cast<char>((claimed >> (8 * i)) & 0xFF);
                write_file(archive, bytes);
            }
            QVERIFY(runRepair(b, archive));
            QVERIFY2(b.h.dialogs->messages ==
                         (std::vector<QString>{"HEX File Error !!", "Firmware Upgrade Failed!!"}), c.what);
            QVERIFY2(b.lines().empty(), c.what);
            QVERIFY2(b.tempIsEmpty(), c.what);
        }
    }

    void latin1MemberIsSentAndVerified() {
        Bench b;
        QVERIFY(b.toStep3());
        const std::string name = "caf\xe9.bin";
        Package p = standardPackage();
        p.members.push_back({"cafq.bin", randomBytes(300, 7)});
        p.list = "tq318.exe\r\nweb.bin\r\ncfg.dat\r\nempty.txt\r\n" + name + "\r\nauth.key\r\n";
        const fs::path archive = p.build(b.files.path(), "tq318.hex");
        QVERIFY(renameMember(archive, "cafq.bin", name));
        QVERIFY(runRepair(b, archive));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});
        const auto stored = b.sim.files('a');
        QVERIFY(std::any_of(stored.begin(), stored.end(), [&](const auto& f) {
            return f.name == name && f.data == bytesOf(p.members.back().second);
        }));
    }

    void controllerHoldingOtherThanWasSentFailsNamingTheFile() {
        struct Case {
            const char* what;
            std::function<void(Bench&)> arrange;
            std::uint32_t diskAKib;
            bool answerYes;
            std::vector<std::pair<std::string, std::string>> members;  // empty: the standard ones
            std::vector<QString> lines;                                // expected in the message
        };
        const std::vector<Case> cases = {
            {"stored short", [](Bench& b) {
                 tq318::Faults f;
                 f.store_short_name = "web.bin";
                 f.store_short_by = 1;
                 b.sim.set_faults(f);
             }, 4096, false, {}, {"web.bin: size 699, expected 700"}},
            {"full disk emptied", [](Bench&) {}, 16, true,
             {{"tq318.exe", randomBytes(5000, 1)}, {"a.bin", randomBytes(6000, 2)}, {"b.bin", randomBytes(6000, 3)}},
             {"tq318.exe: missing", "a.bin: missing"}},
        };
        for (const Case& c : cases) {
            auto options = Bench::defaults();
            options.disk_a_kib = c.diskAKib;
            Bench b(options);
            QVERIFY(b.toStep3());
            b.boxes.answerYes = c.answerYes;
            c.arrange(b);
            Package p = standardPackage();
            if (!c.members.empty()) p.members = c.members;
            QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
            const auto& messages = b.h.dialogs->messages;
            QVERIFY2(messages.size() == 2, c.what);
            QString expected = QStringLiteral("Firmware verify failure.");
            for (const QString& line : c.lines) expected += "\r\n" + line;
            QCOMPARE(messages[0], expected);
            QCOMPARE(messages[1], QStringLiteral("Firmware Upgrade Failed!!"));
            QVERIFY(shown(b.h.panel2History, "Verifying ..."));
            QVERIFY(b.sim.wait_for_line("reset", 2000ms));  // the controller restarts for another try
            QVERIFY(b.tempIsEmpty());
        }
    }

    void twentyMembersAreVerifiedWithOneListingAfterTheLoads() {
        Bench b;
        QVERIFY(b.toStep3());
        Package p;
        p.members.push_back({"tq318.exe", randomBytes(3000, 1)});
        for (int i = 1; i < 20; ++i) p.members.push_back({"member" + std::to_string(i) + ".bin", randomBytes(100 + i, i)});
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Upgrade Successed."});
        QVERIFY(b.sim.wait_for_line("reset", 2000ms));
        const auto lines = b.lines();
        const auto lastLoad = std::find(lines.rbegin(), lines.rend(), std::string("load"));
        QVERIFY(lastLoad != lines.rend());
        const auto afterLoads = std::vector<std::string>(lastLoad.base(), lines.end());
        QCOMPARE(afterLoads, (std::vector<std::string>{"dir", "reset"}));
        QCOMPARE(b.sim.files('a').size(), std::size_t(20));
    }

    // The 1 s pauses between "del", "y", "delb", "y" hand events to the window.
    void eventsAreServedDuringTheDeletePauses() {
        Bench b;
        QVERIFY(b.toStep3());
        QElapsedTimer clock;
        bool deleting = false;
        qint64 last = -1, longest = 0;
        int ticks = 0;
        QTimer probe;
        probe.setInterval(20);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (!deleting) return;
            const qint64 now = clock.elapsed();
            if (last >= 0) longest = std::max(longest, now - last);
            last = now;
            ++ticks;
        });
        QObject::connect(b.h.form.get(), &pelorim::Form1::panelChanged, b.h.form.get(), [&](int panel, const QString& text) {
            if (panel != 2) return;
            if (text == QStringLiteral("Firmware authentication verify ok.")) {
                deleting = true;
                clock.start();
                last = 0;
            } else if (text == QStringLiteral("start loading firmware...")) {
                deleting = false;
            }
        });
        probe.start();
        QVERIFY(runRepair(b, standardPackage().build(b.files.path(), "tq318.hex")));
        QVERIFY2(ticks >= 50, qPrintable(QString::number(ticks)));  // four 1 s pauses at 20 ms
        QVERIFY2(longest <= 200, qPrintable(QString::number(longest)));
    }

    void exitDuringTheChecksumLeavesNoWorkFolder() {
        Bench b;
        QVERIFY(b.toStep3());
        Package p = standardPackage();
        p.members[0].second = randomBytes(8 << 20, 5);  // summing takes many 10 ms slices
        p.compress = false;
        bool folderGoneAtExit = false;
        bool exited = false;
        QObject::connect(b.h.form.get(), &pelorim::Form1::panelChanged, b.h.form.get(), [&](int panel, const QString& text) {
            if (panel != 2 || text != QStringLiteral("MS File Checking...")) return;
            QTimer::singleShot(0, b.h.form.get(), [&] {  // runs at the checksum's first yield
                QTest::mouseClick(b.h->ComExit, Qt::LeftButton);
                exited = !b.h.exits.empty();
                folderGoneAtExit = b.tempIsEmpty();  // checked before anything else runs
            });
        });
        QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
        QVERIFY(exited);
        QVERIFY(folderGoneAtExit);
        QVERIFY(b.lines().empty());
    }

    void corruptedArchiveFailsCleanly() {
        Bench b;
        QVERIFY(b.toStep3());
        Package p = standardPackage();
        p.members[0].second = randomBytes(60000, 4);
        const fs::path archive = p.build(b.files.path(), "tq318.hex");
        std::string bytes = read_file(archive);
        bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
        write_file(archive, bytes);
        QVERIFY(runRepair(b, archive));
        QCOMPARE(b.h.dialogs->messages.size(), std::size_t(2));
        QVERIFY(b.h.dialogs->messages[0] == "HEX File Error !!" || b.h.dialogs->messages[0] == "HEX file Error !!");
        QVERIFY(b.lines().empty());
        QVERIFY(b.tempIsEmpty());
    }
};

int runFirmwareFlowTests(int argc, char** argv) {
    FirmwareFlowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "firmware_flow_test.moc"
