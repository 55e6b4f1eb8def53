#include "output.h"

#include <cstdio>

#include "tovrane.h"
#include "tq318/repair/latin1.h"
#include "uart.h"

namespace tovctl {

std::string utf8(std::string_view latin1) { return tq318::repair::latin1ToUtf8(latin1); }

void print_json(const Json& object) {
    const std::string text = object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

std::string one_line(std::string_view text) {
    std::string squeezed;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
        if (c == ' ' && (squeezed.empty() || squeezed.back() == ' ')) continue;
        squeezed += c;
    }
    while (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
    return squeezed;
}

std::string printable(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::string_view code_meaning(unsigned code) {
    switch (code) {
        case UART_ERR_NOT_OPEN: return "port not open";
        case UART_ERR_BAD_PORT: return "no such COM port number";
        case UART_ERR_NO_DEVICE: return "no such device";
        case UART_ERR_PERMISSION: return "permission denied";
        case UART_ERR_BUSY: return "port in use";
        case UART_ERR_BAD_SETTINGS: return "line settings not supported";
        case UART_ERR_CONFIG: return "device refused the line settings";
        case UART_ERR_WRITE: return "write to the port failed";
        case UART_ERR_TIMEOUT: return "no complete reply in time";
        case UART_ERR_HANGUP: return "serial adapter disconnected (the line hung up)";
        case UART_ERR_TOO_LONG: return "reply too long";
        case UART_ERR_READ: return "read from the port failed";
        case UART_ERR_BAD_ARGUMENT: return "bad argument to the serial layer";
        case UART_ERR_OPEN_FAILED: return "opening the port failed";
        case TOV_ERR_NO_PROMPT: return "no prompt";
        case TOV_ERR_LINE_FAILED: return "port could not be read (serial adapter disconnected?)";
        case TOV_ERR_BLOCK_REFUSED: return "controller refused a block three times";
        case TOV_ERR_BAD_ANSWER: return "block answered with neither ACK nor NAK";
        case TOV_ERR_SILENT: return "no answer to a block";
        case TOV_ERR_WINDOW: return "progress window could not be created";
        case TOV_ERR_LOAD_FAILED: return "file transfer failed";
        case TOV_ERR_NO_FILE: return "file does not exist";
        case TOV_ERR_BAD_REPLY: return "unexpected reply";
        case TOV_ERR_TRANSFER_LINE: return "line failed during the transfer (serial adapter disconnected?)";
        case TOV_ERR_FILE_UNREADABLE: return "file cannot be read";
        case TOV_ERR_ARGUMENT: return "bad argument";
        case TOV_ERR_NO_DISK_B: return "listing has no disk B";
        case TOV_ERR_NO_TOTAL: return "listing has no file count";
        case TOV_ERR_MODEL: return "unsupported controller model";
        case TOV_ERR_SET_IP: case TOV_ERR_GET_IP: return "no \"IP=\" in the reply";
        case TOV_ERR_SET_MASK: case TOV_ERR_GET_MASK: return "no \"MASK=\" in the reply";
        case TOV_ERR_SET_GATEWAY: case TOV_ERR_GET_GATEWAY: return "no \"Gateway=\" in the reply";
        case TOV_ERR_DIR_REPLY: return "listing does not end with the prompt";
        case TOV_ERR_SET_COM: return "no \"Set to:\" in the reply";
        case TOV_ERR_GET_COM: return "no \"Current set is: \" in the reply";
        case TOV_ERR_DISK_SIZE: return "no \"SizeA=\" in the reply";
        default: return "failure";
    }
}

}  // namespace tovctl
