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
    // Sets the time-outs so that ReadFile waits at most read_wait_ms for a
    // first byte and then returns what has arrived, and WriteFile gives up
    // after write_limit_ms; only when they differ from those set.
    bool set_timeouts(int read_wait_ms, int write_limit_ms);
    // One ReadFile into `out` under a wait of wait_ms for the first byte;
    // stores the count in `got`, returns a uart_result.
    std::uint16_t read_into(std::span<std::uint8_t> out, int wait_ms, std::size_t& got);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string path_;
    DCB saved_{};
    bool saved_valid_ = false;
    COMMTIMEOUTS saved_timeouts_{};
    bool saved_timeouts_valid_ = false;
    int read_wait_ms_ = -1;  // the waits the time-outs are set for now (-1: not yet)
    int write_limit_ms_ = 2000;
