#include "engine_calls.h"

#include "tq318/repair/engine.h"
#include "work_folder.h"

namespace pelorim {

namespace repair = tq318::repair;

repair::Detection detectController(uint8_t port, const std::string& password, repair::FrontEnd& frontEnd,
                                   repair::Console& console) {
    return repair::detect(repair::DetectionRequest{port, password, std::nullopt}, frontEnd, console);
}

void removeWorkFolders() { tq318::repair::removeLiveWorkFolders(); }

}  // namespace pelorim
