// One repair of step 3, the same in both wizards: the engine's session runs
// it and writes its record ("Pelorim", the detection's banner). The record's
// end is the moment the run's last message box opened when the engine did
// nothing more after it ("Upgrade Successed." waits for its OK), else the
// moment the repair returned. The window shows what `window` hears and what
// the outcome says; it writes no record itself.
#pragma once

#include <cstdint>
#include <string>

#include "tq318/repair/console.h"
#include "tq318/repair/front_end.h"
#include "tq318/repair/outcome.h"

namespace pelorim {

// What the window knows about the run (bytes).
struct RunFacts {
    uint8_t port = 0;
    std::string banner;
    std::string modeCode;
    std::string password;  // the console password: the OS repair logs in again after the restart
};

// The package chosen in the open-file dialog and the names it is read by (bytes).
struct PackageNames {
    std::string path;         // the short form of the chosen path
    std::string bareName;     // hexFileName
    std::string listName;     // fileListName
    std::string recordName;   // authKeyFileName
    std::string programName;  // exeFileName
};

tq318::repair::Outcome runFirmwareSession(const RunFacts& facts, const PackageNames& package,
                                          tq318::repair::FrontEnd& window, tq318::repair::Console& console);
tq318::repair::Outcome runOsSession(const RunFacts& facts, const std::string& imagePath,
                                    tq318::repair::FrontEnd& window, tq318::repair::Console& console);

}  // namespace pelorim
