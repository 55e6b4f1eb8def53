// tq318-make-package: builds a firmware package from a folder of members.
#include <cstdio>
#include <cstring>
#include <string>

#include "package_writer.h"

namespace {

void usage(std::FILE* to) {
    std::fputs(
        "usage: tq318-make-package [--stored] [--program NAME] MEMBERS_DIR OUTPUT.hex\n"
        "\n"
        "Writes file.lst and auth.key into MEMBERS_DIR and packs every file there\n"
        "into the cabinet OUTPUT.hex (MSZIP-compressed unless --stored).\n"
        "The program file defaults to OUTPUT's name with \"exe\" as its last three\n"
        "characters (tq318.hex -> tq318.exe); its CRC-16/MODBUS goes into auth.key.\n"
        "\n"
        "Options:\n"
        "  --stored         store the members uncompressed\n"
        "  --program NAME   the program file is NAME\n"
        "  --help           show this text\n"
        "  --version        print the version and exit\n",
        to);
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
    const std::string error = make_package::write_package(request);
    if (!error.empty()) {
        std::fprintf(stderr, "tq318-make-package: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", request.output.string().c_str());
    return 0;
}
