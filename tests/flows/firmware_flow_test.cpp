// "(2). Repair Firmware": unpack a package, authenticate it, empty both
// disks, download every listed member, restart the controller.
#include <QCursor>
#include <QProgressBar>
#include <QTest>

#include <algorithm>
#include <map>

#include "flow_support.h"
#include "package_writer.h"
#include "temp_dir.h"

using namespace flow_test;
using testing_support::read_file;
using testing_support::write_file;

namespace {

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

    void silentPromptFailsAfterTheDeletes() {
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
        QCOMPARE(b.h.dialogs->messages, std::vector<QString>{"Firmware Upgrade Failed!!"});
        QVERIFY(shown(b.h.panel2History, "start loading firmware..."));
        const auto lines = b.lines();
        QVERIFY(lines.size() >= 4);
        QCOMPARE(std::vector<std::string>(lines.begin(), lines.begin() + 4),
                 (std::vector<std::string>{"del", "y", "delb", "y"}));
        QVERIFY(loadLines(lines).empty());
        QVERIFY(std::find(lines.begin(), lines.end(), "reset") == lines.end());
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

    void namesThatLeaveTheWorkFolderRefuseThePackage() {
        for (const char* bad : {"../evil", "/tmp/evil", "sub/evil", "..", "sub\\evil"}) {
            Bench b;
            QVERIFY(b.toStep3());
            Package p = standardPackage();
            p.members.push_back({"evil", "planted"});
            std::string list = "tq318.exe\r\n";
            list += bad;
            list += "\r\nauth.key\r\n";
            p.list = list;
            QVERIFY(runRepair(b, p.build(b.files.path(), "tq318.hex")));
            QCOMPARE(b.h.dialogs->messages,
                     (std::vector<QString>{"HEX File Error !!", "Firmware Upgrade Failed!!"}));
            QVERIFY(b.lines().empty());
            QVERIFY2(b.tempIsEmpty(), bad);
            QVERIFY(!fs::exists("/tmp/evil") || read_file("/tmp/evil") != "planted");
        }
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
