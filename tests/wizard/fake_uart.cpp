// A stand-in for libuart.so with the four functions the wizard binds; it
// records every call as "name(a,b,...)".
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::string calls;
std::deque<std::string> received;  // what the next Receive_Cmd calls store; "" once it is empty
uint16_t openResult = 0;

uint16_t record(const char* name, auto... args) {
    std::string line = name;
    ((line += (line.back() == '(' ? "" : ",") + std::string(args)), ...);
    return calls += line + ")\n", 0;
}
std::string n(auto value) { return std::to_string(value); }
}  // namespace

EXPORT const char* FakeUart_Calls() { return calls.c_str(); }
EXPORT void FakeUart_Reset() { calls.clear(), received.clear(), openResult = 0; }
EXPORT void FakeUart_SetOpenResult(uint16_t result) { openResult = result; }
EXPORT void FakeUart_QueueReceive(const char* text) { received.emplace_back(text); }

EXPORT uint16_t Open_Com(uint8_t port, uint32_t baud, uint8_t data_bits, uint8_t parity, uint8_t stop_bits) {
    return record("Open_Com(", n(port), n(baud), n(data_bits), n(parity), n(stop_bits)), openResult;
}
EXPORT uint16_t Close_Com(uint8_t port) { return record("Close_Com(", n(port)); }
EXPORT uint16_t Send_Cmd(uint8_t port, const char* line, int16_t flag) { return record("Send_Cmd(", n(port), line, n(flag)); }
EXPORT uint16_t Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag, uint16_t* scratch) {
    record("Receive_Cmd(", n(port), n(timeout_ms), n(flag), scratch != nullptr ? n(*scratch) : "null");
    const std::string next = received.empty() ? "" : received.front();
    if (!received.empty()) received.pop_front();
    return std::memcpy(buffer, next.c_str(), next.size() + 1), next.empty() ? 9 : 0;
}
