// The termios device's handle and saved settings: the platform part of
// SerialDevice, included inside the class (serial_device.h).
public:
    // Also asks `driver` for low latency (see LowLatency: never a reason to fail).
    static std::unique_ptr<SerialDevice> open(const std::string& path, const LineFormat& format,
                                              std::uint16_t& code,
                                              SerialFlags& driver = system_serial_flags());
    // What the low-latency request came to at open.
    LowLatencyState low_latency() const;

    SerialDevice(Key, int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

private:
    std::uint16_t configure(const LineFormat& format);

    int fd_ = -1;
    std::string path_;
    termios saved_{};
    bool saved_valid_ = false;
    std::optional<LowLatency> low_latency_;  // put back before the descriptor closes
