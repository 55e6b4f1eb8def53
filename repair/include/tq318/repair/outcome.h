// What a repair or a detection leaves for the front end and a repair record.
// Names and texts are bytes as they came from the package or the console.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tq318::repair {

// What a front end shows when the serial adapter was pulled out (or the far
// end hung up) during a detection or a repair.
inline constexpr const char* kAdapterDisconnectedText = "Serial adapter disconnected !!";

struct MemberRecord {
    std::string name;                  // the list line, bytes
    uint64_t size = 0;                 // of the unpacked file
    std::string sha256;                // lower-case hex of the unpacked file
    bool sent = false;                 // a download was attempted
    std::optional<uint16_t> loadCode;  // TOV_Load_File's result when sent
};

struct Verification {
    bool attempted = false;
    bool passed = false;
    std::optional<uint16_t> listingCode;  // the "dir" exchange's result
    std::vector<std::string> lines;       // "<name>: missing" ... as shown
};

struct Outcome {
    enum class Result {
        Verified,   // success proven by the controller
        Unproven,   // done as far as the controller shows, but not proven: `unproven` says what is missing
        Failed,     // the front end shows failureText()
        Abandoned   // the program ended during the run: nothing more to show
    };
    Result result = Result::Failed;
    bool succeeded() const { return result == Result::Verified; }

    std::string path;                 // package or image, bytes
    std::string sha256;               // of that file ("" when it could not be read)
    std::vector<MemberRecord> members;   // firmware: every non-empty list line, list order
    char disk = 0;                    // firmware: the disk selector used
    int loadMode = -1;                // firmware: 0 normal, 3 "loadfirmware"; -1 not reached
    std::optional<uint16_t> updateCode;  // OS repair: TOV_Update_Tovrane's result
    // OS repair: what the controller's report said of the image's CRC-16
    // ("equal", "absent", "unknown" when the front end cannot see it; "" before).
    std::string imageCrc;
    // OS repair: the version the controller reported after its restart
    // ("Tovrane 1.23 build 003"); empty when it did not come back.
    std::string runningAfterRestart;
    // What could not be proven (Result::Unproven), as shown.
    std::string unproven;
    // OS repair: why a failed run failed (the library's code, the restart).
    std::string reason;
    Verification verification;
    bool deviceTouched = false;       // a console line was sent
    // Firmware: what the deletes left once they emptied (or may have emptied)
    // a disk, "Both disks are now empty." ...; "" while no disk was touched.
    // A run that fails or stops after it leaves the controller without its
    // firmware: the repair has to be repeated.
    std::string disks;
    bool disconnected = false;        // the serial adapter went away: failureText says so
    std::vector<std::string> messages;   // every message the engine showed, in order
    // The message a front end shows after a failed run ("Firmware Upgrade
    // Failed!!" or "OS Upgrade Failed!!"); empty when nothing more is shown.
    std::string failureText;
    // Why the package or image was refused before the device was touched
    // ("not a cabinet", "the image is empty (0 bytes)", ...); empty otherwise.
    std::string refusal;
};

struct Detection {
    bool found = false;
    std::string banner;    // the line that began "HALVERN Tovrane", without its line end
    std::string received;  // the whole poll that held it (the prompt may follow the banner)
    std::string modeCode;  // its characters 21 and 22
    bool disconnected = false;  // the wait ended because the serial adapter went away
};

}  // namespace tq318::repair
