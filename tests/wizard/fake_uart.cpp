// A stand-in for libuart.so that records every call. Built twice:
// libfake_uart.so with the four functions the wizard binds, and
// libfake_uart_noreceive.so without Receive_Cmd (a library lacking a function).
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::string calls;
std::deque<std::string> receiveQueue;
uint16_t openResult = 0;

std::string text(const char* s) { return s; }
std::string text(auto n) { return std::to_string(n); }
// Appends "name(a,b,...)" as a line.
void record(const char* name, auto... args) {
    std::string line = std::string(name) + "(";
    ((line += text(args) + ","), ...);
    line.back() = ')';
    calls += line + "\n";
}
}  // namespace

EXPORT const char* FakeUart_Calls() { return calls.c_str(); }
EXPORT void FakeUart_Reset() { calls.clear(), receiveQueue.clear(), openResult = 0; }
EXPORT void FakeUart_SetOpenResult(uint16_t result) { openResult = result; }
// Each Receive_Cmd call stores the next queued text ("" once the queue is empty).
EXPORT void FakeUart_QueueReceive(const char* text) { receiveQueue.emplace_back(text); }

EXPORT uint16_t Open_Com(uint8_t port, uint32_t baud, uint8_t data_bits, uint8_t parity, uint8_t stop_bits) {
    record("Open_Com", port, baud, data_bits, parity, stop_bits);
    return openResult;
}
EXPORT uint16_t Close_Com(uint8_t port) { return record("Close_Com", port), 0; }
EXPORT uint16_t Send_Cmd(uint8_t port, const char* line, int16_t flag) {
    return record("Send_Cmd", port, line, flag), 0;
}
#ifndef FAKE_UART_WITHOUT_RECEIVE
EXPORT uint16_t Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag, uint16_t* scratch) {
    record("Receive_Cmd", port, timeout_ms, flag, scratch != nullptr ? text(*scratch).c_str() : "null");
    const std::string next = receiveQueue.empty() ? "" : receiveQueue.front();
    if (!receiveQueue.empty()) receiveQueue.pop_front();
    std::memcpy(buffer, next.c_str(), next.size() + 1);
    return next.empty() ? 9 : 0;
}
#endif
