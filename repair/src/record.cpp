// Writing one repair record: JSON, atomically, mode 0600, the oldest pruned.
#include "tq318/repair/record.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#include <nlohmann/json.hpp>

#include "file_access.h"
#include "tq318/repair/latin1.h"
#include "tq318/repair/record_reader.h"

namespace tq318::repair {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using std::chrono::system_clock;

std::string utf8(std::string_view latin1) { return latin1ToUtf8(latin1); }

// "2026-12-07T11:30:00.123Z", or the compact "20261207T113000.123Z" for file names.
std::string utcTime(system_clock::time_point t, bool compact) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    const std::tm tm = utcCalendar(seconds);
    char text[40];
    std::strftime(text, sizeof text, compact ? "%Y%m%dT%H%M%S" : "%Y-%m-%dT%H:%M:%S", &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(ms % 1000));
    return out;
}

template <typename T>
Json optionalValue(const std::optional<T>& v) {
    return v ? Json(*v) : Json(nullptr);
}

std::string_view outcomeName(Outcome::Result r) {
    switch (r) {
        case Outcome::Result::Verified: return "verified";
        case Outcome::Result::Unproven: return "unproven";
        case Outcome::Result::Failed: return "failed";
        case Outcome::Result::Abandoned: return "abandoned";
    }
    return "failed";
}

constexpr Outcome::Result kResults[] = {Outcome::Result::Verified, Outcome::Result::Unproven, Outcome::Result::Failed,
                                        Outcome::Result::Abandoned};

// Removes our oldest record files beyond kRecordsKept (names sort by time).
void prune(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (isRecordFileName(name) && entry.is_regular_file(ec)) names.push_back(name);
    }
    if (names.size() <= kRecordsKept) return;
    std::sort(names.begin(), names.end());
    for (std::size_t i = 0; i + kRecordsKept < names.size(); ++i) fs::remove(folder / names[i], ec);
}

}  // namespace

bool isOutcomeName(std::string_view name) {
    return std::any_of(std::begin(kResults), std::end(kResults), [&](Outcome::Result r) { return outcomeName(r) == name; });
}

std::string recordJson(const RecordContext& c, const Outcome& o) {
    Json members = Json::array();
    for (const MemberRecord& m : o.members) {
        members.push_back(Json{{"name", utf8(m.name)},
                               {"size", m.size},
                               {"sha256", m.sha256},
                               {"sent", m.sent},
                               {"loadCode", optionalValue(m.loadCode)}});
    }
    Json lines = Json::array();
    for (const std::string& l : o.verification.lines) lines.push_back(utf8(l));
    Json messages = Json::array();
    for (const std::string& m : o.messages) messages.push_back(utf8(m));
    const Json record{
        {"started", utcTime(c.started, false)},
        {"ended", utcTime(c.ended, false)},
        {"frontEnd", utf8(c.frontEnd)},
        {"kind", utf8(c.kind)},
        {"port", c.port},
        {"device", utf8(c.device)},
        {"byId", utf8(c.byId)},
        {"banner", utf8(c.banner)},
        {"modeCode", utf8(c.modeCode)},
        {"path", utf8(o.path)},
        {"sha256", o.sha256},
        {"members", std::move(members)},
        {"disk", o.disk != 0 ? Json(std::string(1, o.disk)) : Json(nullptr)},
        {"loadMode", o.loadMode >= 0 ? Json(o.loadMode) : Json(nullptr)},
        {"updateCode", optionalValue(o.updateCode)},
        {"imageCrc", o.imageCrc},
        {"runningAfterRestart", utf8(o.runningAfterRestart)},
        {"unproven", utf8(o.unproven)},
        {"reason", utf8(o.reason)},
        {"verification",
         Json{{"attempted", o.verification.attempted},
              {"passed", o.verification.passed},
              {"listingCode", optionalValue(o.verification.listingCode)},
              {"lines", std::move(lines)}}},
        {"deviceTouched", o.deviceTouched},
        {"messages", std::move(messages)},
        {"failureText", utf8(o.failureText)},
        {"refusal", utf8(o.refusal)},
        {"outcome", std::string(outcomeName(o.result))}};
    return record.dump(2) + "\n";
}

std::optional<std::string> writeRecord(const RecordContext& context, const Outcome& outcome) try {
    const auto folder = recordFolder();
    if (!folder) return recordFolderUnset();
    static std::atomic<unsigned> sequence{0};
    const std::string name = utcTime(context.ended, true) + "-" + std::to_string(processNumber()) + "-" +
                             std::to_string(sequence++) + ".json";
    const std::string why = writeIntoOwnFolder(*folder, name, recordJson(context, outcome));
    if (!why.empty()) return why;
    prune(*folder);
    return std::nullopt;
} catch (const std::exception& e) {
    return std::string("the record could not be made: ") + e.what();
}

}  // namespace tq318::repair
