// Writing a firmware package: the member list, the authentication record
// and the cabinet that holds them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace make_package {

// The 50-byte authentication record for a program file: bytes 0 to 47 are
// a fixed marker text with the program's CRC-16/MODBUS at offsets 5 (low
// byte) and 20 (high byte); bytes 48 and 49 hold the CRC-16/MODBUS of bytes
// 0 to 47, low byte first.
std::vector<std::uint8_t> make_auth_record(const std::vector<std::uint8_t>& program);

struct PackageRequest {
    std::filesystem::path members_dir;    // every regular file here is a member
    std::filesystem::path output;         // the package, e.g. tq318.hex
    std::string program_name;             // default: output's name with "exe" for its last 3 characters
    bool compress = true;                 // MSZIP, else stored
};

// Writes file.lst and auth.key into members_dir, then packs the cabinet
// (cabinet_writer.h). The list names the program file first, then the other members in
// name order, then the record. Returns an error text, empty on success.
std::string write_package(const PackageRequest& request);

}  // namespace make_package
