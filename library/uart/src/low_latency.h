// Low-latency mode of a serial driver: asked for at open, the driver's
// former flags put back at close. The driver calls go through SerialFlags so
// that tests can stand in for a driver that takes the request or refuses it.
#pragma once

namespace uart {

// TIOCGSERIAL / TIOCSSERIAL on one descriptor, reduced to the flags word.
class SerialFlags {
public:
    virtual ~SerialFlags() = default;
    // The driver's flags; false when the device has none (a pseudo-terminal,
    // a driver that is not a UART's).
    virtual bool get(int fd, int& flags) = 0;
    // Writes the flags back; false when the driver refuses them.
    virtual bool set(int fd, int flags) = 0;
};

// The real ioctls.
SerialFlags& system_serial_flags();

enum class LowLatencyState {
    kUnsupported,  // the driver has no serial flags: nothing changed
    kRefused,      // the driver has them but would not take low latency: nothing changed
    kAlreadyOn,    // it was on before the open: nothing changed
    kTaken,        // switched on; the former flags go back on destruction
};

// Asks for ASYNC_LOW_LATENCY on construction; puts the former flags back on
// destruction when they were changed. Never fails the open.
class LowLatency {
public:
    LowLatency() = default;
    LowLatency(int fd, SerialFlags& driver);
    ~LowLatency();
    LowLatency(const LowLatency&) = delete;
    LowLatency& operator=(const LowLatency&) = delete;

    LowLatencyState state() const { return state_; }

private:
    int fd_ = -1;
    SerialFlags* driver_ = nullptr;
    int saved_flags_ = 0;
    LowLatencyState state_ = LowLatencyState::kUnsupported;
};

}  // namespace uart
