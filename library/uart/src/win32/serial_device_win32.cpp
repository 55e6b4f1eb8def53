// The one file that knows the Win32 communications API: opening a COM port
// exclusively, configuring it, reading and writing it, and putting it back.
//
// Every wait is the driver's: a read sleeps in ReadFile under time-outs that
// return on the first byte (ReadIntervalTimeout = ReadTotalTimeoutMultiplier
// = MAXDWORD, the wait as the constant), a write in WriteFile under a total
// write time-out. Nothing here sleeps or polls, so no wait is rounded up to
// the scheduler's tick; the time-outs are set only when the wait changes.
#include <chrono>

#include "serial_device.h"
#include "trace.h"
#include "uart.h"

namespace uart {

namespace {

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
    if (!set_timeouts(0, 2000)) return UART_ERR_CONFIG;
    return UART_OK;
}

bool SerialDevice::set_timeouts(int read_wait_ms, int write_limit_ms) {
    if (read_wait_ms < 0) read_wait_ms = 0;
    if (write_limit_ms < 1) write_limit_ms = 1;
    if (read_wait_ms == read_wait_ms_ && write_limit_ms == write_limit_ms_) return true;
    COMMTIMEOUTS t{};
    // Return at once with what has arrived, or (with a wait) as soon as a
    // first byte is there, or after the wait with none.
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = read_wait_ms == 0 ? 0 : MAXDWORD;
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(read_wait_ms);
    // A write returns when all is taken or after this long (a stall).
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(write_limit_ms);
    t.WriteTotalTimeoutMultiplier = 0;
    if (!::SetCommTimeouts(handle_, &t)) {
        read_wait_ms_ = -1;  // unknown now: set them again next time
        return false;
    }
    read_wait_ms_ = read_wait_ms;
    write_limit_ms_ = write_limit_ms;
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

std::uint16_t SerialDevice::read_into(std::span<std::uint8_t> out, int wait_ms, std::size_t& got) {
    got = 0;
    if (!set_timeouts(wait_ms, write_limit_ms_)) return is_hangup(::GetLastError()) ? UART_ERR_HANGUP : UART_ERR_READ;
    const DWORD want = out.size() > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(out.size());
    DWORD n = 0;
    if (!::ReadFile(handle_, out.data(), want, &n, nullptr)) {
        const DWORD err = ::GetLastError();
        DWORD queued = 0;
        // A read refused for a queued line error takes the error (so that the
        // next read can go on) and reports nothing this time.
        return is_hangup(err) || !device_present(handle_, queued) ? UART_ERR_HANGUP : UART_ERR_READ;
    }
    got = n;
    return UART_OK;
}

ReadResult SerialDevice::read_some(std::span<std::uint8_t> out, int wait_ms) {
    ReadResult result;
    if (out.empty()) return result;
    std::size_t got = 0;
    // The wait is a one-byte ReadFile under the first-byte time-outs: a
    // longer one may be held until the whole count or the time-out (Wine's
    // serial reads do so). What else is waiting is then taken without a wait.
    if (out.size() > 1 || wait_ms <= 0) {
        result.error = read_into(out, 0, got);
        if (result.error == UART_OK && got == 0 && wait_ms > 0) {
            result.error = read_into(out.first(1), wait_ms, got);
            if (result.error == UART_OK && got == 1) {
                std::size_t more = 0;
                result.error = read_into(out.subspan(1), 0, more);
                got += more;
            }
        }
    } else {
        result.error = read_into(out, wait_ms, got);
    }
    if (got > 0) {
        result.count = got;
        trace::record(path_, trace::Direction::Received, out.first(result.count));
        return result;
    }
    // Nothing within the wait: tell a silent line from one that went away.
    DWORD queued = 0;
    if (result.error == UART_OK && !device_present(handle_, queued)) result.error = UART_ERR_HANGUP;
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
    if (!set_timeouts(read_wait_ms_, stall_ms)) {
        code = is_hangup(::GetLastError()) ? UART_ERR_HANGUP : UART_ERR_WRITE;
        return 0;
    }
    // Bounded: each WriteFile either moves bytes or has waited stall_ms in
    // the driver with none taken, which ends the write as a stall.
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done > 65536 ? 65536 : bytes.size() - done);
        DWORD n = 0;
        if (!::WriteFile(handle_, bytes.data() + done, chunk, &n, nullptr)) {
            const DWORD err = ::GetLastError();
            if (err != ERROR_SEM_TIMEOUT && err != ERROR_TIMEOUT) {
                code = is_hangup(err) ? UART_ERR_HANGUP : UART_ERR_WRITE;
                done += n;
                break;
            }
        }
        if (n == 0) {
            code = UART_ERR_WRITE;
            break;
        }
        done += n;
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
        if (!set_timeouts(0, write_limit_ms_)) break;
        DWORD n = 0;
        if (!::ReadFile(handle_, scratch, sizeof scratch, &n, nullptr) || n == 0) break;
        total += n;
        trace::record(path_, trace::Direction::Dropped, std::span<const std::uint8_t>(scratch, n));
    }
    return total;
}

}  // namespace uart
