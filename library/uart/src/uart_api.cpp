// The exported C functions: a table of open ports by number, and each call
// mapped onto the device adapter and the reply collector.
#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "line_settle.h"
#include "port_map.h"
#include "reply_collector.h"
#include "serial_device.h"
#include "trace.h"
#include "uart.h"

namespace {

using uart::SerialDevice;

// Longest time a write may stall before it counts as failed.
constexpr int kWriteStallMs = 2000;
// Receive_Cmd and Read_Reply stop collecting this long after they started,
// even if the line keeps trickling.
constexpr std::uint32_t kQuietCollectLimitMs = 250;

std::mutex g_mutex;  // one call at a time; every call is bounded in time
// Set from a signal handler: the next Send_Raw sends nothing.
std::atomic<bool> g_stop_next_send{false};
static_assert(std::atomic<bool>::is_always_lock_free);
std::array<std::unique_ptr<SerialDevice>, 256> g_ports;
std::array<uart::LineSettle, 256> g_settle;  // per open port, learnt from its replies

SerialDevice* port_device(std::uint8_t port) { return g_ports[port].get(); }

void store_scratch(uint16_t* scratch, std::size_t value) {
    if (scratch != nullptr) *scratch = static_cast<uint16_t>(value);
}

uint16_t send_line(SerialDevice& device, const char* text) {
    std::string line(text);
    line += '\r';
    uint16_t code = UART_OK;
    device.write_all(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()),
                     kWriteStallMs, code);
    return code;
}

uint16_t collect(std::uint8_t port, char* reply, uint32_t capacity, uint32_t timeout_ms,
                 std::optional<char> end_char, uint16_t* scratch) {
    uart::LineSettle& settle = g_settle[port];
    uart::CollectRequest request;
    request.timeout_ms = timeout_ms;
    request.end_char = end_char;
    // A reply that ends with its end character is complete as it is; one that
    // may go on waits out the line's own pauses.
    request.settle_ms = UART_SETTLE_MS;
    request.quiet_settle_ms = settle.settle_ms();
    request.unfinished_settle_ms = settle.unfinished_settle_ms();
    // The trickle limit never cuts below one settle time after a first byte.
    request.max_quiet_collect_ms = std::max(kQuietCollectLimitMs, 2 * request.quiet_settle_ms);
    const uart::CollectResult r = uart::collect_reply(*g_ports[port], std::span(reply, capacity), request);
    settle.observe_gap(r.longest_gap_ms);
    store_scratch(scratch, r.length);
    return r.code;
}

// UART_FLAG_FIRST_BYTES: one kernel wait for a first byte, then the bytes
// waiting, at most capacity-1; the rest stays in the driver.
uint16_t first_bytes(SerialDevice& device, char* reply, uint32_t capacity, uint32_t timeout_ms,
                     uint16_t* scratch) {
    store_scratch(scratch, 0);
    if (capacity < 2) return UART_ERR_BAD_ARGUMENT;
    const std::size_t room = std::min<std::size_t>(capacity - 1, UINT16_MAX);
    const int wait = static_cast<int>(std::min<uint32_t>(timeout_ms, INT32_MAX));
    const uart::ReadResult r =
        device.read_some(std::span(reinterpret_cast<std::uint8_t*>(reply), room), wait);
    reply[r.count] = '\0';
    store_scratch(scratch, r.count);
    if (r.error != 0) return r.error;
    return r.count > 0 ? static_cast<uint16_t>(UART_OK) : static_cast<uint16_t>(UART_ERR_TIMEOUT);
}

