// The one file that knows the Win32 communications API: opening a COM port
// exclusively, configuring it, reading and writing it, and putting it back.
#include <chrono>

#include "serial_device.h"
#include "trace.h"
#include "uart.h"

namespace uart {

namespace {

constexpr DWORD kWriteLimitMs = 2000;

std::uint16_t open_error_code(DWORD err) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NOT_READY:
            return UART_ERR_NO_DEVICE;
        // A COM port held by another program refuses a second opener with
        // "access denied": that is the busy port, not a permission problem.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
        case ERROR_LOCK_VIOLATION:
            return UART_ERR_BUSY;
        case ERROR_PRIVILEGE_NOT_HELD:
            return UART_ERR_PERMISSION;
        default:
            return UART_ERR_OPEN_FAILED;
    }
}

// An I/O error on an open port that means the port went away (adapter
// unplugged, far end closed; Wine reports a pseudo-terminal whose far end
// closed as "not ready").
bool is_hangup(DWORD err) {
    return err == ERROR_BROKEN_PIPE || err == ERROR_DEVICE_REMOVED || err == ERROR_BAD_COMMAND ||
           err == ERROR_OPERATION_ABORTED || err == ERROR_INVALID_HANDLE || err == ERROR_GEN_FAILURE ||
           err == ERROR_HANDLE_EOF || err == ERROR_IO_DEVICE || err == ERROR_NOT_READY || err == ERROR_DEVICE_NOT_CONNECTED;
}

bool line_format_valid(const LineFormat& f) {
    return f.baud >= 50 && f.baud <= 4000000 && f.data_bits >= 5 && f.data_bits <= 8 &&
           f.parity <= 4 && f.stop_bits <= 2;
}

// Takes the device's queued errors (and so clears an error state that would
// fail every later read), and tells whether the device is still there.
bool device_present(HANDLE handle, DWORD& queued) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle, &errors, &status)) return false;
    queued = status.cbInQue;
    return true;
}

}  // namespace

std::unique_ptr<SerialDevice> SerialDevice::open(const std::string& path, const LineFormat& format,
                                                 std::uint16_t& code) {
    if (!line_format_valid(format)) {
        code = UART_ERR_BAD_SETTINGS;
        return nullptr;
    }
    // Share mode 0: nobody else may open the port while we hold it.
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        code = open_error_code(::GetLastError());
        return nullptr;
    }
    auto device = std::make_unique<SerialDevice>(Key{}, handle, path);
    device->saved_.DCBlength = sizeof(DCB);
    if (!::GetCommState(handle, &device->saved_)) {
        code = UART_ERR_CONFIG;  // opened, but no serial port
        return nullptr;
    }
    device->saved_valid_ = true;
    device->saved_timeouts_valid_ = ::GetCommTimeouts(handle, &device->saved_timeouts_) != 0;
    code = device->configure(format);
    if (code != UART_OK) return nullptr;
    ::PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    return device;
}

std::uint16_t SerialDevice::configure(const LineFormat& format) {
    DCB dcb = saved_;
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = format.baud;
    dcb.ByteSize = format.data_bits;
    static constexpr BYTE kParity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb.Parity = kParity[format.parity];
    dcb.fParity = format.parity != 0;
    // One and a half stop bits are taken as two, as on termios.
    dcb.StopBits = format.stop_bits == 0 ? ONESTOPBIT : TWOSTOPBITS;
    dcb.fBinary = TRUE;
    // No flow control of any kind, and no byte is special.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(handle_, &dcb)) return UART_ERR_CONFIG;
    if (!set_read_wait(0)) return UART_ERR_CONFIG;
    return UART_OK;
}

bool SerialDevice::set_read_wait(int wait_ms) {
    if (wait_ms < 0) wait_ms = 0;
    if (wait_ms == read_wait_ms_) return true;
    COMMTIMEOUTS t{};
    if (wait_ms == 0) {
        // Return at once with whatever has arrived.
        t.ReadIntervalTimeout = MAXDWORD;
    } else {
        // Return as soon as a byte is there, or after wait_ms with none.
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = static_cast<DWORD>(wait_ms);
    }
    // A write that cannot finish returns after this long (write_all then
    // counts it as a stall).
    t.WriteTotalTimeoutConstant = kWriteLimitMs;
    t.WriteTotalTimeoutMultiplier = 0;
    if (!::SetCommTimeouts(handle_, &t)) return false;
    read_wait_ms_ = wait_ms;
    return true;
}

SerialDevice::~SerialDevice() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    if (saved_valid_) ::SetCommState(handle_, &saved_);
    if (saved_timeouts_valid_) ::SetCommTimeouts(handle_, &saved_timeouts_);
    ::CloseHandle(handle_);
}

std::uint64_t SerialDevice::now_ms() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

ReadResult SerialDevice::read_some(std::span<std::uint8_t> out, int wait_ms) {
    ReadResult result;
    if (out.empty()) return result;
    DWORD queued = 0;
    if (!device_present(handle_, queued)) {
        result.error = UART_ERR_HANGUP;
        return result;
    }
    // Something already there: take it without waiting.
    if (!set_read_wait(queued > 0 ? 0 : wait_ms)) {
        result.error = is_hangup(::GetLastError()) ? UART_ERR_HANGUP : UART_ERR_READ;
        return result;
    }
    const DWORD want = out.size() > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(out.size());
    DWORD got = 0;
    if (!::ReadFile(handle_, out.data(), want, &got, nullptr)) {
        result.error = is_hangup(::GetLastError()) ? UART_ERR_HANGUP : UART_ERR_READ;
        return result;
    }
    if (got > 0) {
        result.count = got;
        trace::record(path_, trace::Direction::Received, out.first(result.count));
    }
    return result;
}

std::uint16_t SerialDevice::line_state() {
    DWORD queued = 0;
    return device_present(handle_, queued) ? static_cast<std::uint16_t>(UART_OK)
                                           : static_cast<std::uint16_t>(UART_ERR_HANGUP);
}

std::size_t SerialDevice::write_all(std::span<const std::uint8_t> bytes, int stall_ms,
                                    std::uint16_t& code) {
    code = UART_OK;
    std::size_t done = 0;
    // Bounded: each pass either moves bytes or counts towards the stall limit.
    std::uint64_t last_progress = now_ms();
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done > 65536 ? 65536 : bytes.size() - done);
        DWORD n = 0;
        if (!::WriteFile(handle_, bytes.data() + done, chunk, &n, nullptr)) {
            code = is_hangup(::GetLastError()) ? UART_ERR_HANGUP : UART_ERR_WRITE;
            break;
        }
        if (n > 0) {
            done += n;
            last_progress = now_ms();
            continue;
        }
        if (now_ms() - last_progress >= static_cast<std::uint64_t>(stall_ms)) {
            code = UART_ERR_WRITE;
            break;
        }
        ::Sleep(1);
    }
    trace::record(path_, trace::Direction::Sent, bytes.first(done));
    return done;
}

std::size_t SerialDevice::discard_waiting() {
    std::uint8_t scratch[256];
    std::size_t total = 0;
    for (int i = 0; i < 64; ++i) {  // bounded: a port that never stops talking can't hold us
        DWORD queued = 0;
        if (!device_present(handle_, queued) || queued == 0) break;
        if (!set_read_wait(0)) break;
        DWORD n = 0;
        if (!::ReadFile(handle_, scratch, sizeof scratch, &n, nullptr) || n == 0) break;
        total += n;
        trace::record(path_, trace::Direction::Dropped, std::span<const std::uint8_t>(scratch, n));
    }
    return total;
}

}  // namespace uart
