#include "low_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace uart {

namespace {

class SystemSerialFlags final : public SerialFlags {
public:
    bool get(int fd, int& flags) override {
        serial_struct ss{};
        if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
        flags = ss.flags;
        return true;
    }
    bool set(int fd, int flags) override {
        serial_struct ss{};
        if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
        ss.flags = flags;
        return ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
    }
};

}  // namespace

SerialFlags& system_serial_flags() {
    static SystemSerialFlags flags;
    return flags;
}

LowLatency::LowLatency(int fd, SerialFlags& driver) : fd_(fd), driver_(&driver) {
    // USB adapters otherwise hold received bytes for their latency timer
    // (often 16 ms), which every block answer of a transfer would pay.
    if (!driver.get(fd, saved_flags_)) {
        state_ = LowLatencyState::kUnsupported;
        return;
    }
    if (saved_flags_ & ASYNC_LOW_LATENCY) {
        state_ = LowLatencyState::kAlreadyOn;
        return;
    }
    state_ = driver.set(fd, saved_flags_ | ASYNC_LOW_LATENCY) ? LowLatencyState::kTaken
                                                              : LowLatencyState::kRefused;
}

LowLatency::~LowLatency() {
    if (state_ == LowLatencyState::kTaken) driver_->set(fd_, saved_flags_);
}

}  // namespace uart
