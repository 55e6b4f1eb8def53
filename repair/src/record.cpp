// Writing one repair record: JSON, atomically, mode 0600, the oldest pruned.
#include "tq318/repair/record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#include <nlohmann/json.hpp>

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
    std::tm tm{};
    gmtime_r(&seconds, &tm);
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
        case Outcome::Result::Failed: return "failed";
        case Outcome::Result::Abandoned: return "abandoned";
    }
    return "failed";
}

std::string errnoText(const fs::path& p) { return p.string() + ": " + std::strerror(errno); }

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

std::optional<fs::path> recordFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        return fs::path(state) / "tq318" / "repairs";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return fs::path(home) / ".local" / "state" / "tq318" / "repairs";
    }
    return std::nullopt;
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
        {"verification",
         Json{{"attempted", o.verification.attempted},
              {"passed", o.verification.passed},
              {"listingCode", optionalValue(o.verification.listingCode)},
              {"lines", std::move(lines)}}},
        {"deviceTouched", o.deviceTouched},
        {"messages", std::move(messages)},
        {"failureText", utf8(o.failureText)},
        {"outcome", std::string(outcomeName(o.result))}};
    return record.dump(2) + "\n";
}

std::optional<std::string> writeRecord(const RecordContext& context, const Outcome& outcome) try {
    const auto folder = recordFolder();
    if (!folder) return "neither XDG_STATE_HOME nor HOME is set: no place for records";
    // Our own folder only: a symbolic link planted in its place (or in place
    // of the tq318 folder above it) is refused, never followed, so nothing
    // outside is created, written to or has its mode changed.
    const auto planted = [&](bool mustExist) -> std::optional<std::string> {
        for (const fs::path& p : {folder->parent_path(), *folder}) {
            struct stat st {};
            if (::lstat(p.c_str(), &st) != 0) {
                if (errno == ENOENT && !mustExist) continue;
                return errnoText(p);
            }
            if (S_ISLNK(st.st_mode)) return p.string() + ": is a symbolic link, not our own folder; no record written";
            if (!S_ISDIR(st.st_mode)) return p.string() + ": not a folder";
        }
        return std::nullopt;
    };
    if (auto why = planted(false)) return why;
    std::error_code ec;
    fs::create_directories(*folder, ec);
    if (ec) return folder->string() + ": " + ec.message();
    if (auto why = planted(true)) return why;
    const int dir = ::open(folder->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return errnoText(*folder);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{dir};
    struct stat st {};
    if (::fstat(dir, &st) != 0) return errnoText(*folder);
    if (st.st_uid != ::geteuid()) return folder->string() + ": belongs to another user; no record written";
    if ((st.st_mode & 07777) != 0700 && ::fchmod(dir, 0700) != 0) return errnoText(*folder);

    static std::atomic<unsigned> sequence{0};
    const std::string name = utcTime(context.ended, true) + "-" + std::to_string(::getpid()) + "-" +
                             std::to_string(sequence++) + ".json";
    const std::string temp = "." + name + ".tmp";
    const std::string text = recordJson(context, outcome);

    const int fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errnoText(*folder / temp);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == text.size() && ::fsync(fd) == 0;
    std::string why = written ? std::string() : errnoText(*folder / temp);
    ::close(fd);
    if (written && ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) why = errnoText(*folder / name);
    if (!why.empty()) {
        ::unlinkat(dir, temp.c_str(), 0);
        return why;
    }
    prune(*folder);
    return std::nullopt;
} catch (const std::exception& e) {
    return std::string("the record could not be made: ") + e.what();
}

}  // namespace tq318::repair
