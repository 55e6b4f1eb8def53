#include "engine_calls.h"

#include <chrono>
#include <cstdio>

#include "tq318/repair/engine.h"
#include "tq318/repair/record.h"
#include "tq318/repair/record_port.h"
#include "work_folder.h"

namespace pelorim {

namespace repair = tq318::repair;

namespace {

void writeRecordOf(const char* kind, const RunFacts& facts, std::chrono::system_clock::time_point started,
                   const repair::Outcome& outcome) {
    repair::RecordContext context;
    context.frontEnd = "Pelorim";
    context.kind = kind;
    context.port = facts.port;
    const auto device = repair::describePort(facts.port);
    context.device = device.device;
    context.byId = device.byId;
    context.banner = facts.banner;
    context.modeCode = facts.modeCode;
    context.started = started;
    context.ended = std::chrono::system_clock::now();
    if (const auto error = repair::writeRecord(context, outcome))
        std::fprintf(stderr, "Pelorim: the repair record was not written: %s\n", error->c_str());
}

}  // namespace

repair::Detection detectController(uint8_t port, const std::string& password, repair::FrontEnd& frontEnd,
                                   repair::Console& console) {
    return repair::detect(repair::DetectionRequest{port, password, std::nullopt}, frontEnd, console);
}

repair::Outcome repairFirmwareRecorded(const PackageChoice& choice, const RunFacts& facts, repair::FrontEnd& frontEnd,
                                       repair::Console& console) {
    repair::FirmwareRequest request;
    request.port = facts.port;
    request.packagePath = choice.packagePath;
    request.packageBareName = choice.bareName;
    request.listName = choice.listName;
    request.recordName = choice.recordName;
    request.programName = choice.programName;
    request.modeCode = facts.modeCode;
    const auto started = std::chrono::system_clock::now();
    auto outcome = repair::repairFirmware(request, frontEnd, console);
    writeRecordOf("firmware", facts, started, outcome);
    return outcome;
}

repair::Outcome repairOsRecorded(const std::string& imagePath, const RunFacts& facts, repair::FrontEnd& frontEnd,
                                 repair::Console& console) {
    const auto started = std::chrono::system_clock::now();
    auto outcome = repair::repairOs(repair::OsRequest{facts.port, imagePath, facts.password}, frontEnd, console);
    writeRecordOf("os", facts, started, outcome);
    return outcome;
}

void removeWorkFolders() { tq318::repair::removeLiveWorkFolders(); }

}  // namespace pelorim
