// The termios device's handle and saved settings: the platform part of
// SerialDevice, included inside the class (serial_device.h).
public:
    SerialDevice(Key, int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

private:
    std::uint16_t configure(const LineFormat& format);

    int fd_ = -1;
    std::string path_;
    termios saved_{};
    bool saved_valid_ = false;
    std::optional<LowLatency> low_latency_;  // put back before the descriptor closes
