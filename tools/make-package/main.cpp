// tq318-make-package: builds a firmware package from a folder of members.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "package_writer.h"

namespace {

void usage(std::FILE* to) {
    std::fputs(
        "usage: tq318-make-package [--stored] [--program NAME] MEMBERS_DIR OUTPUT.hex\n"
        "\n"
        "Writes file.lst and auth.key into MEMBERS_DIR and packs every file there\n"
        "into the cabinet OUTPUT.hex (MSZIP-compressed unless --stored).\n"
        "The program file is OUTPUT's name with \"exe\" as its last three\n"
        "characters (tq318.hex -> tq318.exe); its CRC-16/MODBUS goes into auth.key.\n"
        "The repair finds the program by that rule, so the two names must agree.\n"
        "\n"
        "Options:\n"
        "  --stored         store the members uncompressed\n"
        "  --program NAME   check that the program file is NAME: refused unless\n"
        "                   OUTPUT's name gives it (--program web.exe needs web.hex)\n"
        "  --help           show this text\n"
        "  --version        print the version and exit\n",
        to);
}

// The program a repair looks for in a package of this file name: its last
// three characters replaced by "exe" (tq318.hex -> tq318.exe).
std::string program_for(const std::string& package_name) {
    return package_name.substr(0, package_name.size() < 3 ? package_name.size() : package_name.size() - 3) + "exe";
}

// Why a package named `output` with the program `program` would be refused by
// the repair; empty when the names agree.
std::string program_mismatch(const std::filesystem::path& output, const std::string& program) {
    const std::string package_name = output.filename().string();
    if (program_for(package_name) == program) return {};
    std::string why = "--program " + program + " does not agree with the package's name " + package_name +
                      ": the repair looks for " + program_for(package_name) + " in it and would refuse it";
    if (program.size() > 3 && program.ends_with("exe")) {
        why += "; name the package " + program.substr(0, program.size() - 3) + "hex";
    } else {
        why += "; the program's name must end in \"exe\"";
    }
    return why;
}

}  // namespace

int main(int argc, char** argv) {
    make_package::PackageRequest request;
    std::string positional[2];
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("tq318-make-package " TQ318_KIT_VERSION);
            return 0;
        } else if (arg == "--stored") {
            request.compress = false;
        } else if (arg == "--program" && i + 1 < argc) {
            request.program_name = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "tq318-make-package: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        } else if (count < 2) {
            positional[count++] = arg;
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (count != 2) {
        usage(stderr);
        return 2;
    }
    request.members_dir = positional[0];
    request.output = positional[1];
    if (!request.program_name.empty()) {
        if (const std::string why = program_mismatch(request.output, request.program_name); !why.empty()) {
            std::fprintf(stderr, "tq318-make-package: %s\n", why.c_str());
            return 2;
        }
    }
    const std::string error = make_package::write_package(request);
    if (!error.empty()) {
        std::fprintf(stderr, "tq318-make-package: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", request.output.string().c_str());
    return 0;
}
