// A Windows GUI program that loads one file through tovrane.dll, so the
// library shows its "Load Process" dialog for the transfer; the driver
// (dialog_wine.sh) photographs the dialog meanwhile. Exit code: the
// transfer's result, or 100 + the port's open code.
//   dialog_wine.exe PORT FILE TARGET_NAME
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "tovrane.h"
#include "uart.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc != 4) return 2;
    const int port = std::atoi(__argv[1]);
    if (port < 1 || port > 255) return 2;
    const auto p = static_cast<uint8_t>(port);
    if (const uint16_t open = Open_Com(p, 115200, 8, 0, 0); open != 0) return 100 + open;
    char reply[TOV_REPLY_MIN] = {};
    const uint16_t code = TOV_Load_File(p, __argv[2], 'A', __argv[3], 0, reply);
    Close_Com(p);
    std::printf("TOV_Load_File: %u\n%s\n", code, reply);
    return code;
}
