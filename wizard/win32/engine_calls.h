// Every call from the Windows wizard into the repair engine, in one place:
// the detection of step 2, both repairs of step 3 with the record of each,
// and the removal of work folders at the program's end.
#pragma once

#include <cstdint>
#include <string>

#include "tq318/repair/console.h"
#include "tq318/repair/front_end.h"
#include "tq318/repair/outcome.h"

namespace pelorim {

// What the window knows about the run, for the repair record.
struct RunFacts {
    uint8_t port = 0;
    std::string banner;    // bytes, as the detection read it
    std::string modeCode;  // bytes
    std::string password;  // the console password: the OS repair logs in again after the restart
};

struct PackageChoice {
    std::string packagePath;  // short form, bytes
    std::string bareName;     // hexFileName
    std::string listName;     // fileListName
    std::string recordName;   // authKeyFileName
    std::string programName;  // exeFileName
};

tq318::repair::Detection detectController(uint8_t port, const std::string& password,
                                          tq318::repair::FrontEnd& frontEnd, tq318::repair::Console& console);

// The repair, then its record (%LOCALAPPDATA%\tq318\repairs); a record that
// cannot be written is said on standard error and changes nothing else.
tq318::repair::Outcome repairFirmwareRecorded(const PackageChoice& choice, const RunFacts& facts,
                                              tq318::repair::FrontEnd& frontEnd, tq318::repair::Console& console);
tq318::repair::Outcome repairOsRecorded(const std::string& imagePath, const RunFacts& facts,
                                        tq318::repair::FrontEnd& frontEnd, tq318::repair::Console& console);

// Before the program ends at once: every work folder still held goes.
void removeWorkFolders();

}  // namespace pelorim
