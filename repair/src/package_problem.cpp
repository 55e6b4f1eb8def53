#include "package_problem.h"

#include <array>
#include <cstdint>
#include <fstream>

#include "cab_extract.h"
#include "file_access.h"
#include "regular_file.h"

namespace tq318::repair {

namespace {

constexpr std::size_t kCabHeaderBytes = 36;  // CFHEADER without its optional reserve and cabinet names
constexpr std::size_t kCabFileEntryBytes = 16;  // CFFILE before its name
constexpr std::size_t kCabNameLimit = 256;      // a member name, its terminating zero included

std::uint32_t little(const unsigned char* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// What the cabinet's file table says about `member`, read straight from the
// file (no extractor): why the member cannot be had, or empty when the table
// does not name it (the caller says it is missing).
std::string catalogueProblem(std::ifstream& in, const unsigned char* header, std::uint64_t fileSize,
                             const std::string& member) {
    const std::uint32_t tableAt = little(header + 16, 4);
    const std::uint32_t entries = little(header + 28, 2);
    const std::string damaged = "damaged: its file table cannot be read";
    if (tableAt < kCabHeaderBytes || tableAt >= fileSize) return damaged;
    const CabLimits limits;
    if (entries > limits.maxMembers)
        return "it holds " + std::to_string(entries) + " members, more than a package may (" +
               std::to_string(limits.maxMembers) + ")";
    in.seekg(tableAt);
    std::uint64_t total = 0;
    bool listed = false;
    for (std::uint32_t i = 0; i < entries; ++i) {
        unsigned char entry[kCabFileEntryBytes];
        if (!in.read(reinterpret_cast<char*>(entry), sizeof entry)) return damaged;
        std::string name;
        for (char c; name.size() < kCabNameLimit && in.get(c) && c != '\0';) name += c;
        if (!in || name.size() >= kCabNameLimit) return damaged;
        total += little(entry, 4);
        listed = listed || name == member;
    }
    if (total > limits.maxTotalBytes)
        return "its members add up to " + std::to_string(total) + " bytes, more than a package may (" +
               std::to_string(limits.maxTotalBytes) + ")";
    if (listed)
        return "damaged: " + member + " is in its file table but could not be unpacked (its data fails the "
               "cabinet's checks, or the work folder has no room)";
    return {};
}

}  // namespace

std::string fileProblem(const std::filesystem::path& path) {
    switch (pathKind(path)) {
        case PathKind::Missing: return "not found";
        case PathKind::Folder: return "a folder, not a file";
        case PathKind::Other: return "not a regular file (a FIFO or a device)";
        case PathKind::Regular: break;
    }
    if (!isReadableRegularFile(path)) return "not readable (permissions)";
    return {};
}

std::string cabinetProblem(const std::filesystem::path& path, const std::string& member) {
    std::ifstream in(path, std::ios::binary);
    std::array<unsigned char, kCabHeaderBytes> header{};
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    if (in.gcount() < static_cast<std::streamsize>(header.size()) || header[0] != 'M' || header[1] != 'S' ||
        header[2] != 'C' || header[3] != 'F') {
        return "not a cabinet archive (no MSCF header)";
    }
    const std::uint32_t declared = little(header.data() + 8, 4);
    std::error_code ec;
    const auto actual = std::filesystem::file_size(path, ec);
    if (ec) return "not readable";
    if (actual < declared) {
        return "truncated: " + std::to_string(actual) + " of the cabinet's " + std::to_string(declared) + " bytes";
    }
    return member.empty() ? std::string() : catalogueProblem(in, header.data(), actual, member);
}

}  // namespace tq318::repair
