#include "package_problem.h"

#include <array>
#include <cstdint>
#include <fstream>

#include "file_access.h"
#include "regular_file.h"

namespace tq318::repair {

namespace {
constexpr std::size_t kCabHeaderBytes = 12;  // "MSCF", 4 reserved bytes, the cabinet's length (LSB first)
}

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

std::string cabinetProblem(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::array<unsigned char, kCabHeaderBytes> header{};
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    if (in.gcount() < static_cast<std::streamsize>(header.size()) || header[0] != 'M' || header[1] != 'S' ||
        header[2] != 'C' || header[3] != 'F') {
        return "not a cabinet archive (no MSCF header)";
    }
    const std::uint32_t declared = static_cast<std::uint32_t>(header[8]) | static_cast<std::uint32_t>(header[9]) << 8 |
                                   static_cast<std::uint32_t>(header[10]) << 16 |
                                   static_cast<std::uint32_t>(header[11]) << 24;
    std::error_code ec;
    const auto actual = std::filesystem::file_size(path, ec);
    if (!ec && actual < declared) {
        return "truncated: " + std::to_string(actual) + " of the cabinet's " + std::to_string(declared) + " bytes";
    }
    return {};
}

}  // namespace tq318::repair
