#include "package_writer.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "cabinet_writer.h"
#include "modbus_crc.h"

namespace make_package {

namespace fs = std::filesystem;

namespace {

constexpr const char* kListName = "file.lst";
constexpr const char* kRecordName = "auth.key";
constexpr const char kMarker[] = "TQ318 firmware package authentication record.";

std::vector<std::uint8_t> read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path& p, const void* data, std::size_t size) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

std::vector<std::uint8_t> make_auth_record(const std::vector<std::uint8_t>& program) {
    const tq318::repair::CrcTables tables = tq318::repair::makeCrcTables();
    std::vector<std::uint8_t> record(50, 0);
    std::copy_n(kMarker, std::min<std::size_t>(sizeof kMarker - 1, 48), record.begin());
    const tq318::repair::CrcRegisters program_crc = tq318::repair::modbusCrc(tables, program);
    record[5] = program_crc.crcHi;
    record[20] = program_crc.crcLo;
    const tq318::repair::CrcRegisters record_crc =
        tq318::repair::modbusCrc(tables, std::span<const std::uint8_t>(record.data(), 48));
    record[48] = record_crc.crcHi;
    record[49] = record_crc.crcLo;
    return record;
}

std::string write_package(const PackageRequest& request) {
    std::error_code ec;
    if (!fs::is_directory(request.members_dir, ec)) {
        return "not a folder: " + request.members_dir.string();
    }
    std::string program = request.program_name;
    const std::string package_name = request.output.filename().string();
    if (program.empty()) {
        if (package_name.size() < 4) return "package name too short: " + package_name;
        program = package_name.substr(0, package_name.size() - 3) + "exe";
    }
    const fs::path program_path = request.members_dir / program;
    if (!fs::is_regular_file(program_path, ec)) return "no program file " + program_path.string();

    std::vector<std::string> others;
    for (const auto& entry : fs::directory_iterator(request.members_dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name == program || name == kListName || name == kRecordName) continue;
        others.push_back(name);
    }
    std::sort(others.begin(), others.end());

    const auto record = make_auth_record(read_bytes(program_path));
    write_bytes(request.members_dir / kRecordName, record.data(), record.size());

    std::vector<std::string> listed = {program};
    listed.insert(listed.end(), others.begin(), others.end());
    listed.push_back(kRecordName);
    std::string list_text;
    for (const auto& name : listed) list_text += name + "\r\n";
    write_bytes(request.members_dir / kListName, list_text.data(), list_text.size());

    const fs::path output = fs::absolute(request.output, ec);
    fs::remove(output, ec);
    std::vector<std::string> names = {kListName};
    names.insert(names.end(), listed.begin(), listed.end());
    return write_cabinet(request.members_dir, names, output, request.compress);
}

}  // namespace make_package
