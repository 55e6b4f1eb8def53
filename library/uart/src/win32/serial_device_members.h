// The Win32 device's handle and saved settings: the platform part of
// SerialDevice, included inside the class (serial_device.h).
public:
    // Win32 drivers have no low-latency request: USB adapters take their
    // latency timer from the driver's port settings.
    static std::unique_ptr<SerialDevice> open(const std::string& path, const LineFormat& format,
                                              std::uint16_t& code);

    SerialDevice(Key, HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}

private:
    std::uint16_t configure(const LineFormat& format);
    // Sets the read time-outs so that ReadFile waits at most wait_ms for a
    // first byte and then returns what has arrived.
    bool set_read_wait(int wait_ms);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string path_;
    DCB saved_{};
    bool saved_valid_ = false;
    COMMTIMEOUTS saved_timeouts_{};
    bool saved_timeouts_valid_ = false;
    int read_wait_ms_ = -2;  // the wait the time-outs are set for now
