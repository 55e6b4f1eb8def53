// Every call from the Windows wizard into the repair engine outside the
// repair sessions (repair_session.h): the detection of step 2 and the
// removal of work folders at the program's end.
#pragma once

#include <cstdint>
#include <string>

#include "tq318/repair/console.h"
#include "tq318/repair/front_end.h"
#include "tq318/repair/outcome.h"

namespace pelorim {

tq318::repair::Detection detectController(uint8_t port, const std::string& password,
                                          tq318::repair::FrontEnd& frontEnd, tq318::repair::Console& console);

// Before the program ends at once: every work folder still held goes.
void removeWorkFolders();

}  // namespace pelorim