// Runs an export's body so that no exception leaves the layer: anything
// thrown (allocation failure, a mutex error) becomes the export's failure value.
template <class Result, class Body>
Result guarded(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace

extern "C" {

UART_API uint16_t UART_CALL Open_Com(uint8_t port, uint32_t baud, uint8_t data_bits, uint8_t parity,
                           uint8_t stop_bits) {
    return guarded<uint16_t>(UART_ERR_OPEN_FAILED, [&]() -> uint16_t {
        std::lock_guard lock(g_mutex);
        if (port == 0) return UART_ERR_BAD_PORT;
        if (g_ports[port]) return UART_ERR_BUSY;
        const auto path = uart::device_path_for(port);
        if (!path) return UART_ERR_BAD_PORT;
        if (path->empty()) return UART_ERR_NO_DEVICE;
        uart::trace::start_from_environment();
        uint16_t code = UART_OK;
        g_ports[port] = SerialDevice::open(*path, {baud, data_bits, parity, stop_bits}, code);
        g_settle[port].reset();
        uart::trace::note(*path, "open COM" + std::to_string(port) + " -> " + std::to_string(code));
        return g_ports[port] ? static_cast<uint16_t>(UART_OK) : code;
    });
}

UART_API uint16_t UART_CALL Close_Com(uint8_t port) {
    return guarded<uint16_t>(UART_ERR_READ, [&]() -> uint16_t {
        std::lock_guard lock(g_mutex);
        if (!g_ports[port]) return UART_ERR_NOT_OPEN;
        uart::trace::note(g_ports[port]->path(), "close COM" + std::to_string(port));
        g_ports[port].reset();
        return UART_OK;
    });
}

UART_API uint16_t UART_CALL Send_Cmd(uint8_t port, const char* text, int16_t /*flag*/) {
    return guarded<uint16_t>(UART_ERR_READ, [&]() -> uint16_t {
        std::lock_guard lock(g_mutex);
        SerialDevice* device = port_device(port);
        if (device == nullptr) return UART_ERR_NOT_OPEN;
        if (text == nullptr) return UART_ERR_BAD_ARGUMENT;
        return send_line(*device, text);
    });
}

UART_API uint16_t UART_CALL Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag,
                              uint16_t* scratch) {
    return guarded<uint16_t>(UART_ERR_READ, [&]() -> uint16_t {
        std::lock_guard lock(g_mutex);
        SerialDevice* device = port_device(port);
        if (flag == UART_FLAG_LINE_STATE) return device == nullptr ? static_cast<uint16_t>(UART_ERR_NOT_OPEN) : device->line_state();
        if (buffer == nullptr) return UART_ERR_BAD_ARGUMENT;
        buffer[0] = '\0';
        if (device == nullptr) return UART_ERR_NOT_OPEN;
        return collect(port, buffer, UART_TEXT_CAPACITY, timeout_ms, std::nullopt, scratch);
    });
}

UART_API uint16_t UART_CALL Exchange_Cmd(uint8_t port, const char* command, char* reply, uint32_t capacity,
                               uint32_t timeout_ms, int16_t /*flag*/, uint16_t* scratch,
                               char end_char) {
    return guarded<uint16_t>(UART_ERR_READ, [&]() -> uint16_t {
        std::lock_guard lock(g_mutex);
        if (reply == nullptr || capacity == 0 || command == nullptr) return UART_ERR_BAD_ARGUMENT;
        reply[0] = '\0';
        SerialDevice* device = port_device(port);
        if (device == nullptr) return UART_ERR_NOT_OPEN;
        device->discard_waiting();
        if (const uint16_t code = send_line(*device, command); code != UART_OK) return code;
        return collect(port, reply, capacity, timeout_ms, end_char, scratch);
    });
}

UART_API uint16_t UART_CALL Read_Reply(uint8_t port, char* reply, uint32_t capacity, uint32_t timeout_ms,
                             int16_t flag, uint16_t* scratch) {
    return guarded<uint16_t>(UART_ERR_READ, [&]() -> uint16_t {
        std::lock_guard lock(g_mutex);
        SerialDevice* device = port_device(port);
        if (flag == UART_FLAG_LINE_STATE) return device == nullptr ? static_cast<uint16_t>(UART_ERR_NOT_OPEN) : device->line_state();
        if (reply == nullptr || capacity == 0) return UART_ERR_BAD_ARGUMENT;
        reply[0] = '\0';
        if (device == nullptr) return UART_ERR_NOT_OPEN;
        if (flag == UART_FLAG_FIRST_BYTES) return first_bytes(*device, reply, capacity, timeout_ms, scratch);
        return collect(port, reply, capacity, timeout_ms, std::nullopt, scratch);
    });
}

UART_API uint16_t UART_CALL Read_Until(uint8_t port, char* reply, uint32_t capacity, uint32_t timeout_ms,
                             int16_t /*flag*/, uint16_t* scratch, char end_char) {
    return guarded<uint16_t>(UART_ERR_READ, [&]() -> uint16_t {
        std::lock_guard lock(g_mutex);
        if (reply == nullptr || capacity == 0) return UART_ERR_BAD_ARGUMENT;
        reply[0] = '\0';
        SerialDevice* device = port_device(port);
        if (device == nullptr) return UART_ERR_NOT_OPEN;
        return collect(port, reply, capacity, timeout_ms, end_char, scratch);
    });
}

UART_API uint16_t UART_CALL Send_Raw(uint8_t port, const void* bytes, uint16_t count) {
    return guarded<uint16_t>(0, [&]() -> uint16_t {
        std::lock_guard lock(g_mutex);
        SerialDevice* device = port_device(port);
        if (device == nullptr || bytes == nullptr) return 0;
        if (g_stop_next_send.exchange(false)) {
            uart::trace::note(device->path(), "send stopped on request");
            return 0;
        }
        uint16_t code = UART_OK;
        return static_cast<uint16_t>(
            device->write_all(std::span(static_cast<const std::uint8_t*>(bytes), count), kWriteStallMs,
                              code));
    });
}

UART_API int32_t UART_CALL Read_Raw(uint8_t port, void* buffer, uint32_t max_count) {
    return guarded<int32_t>(-static_cast<int32_t>(UART_ERR_READ), [&]() -> int32_t {
        std::lock_guard lock(g_mutex);
        SerialDevice* device = port_device(port);
        if (device == nullptr) return -static_cast<int32_t>(UART_ERR_NOT_OPEN);
        if (buffer == nullptr) return -static_cast<int32_t>(UART_ERR_BAD_ARGUMENT);
        if (max_count == 0) return 0;
        const uart::ReadResult r =
            device->read_some(std::span(static_cast<std::uint8_t*>(buffer), max_count), UART_RAW_WAIT_MS);
        if (r.error != 0) return -static_cast<int32_t>(r.error);
        return static_cast<int32_t>(r.count);
    });
}

UART_API uint16_t UART_CALL Uart_Stop_Next_Send(uint8_t stop) {
    return g_stop_next_send.exchange(stop != 0) ? 1 : 0;
}

UART_API uint16_t UART_CALL Uart_Device_Path(uint8_t port, char* path, uint32_t capacity) {
    return guarded<uint16_t>(UART_ERR_READ, [&]() -> uint16_t {
        if (path == nullptr || capacity == 0) return UART_ERR_BAD_ARGUMENT;
        const auto mapped = uart::device_path_for(port);
        if (!mapped) return UART_ERR_BAD_PORT;
        std::snprintf(path, capacity, "%s", mapped->c_str());
        return mapped->empty() ? static_cast<uint16_t>(UART_ERR_NO_DEVICE) : static_cast<uint16_t>(UART_OK);
    });
}

}  // extern "C"
