// tovctl: the command line over every export of the Tovrane library, and the
// two repairs for one controller or several at once.
#include <cstdio>

#include "cli.h"

int main(int argc, char** argv) {
    const int status = tovctl::run(argc, argv);
    std::fflush(stdout);
    return status;
}
