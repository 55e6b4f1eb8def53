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

std::string reply_line(std::string_view text) {
    while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    std::string folded;
    for (char c : text) {
        const bool line_end = c == '\r' || c == '\n';
        if (line_end && !folded.empty() && folded.back() == ' ') continue;
        folded += line_end ? ' ' : c;
    }
    return printable(folded);
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of `s` and its
// code point; 0 when it is not one (a stray byte, an overlong form, a cut end).
std::size_t utf8_sequence(std::string_view s, char32_t& code) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    const std::size_t length = b0 >= 0xc2 && b0 <= 0xdf ? 2 : b0 >= 0xe0 && b0 <= 0xef ? 3 : b0 >= 0xf0 && b0 <= 0xf4 ? 4 : 0;
    if (length == 0 || s.size() < length) return 0;
    code = b0 & (0x7f >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xc0) != 0x80) return 0;
        code = code << 6 | (b & 0x3f);
    }
    const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
    return length;
}

// Characters a terminal acts on or that reorder what is shown: the C1
// controls (U+009B is CSI, U+009D OSC), the line and paragraph separators
// and the bidirectional controls.
bool steers_terminal(char32_t c) {
    return (c >= 0x80 && c <= 0x9f) || c == 0x2028 || c == 0x2029 || (c >= 0x200e && c <= 0x200f) ||
           (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string printable(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        char escaped[12];
        if (b < 0x20 || b == 0x7f) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
            out += escaped;
            ++i;
            continue;
        }
        if (b < 0x80) {
            out += bytes[i++];
            continue;
        }
        char32_t code = 0;
        const std::size_t length = utf8_sequence(bytes.substr(i), code);
        if (length == 0) {
            // Not UTF-8: a lone byte such as 0x9b is CSI to an 8-bit terminal.
            std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
            out += escaped;
            ++i;
        } else if (steers_terminal(code)) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
            out += escaped;
            i += length;
        } else {
            out.append(bytes.substr(i, length));
            i += length;
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
        case UART_ERR_TIMEOUT:
            return "no complete reply in time: check that the cable joins this port to the controller's console "
                   "port and that the controller is on";
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
