// The cabinet interface as the Windows set builds it (the system's FDI):
// every member out byte for byte from stored and MSZIP cabinets, names
// matched exactly, and damaged, truncated, garbage and oversized cabinets
// refused with nothing left behind.
// usage: cab_wine.exe FOLDER (with in\<members>, stored.cab and mszip.cab)
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "cab_extract.h"
#include "check.h"

namespace fs = std::filesystem;
using tq318::repair::CabLimits;
using tq318::repair::extractFileFromCab;

namespace {

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

bool extract(const fs::path& cab, const std::string& member, const fs::path& to, const CabLimits& limits = {}) {
    return extractFileFromCab(cab.string(), "@" + member, to.string(), 1, "", limits);
}

void check_cabinet(const fs::path& folder, const std::string& kind) {
    std::printf("-- %s\n", kind.c_str());
    const fs::path cab = folder / (kind + ".cab");
    const fs::path out = folder / ("out-" + kind);
    fs::remove_all(out);
    fs::create_directories(out);
    std::map<std::string, std::string> members;
    for (const auto& entry : fs::directory_iterator(folder / "in"))
        members[entry.path().filename().string()] = read_file(entry.path());
    CHECK(members.size() == 4);

    for (const auto& [name, bytes] : members) {
        CHECK(extract(cab, name, out / name));
        CHECK(read_file(out / name) == bytes);
    }
    CHECK(!extract(cab, "nothere", out / "nothere") && !fs::exists(out / "nothere"));
    CHECK(!extract(cab, "AUTH.KEY", out / "AUTH.KEY"));

    // The limits apply to what the system's FDI reports: members counted, sizes summed.
    CabLimits few, small;
    few.maxMembers = 3;
    small.maxTotalBytes = 100000;
    CHECK(!extract(cab, "auth.key", out / "a", few) && !fs::exists(out / "a"));
    CHECK(!extract(cab, "auth.key", out / "b", small) && !fs::exists(out / "b"));

    // Damaged (one bit), truncated, garbage and missing cabinets: refused, nothing left behind.
    const std::string whole = read_file(cab);
    std::string flipped = whole, garbage(5000, '\0');
    flipped[whole.size() / 2] = static_cast<char>(flipped[whole.size() / 2] ^ 0x01);
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
    const fs::path bad = folder / (kind + "-damaged.cab");
    for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"damaged", flipped},
                                      {"truncated", whole.substr(0, whole.size() / 3)}, {"garbage", garbage}}) {
        write_file(bad, bytes);
        CHECK(!extract(bad, "tq318.exe", out / name) && !fs::exists(out / name));
    }
    CHECK(!extract(folder / "no-such.cab", "file.lst", out / "missing") && !fs::exists(out / "missing"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return std::printf("usage: cab_wine.exe FOLDER\n"), 2;
    check_cabinet(argv[1], "stored");
    check_cabinet(argv[1], "mszip");
    std::printf("%d failure(s)\n", wincheck::g_failures);
    return wincheck::g_failures;
}
