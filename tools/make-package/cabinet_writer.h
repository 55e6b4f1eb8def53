// Packing a cabinet (one per platform: cabinet_writer_posix.cpp runs gcab, win32/
// cabinet_writer_win32.cpp uses the system's cabinet API).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace make_package {

// Packs the files `names` of `folder`, under those names and in that order,
// into the cabinet `output` (an absolute path), MSZIP-compressed when
// `compress`. Returns an error text, empty on success.
std::string write_cabinet(const std::filesystem::path& folder, const std::vector<std::string>& names,
                          const std::filesystem::path& output, bool compress);

}  // namespace make_package
