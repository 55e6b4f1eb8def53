// The repair engine: the two repairs of step 3 and the detection of step 2,
// with no window. A front end calls one of these with its FrontEnd and its
// Console and reads the result; nothing here needs a QApplication.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tq318/repair/console.h"
#include "tq318/repair/front_end.h"
#include "tq318/repair/outcome.h"

namespace tq318::repair {

struct FirmwareRequest {
    uint8_t port = 0;
    std::string packagePath;       // bytes, as the file system takes them
    std::string packageBareName;   // the package's bare name (the work folder's stem)
    std::string listName = "file.lst";
    std::string recordName = "auth.key";
    std::string programName;       // default: programNameFor(packageBareName)
    std::string modeCode;          // the banner's mode code: "MS" loads to disk A, else disk B
    std::optional<char> disk;      // 'a' or 'b': overrides the mode code's choice
};

// "<stem>exe" for a bare name "<stem>hex" (its last three characters replaced).
std::string programNameFor(const std::string& packageBareName);

// How long the controller may take from "reset" to its version report. The
// simulator's restart takes under a second (password and reply delays
// added); a controller's boot from flash takes seconds.
inline constexpr std::chrono::milliseconds kRestartLimit{30000};

struct OsRequest {
    uint8_t port = 0;
    std::string imagePath;  // bytes
    std::string password;   // the console password, for the login after the restart
    std::chrono::milliseconds restartLimit = kRestartLimit;
};

// A package (or an image) checked whole before any console line: unpacked
// into a private work folder, its record authenticated, every member counted,
// sized, hashed and its name checked, the program's CRC compared. Nothing of
// it needs a console or a front end; a repair given it sends exactly these
// bytes. Copies share the work folder, which goes with the last of them.
struct CheckedPackage {
    // What reached the check before it ended, so that a front end's progress
    // shows the same steps whether the package passed or not.
    enum class Stage {
        Opened,      // refused before its member list was read
        Listed,      // the list was read ("<mode> File Checking...")
        Counted,     // every member unpacked whole (the progress bar appears)
        RecordSummed,// the record's checksum was taken
        Passed       // the program's CRC matched the record: the device may be touched
    };
    Stage stage = Stage::Opened;
    bool accepted() const { return stage == Stage::Passed; }

    std::string refusal;                 // why, in words ("" when the messages say it all)
    std::vector<std::string> messages;   // what a front end shows for the refusal, in order
    std::string path;                    // the package or image, bytes
    std::string sha256;                  // of that file
    std::vector<MemberRecord> members;   // firmware: every non-empty list line, list order
    std::uint64_t bytesToSend = 0;       // what the downloads carry (the record is not sent)
    int steps = 0;                       // firmware: the progress bar's maximum (list lines + 3)
    std::filesystem::path folder;        // firmware: the unpacked, checked members
    std::string programName;
    std::shared_ptr<const void> keepAlive;  // owns the work folder (null when it is someone else's)
};

// The engine's first step, once per package however many ports it goes to.
// `reached` hears each stage as it is reached (with the progress bar's
// maximum); `yield` is called now and then during long sums (a window's
// event loop). Both may be empty.
using CheckStageHook = std::function<void(CheckedPackage::Stage, int steps)>;
CheckedPackage checkPackage(const FirmwareRequest& request, const CheckStageHook& reached = {},
                            const std::function<void()>& yield = {});
CheckedPackage checkImage(const OsRequest& request);

// A package another process checked into `folder` (a several-port repair's
// children): the members found there are hashed again, and authenticated, and
// must be exactly `expected` (names, sizes, SHA-256) of a package whose file
// still has `packageSha256`; nothing is unpacked. Refused otherwise.
CheckedPackage adoptCheckedPackage(const FirmwareRequest& request, const std::filesystem::path& folder,
                                   const std::string& packageSha256, const std::vector<MemberRecord>& expected);

// "(2). Repair Firmware" after the package was chosen: a package checked by
// checkPackage is sent: both disks emptied, every member downloaded, the
// listing read back, the controller restarted with "reset". A refused check
// shows its messages and touches nothing.
Outcome repairFirmware(const FirmwareRequest& request, const CheckedPackage& checked, FrontEnd& frontEnd,
                       Console& console);
// checkPackage, its stages shown on `frontEnd` as they are reached, then the repair.
Outcome repairFirmware(const FirmwareRequest& request, FrontEnd& frontEnd, Console& console);

// "(1). Repair Tovrane" after the image was chosen and found. Verified only
// when the controller's report gave the image's CRC and, after "reset", the
// controller came back and reported its version; Unproven when it came back
// but its report gave no CRC.
Outcome repairOs(const OsRequest& request, const CheckedPackage& checked, FrontEnd& frontEnd, Console& console);
Outcome repairOs(const OsRequest& request, FrontEnd& frontEnd, Console& console);

struct DetectionRequest {
    uint8_t port = 0;
    std::string password;  // sent at "password:"
    // Null: wait as long as FrontEnd::keepWaiting() says (the wizard).
    std::optional<std::chrono::milliseconds> timeout;
};

// Step 2: poll the console; log in at "password:"; end at the banner.
Detection detect(const DetectionRequest& request, FrontEnd& frontEnd, Console& console);

}  // namespace tq318::repair
