// A stand-in for libuart.so that records every call, for tests of the
// wizard's calls and their arguments. Built twice: libfake_uart.so with all
// four functions the wizard binds, and libfake_uart_noreceive.so without
// Receive_Cmd, to test a library that lacks a function.
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>

namespace {
std::string calls;
std::deque<std::string> receiveQueue;
uint16_t openResult = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) const char* FakeUart_Calls() { return calls.c_str(); }

__attribute__((visibility("default"))) void FakeUart_Reset() {
    calls.clear();
    receiveQueue.clear();
    openResult = 0;
}

__attribute__((visibility("default"))) void FakeUart_SetOpenResult(uint16_t result) { openResult = result; }

// Each Receive_Cmd call stores the next queued text ("" once the queue is empty).
__attribute__((visibility("default"))) void FakeUart_QueueReceive(const char* text) { receiveQueue.emplace_back(text); }

__attribute__((visibility("default"))) uint16_t Open_Com(uint8_t port, uint32_t baud, uint8_t data_bits,
                                                         uint8_t parity, uint8_t stop_bits) {
    calls += "Open_Com(" + std::to_string(port) + "," + std::to_string(baud) + "," + std::to_string(data_bits) +
             "," + std::to_string(parity) + "," + std::to_string(stop_bits) + ")\n";
    return openResult;
}

__attribute__((visibility("default"))) uint16_t Close_Com(uint8_t port) {
    calls += "Close_Com(" + std::to_string(port) + ")\n";
    return 0;
}

__attribute__((visibility("default"))) uint16_t Send_Cmd(uint8_t port, const char* text, int16_t flag) {
    calls += "Send_Cmd(" + std::to_string(port) + "," + text + "," + std::to_string(flag) + ")\n";
    return 0;
}

#ifndef FAKE_UART_WITHOUT_RECEIVE
__attribute__((visibility("default"))) uint16_t Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms,
                                                            int16_t flag, uint16_t* scratch) {
    calls += "Receive_Cmd(" + std::to_string(port) + "," + std::to_string(timeout_ms) + "," + std::to_string(flag) +
             "," + (scratch != nullptr ? std::to_string(*scratch) : std::string("null")) + ")\n";
    std::string text;
    if (!receiveQueue.empty()) {
        text = receiveQueue.front();
        receiveQueue.pop_front();
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return text.empty() ? 9 : 0;
}
#endif
}
