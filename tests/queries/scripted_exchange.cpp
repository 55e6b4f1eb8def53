#include "scripted_exchange.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "uart.h"

namespace scripted {
namespace {
std::mutex mutex;
bool armed = false;
std::deque<Answer> queue;
std::vector<Sent> log;
}  // namespace

void arm(std::vector<Answer> answers) {
    std::lock_guard lock(mutex);
    armed = true;
    queue.assign(answers.begin(), answers.end());
    log.clear();
}

void disarm() {
    std::lock_guard lock(mutex);
    armed = false;
    queue.clear();
}

std::vector<Sent> sent() {
    std::lock_guard lock(mutex);
    return log;
}

std::vector<std::string> sent_commands() {
    std::vector<std::string> out;
    for (const Sent& s : sent()) out.push_back(s.command);
    return out;
}

}  // namespace scripted

extern "C" uint16_t Exchange_Cmd(uint8_t port, const char* command, char* reply, uint32_t capacity,
                                 uint32_t timeout_ms, int16_t flag, uint16_t* scratch, char end_char) {
    {
        std::lock_guard lock(scripted::mutex);
        if (scripted::armed) {
            scripted::log.push_back({command, timeout_ms, end_char});
            scripted::Answer answer{UART_ERR_TIMEOUT, ""};
            if (!scripted::queue.empty()) {
                answer = scripted::queue.front();
                scripted::queue.pop_front();
            }
            const std::size_t n = std::min<std::size_t>(answer.reply.size(), capacity - 1);
            std::memcpy(reply, answer.reply.data(), n);
            reply[n] = '\0';
            return answer.code;
        }
    }
    using Fn = uint16_t (*)(uint8_t, const char*, char*, uint32_t, uint32_t, int16_t, uint16_t*, char);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "Exchange_Cmd"));
    return real(port, command, reply, capacity, timeout_ms, flag, scratch, end_char);
}
