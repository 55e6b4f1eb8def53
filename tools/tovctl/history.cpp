// tovctl history: the repair records, newest first.
#include "history.h"

#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

#include "families.h"
#include "output.h"
#include "tq318/repair/record.h"
#include "tq318/repair/record_reader.h"

namespace tovctl {

namespace {

std::string text_of(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The outcome as the record names it when it is one a repair writes; a
// record someone else made up says nothing we could show as a result.
std::string outcome_of(const Json& r) {
    const std::string outcome = text_of(r, "outcome");
    return tq318::repair::isOutcomeName(outcome) ? outcome : "(unknown outcome)";
}

// The port as the record names it: its device when known (a repair of
// several paths lends each child the same COM number), else the COM number.
std::string port_of(const Json& r) {
    const std::string com = "COM" + std::to_string(r.value("port", 0));
    const std::string device = text_of(r, "device");
    return device.empty() ? com : com + " " + device;
}

// One line for a person: when, who, where, what (the path in full), how it
// ended and how far it came: the members loaded of all, or why it was refused.
std::string summary_line(const Json& r) {
    // The authentication record is unpacked and checked, never sent: not a member.
    std::size_t members = 0, loaded = 0;
    if (const auto it = r.find("members"); it != r.end() && it->is_array()) {
        for (const Json& m : *it) {
            if (!m.is_object() || text_of(m, "name") == "auth.key") continue;
            ++members;
            const auto code = m.find("loadCode");
            loaded += code != m.end() && code->is_number_integer() && code->get<long long>() == 0 ? 1 : 0;
        }
    }
    std::string line = text_of(r, "ended") + "  " + text_of(r, "frontEnd") + "  " + port_of(r) + "  " +
                       text_of(r, "kind") + "  " + text_of(r, "path") + "  " + outcome_of(r);
    const std::string refusal = text_of(r, "refusal");
    const auto touched = r.find("deviceTouched");
    if (!refusal.empty() && touched != r.end() && touched->is_boolean() && !touched->get<bool>()) {
        line += "  refused before the device was touched: " + refusal;
    } else if (text_of(r, "kind") == "firmware") {
        line += "  " + std::to_string(loaded) + "/" + std::to_string(members) + " members loaded";
    }
    return line;
}

}  // namespace

int run_history(bool json, std::optional<int> last) {
    const auto folder = tq318::repair::recordFolder();
    const std::size_t limit = last ? static_cast<std::size_t>(*last) : std::numeric_limits<std::size_t>::max();
    const auto listing = folder ? tq318::repair::listRecords(*folder, limit) : tq318::repair::RecordListing{};
    for (const Json& r : listing.records) {
        if (json) {
            print_json(r);
        } else {
            std::printf("%s\n", printable(summary_line(r)).c_str());
        }
    }
    if (listing.records.empty() && !json) {
        std::printf("no repairs recorded%s%s\n", folder ? " in " : "", folder ? printable(folder->string()).c_str() : "");
    }
    if (listing.skipped > 0) {
        std::fprintf(stderr, "tovctl: %zu record file(s) in %s could not be read and were skipped\n",
                     listing.skipped, printable(folder->string()).c_str());
    }
    std::fflush(stdout);
    return 0;
}

void add_history(CLI::App& app, Commands& commands, Options& options) {
    auto* sub = app.add_subcommand("history", "list the records of past repairs, newest first");
    auto last = std::make_shared<int>(0);
    sub->add_option("--last", *last, "only the N newest")->type_name("N")->check(CLI::Range(1, 1000000));
    commands.push_back({sub, PortUse::None, nullptr, [last, &options](Context&) {
                            return run_history(options.json, *last > 0 ? std::optional<int>(*last) : std::nullopt);
                        }});
}

}  // namespace tovctl
