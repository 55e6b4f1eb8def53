// The repair engine: the two repairs of step 3 and the detection of step 2,
// with no window. A front end calls one of these with its FrontEnd and its
// Console and reads the result; nothing here needs a QApplication.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

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

// "(2). Repair Firmware" after the package was chosen: unpack and check the
// package, authenticate it, empty both disks, download every member, read the
// listing back, restart the controller with "reset".
Outcome repairFirmware(const FirmwareRequest& request, FrontEnd& frontEnd, Console& console);

struct OsRequest {
    uint8_t port = 0;
    std::string imagePath;  // bytes
};

// "(1). Repair Tovrane" after the image was chosen and found.
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
