#include "serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "trace.h"
#include "uart.h"

namespace uart {

bool baud_constant(std::uint32_t baud, speed_t& out) {
    struct Entry {
        std::uint32_t rate;
        speed_t constant;
    };
    static constexpr Entry kRates[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},
        {150, B150},       {200, B200},       {300, B300},       {600, B600},
        {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
        {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
        {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Entry& e : kRates) {
        if (e.rate == baud) {
            out = e.constant;
            return true;
        }
    }
    return false;
}

namespace {

std::uint16_t open_error_code(int err) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return UART_ERR_NO_DEVICE;
        case EACCES:
        case EPERM:
        case EROFS:
            return UART_ERR_PERMISSION;
        case EBUSY:
            return UART_ERR_BUSY;
        default:
            return UART_ERR_OPEN_FAILED;
    }
}

bool line_format_valid(const LineFormat& f) {
    speed_t unused = B0;
    return baud_constant(f.baud, unused) && f.data_bits >= 5 && f.data_bits <= 8 && f.parity <= 4 &&
           f.stop_bits <= 2;
}

}  // namespace

std::unique_ptr<SerialDevice> SerialDevice::open(const std::string& path, const LineFormat& format,
                                                 std::uint16_t& code, SerialFlags& driver) {
    if (!line_format_valid(format)) {
        code = UART_ERR_BAD_SETTINGS;
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        code = open_error_code(errno);
        return nullptr;
    }
    auto device = std::make_unique<SerialDevice>(Key{}, fd, path);
    // flock holds against every other opener, root included; TIOCEXCL
    // additionally stops other programs that don't take the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        code = (errno == EWOULDBLOCK) ? UART_ERR_BUSY : UART_ERR_OPEN_FAILED;
        return nullptr;
    }
    if (::tcgetattr(fd, &device->saved_) != 0) {
        code = UART_ERR_CONFIG;
        return nullptr;
    }
    device->saved_valid_ = true;
    ::ioctl(fd, TIOCEXCL);
    code = device->configure(format);
    if (code != UART_OK) return nullptr;
    device->low_latency_.emplace(fd, driver);
    ::tcflush(fd, TCIOFLUSH);
    return device;
}

std::uint16_t SerialDevice::configure(const LineFormat& format) {
    termios t = saved_;
    ::cfmakeraw(&t);
    speed_t speed = B115200;
    baud_constant(format.baud, speed);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[format.data_bits - 5] | CREAD | CLOCAL;
    switch (format.parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
    }
    if (format.stop_bits != 0) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return UART_ERR_CONFIG;
    return UART_OK;
}

SerialDevice::~SerialDevice() {
    if (fd_ < 0) return;
    low_latency_.reset();
    if (saved_valid_) ::tcsetattr(fd_, TCSANOW, &saved_);
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

LowLatencyState SerialDevice::low_latency() const {
    return low_latency_ ? low_latency_->state() : LowLatencyState::kUnsupported;
}

std::uint64_t SerialDevice::now_ms() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

ReadResult SerialDevice::read_some(std::span<std::uint8_t> out, int wait_ms) {
    ReadResult result;
    if (out.empty()) return result;
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, wait_ms < 0 ? 0 : wait_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        result.error = UART_ERR_READ;
        return result;
    }
    if (ready == 0) return result;
    if (p.revents & POLLIN) {
        ssize_t n;
        do {
            n = ::read(fd_, out.data(), out.size());
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            result.count = static_cast<std::size_t>(n);
            trace::record(path_, trace::Direction::Received, out.first(result.count));
            return result;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return result;
        // End of file or EIO on a readable port: the far end is gone.
        result.error = (n == 0 || errno == EIO) ? UART_ERR_HANGUP : UART_ERR_READ;
        return result;
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) result.error = UART_ERR_HANGUP;
    return result;
}

std::uint16_t SerialDevice::line_state() {
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return UART_ERR_READ;
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return UART_ERR_HANGUP;
    return UART_OK;
}

std::size_t SerialDevice::write_all(std::span<const std::uint8_t> bytes, int stall_ms,
                                    std::uint16_t& code) {
    code = UART_OK;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd_, POLLOUT, 0};
            const int ready = ::poll(&p, 1, stall_ms);
            if (ready > 0 && (p.revents & POLLOUT)) continue;
            code = (ready > 0 && (p.revents & (POLLHUP | POLLERR))) ? UART_ERR_HANGUP : UART_ERR_WRITE;
            break;
        }
        code = (n < 0 && errno == EIO) ? UART_ERR_HANGUP : UART_ERR_WRITE;
        break;
    }
    trace::record(path_, trace::Direction::Sent, bytes.first(done));
    return done;
}

std::size_t SerialDevice::discard_waiting() {
    std::uint8_t scratch[256];
    std::size_t total = 0;
    for (int i = 0; i < 64; ++i) {  // bounded: a port that never stops talking can't hold us
        const ssize_t n = ::read(fd_, scratch, sizeof scratch);
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
        trace::record(path_, trace::Direction::Dropped, std::span<const std::uint8_t>(scratch, n));
    }
    return total;
}

}  // namespace uart
