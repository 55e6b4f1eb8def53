#include "disk_deletes.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <thread>

#include "line_state.h"
#include "uart.h"

namespace tq318::repair {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kReadSlice{20};
// The first question's wait, before the line's delay is known.
constexpr milliseconds kFirstAnswerLimit{5000};
// Longest answer delay taken from a line; a slower one counts as no answer.
constexpr milliseconds kMaxAnswerDelay{4000};
constexpr std::size_t kSeenShown = 60;

enum class Heard { Question, Prompt, Restart, Other, Nothing, Stopped, HungUp };

// The controller's boot as the wizard sees it: the password prompt, a
// refused password, or the banner.
bool showsRestart(std::string_view text) {
    for (std::string_view mark : {"password:", "Login incorrect", "HALVERN Tovrane"}) {
        if (text.find(mark) != text.npos) return true;
    }
    return false;
}

// The question ends with '?', the prompt with '>'; whatever follows the
// last of them (a controller that adds text after its prompt) is passed over.
Heard classify(std::string_view text) {
    if (showsRestart(text)) return Heard::Restart;
    const auto question = text.rfind('?');
    const auto prompt = text.rfind('>');
    if (question != text.npos && (prompt == text.npos || prompt < question)) return Heard::Question;
    if (prompt != text.npos) return Heard::Prompt;
    return text.empty() ? Heard::Nothing : Heard::Other;
}

struct Answer {
    Heard heard = Heard::Nothing;
    std::string text;
    std::optional<milliseconds> firstByte;  // after the send
};

// Reads the answer to a line sent at `sentAt` until it is complete (a
// question, a prompt or a restart) and `minimum` has passed since the send,
// or until `limit` after the send. A stop ends the wait at once; the front
// end is handed its pending events after every read.
Answer readAnswer(uint8_t port, Console& console, FrontEnd& fe, Clock::time_point sentAt, milliseconds minimum,
                  milliseconds limit) {
    Answer answer;
    std::array<char, kTextCapacity> buffer{};
    const auto deadline = sentAt + limit;
    for (;;) {
        if (fe.ended()) {
            answer.heard = Heard::Stopped;
            return answer;
        }
        const Heard heard = classify(answer.text);
        const bool complete = heard == Heard::Question || heard == Heard::Prompt || heard == Heard::Restart;
        const auto now = Clock::now();
        if (complete && now >= sentAt + minimum) {
            answer.heard = heard;
            return answer;
        }
        // Until `minimum` the line is still read: a restart right behind the
        // question must not be answered.
        if (!complete && now >= deadline) {
            answer.heard = heard;
            return answer;
        }
        buffer[0] = '\0';
        buffer.back() = '\0';
        uint16_t scratch = 0;
        const uint16_t code = console.Receive_Cmd(port, buffer.data(), kReadSlice.count(), 0, &scratch);
        if (code == kLineHungUp) {
            answer.heard = Heard::HungUp;
            return answer;
        }
        const auto end = std::find(buffer.begin(), buffer.end(), '\0');
        if (end != buffer.begin()) {
            if (!answer.firstByte) answer.firstByte = std::chrono::duration_cast<milliseconds>(Clock::now() - sentAt);
            answer.text.append(buffer.begin(), end);
            if (answer.text.size() > kTextCapacity) answer.text.erase(0, answer.text.size() - kTextCapacity);
        } else if (code != 0 && code != UART_ERR_TIMEOUT) {
            // A port that fails at once must not spin here.
            std::this_thread::sleep_until(std::min(Clock::now() + kReadSlice, deadline));
        }
        fe.yield();
    }
}

std::string diskWords(Deletes::Disk disk) {
    switch (disk) {
        case Deletes::Disk::Emptied: return "was emptied";
        case Deletes::Disk::Confirmed: return "may have been emptied (its deletion was confirmed, no answer followed)";
        case Deletes::Disk::Untouched: break;
    }
    return "was not emptied";
}

std::string shown(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (out.size() >= kSeenShown) {
            out += "...";
            break;
        }
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            out += '?';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.front() == ' ') out.erase(0, 1);
    return out;
}

}  // namespace

milliseconds answerLimitFor(milliseconds answerDelay) { return 2 * answerDelay + milliseconds(1000); }

std::string Deletes::disksText() const {
    using D = Deletes::Disk;
    if (disks[0] == D::Emptied && disks[1] == D::Emptied) return "Both disks are now empty.";
    if (disks[0] == D::Untouched && disks[1] == D::Untouched) return "No disk was emptied.";
    return "Disk A " + diskWords(disks[0]) + ", disk B " + diskWords(disks[1]) + ".";
}

std::string Deletes::reason() const {
    const std::string line = "\"" + command + "\"";
    switch (end) {
        case End::Done: return {};
        case End::Stopped: return "stopped during the deletes, at " + line;
        case End::Unanswered:
            return "no answer to " + line + " within " + std::to_string(answerLimit.count()) + " ms";
        case End::Restarted:
            return "the controller restarted during the deletes (\"" + shown(seen) + "\" after " + line +
                   "); nothing more was sent";
        case End::Unexpected:
            return "the controller answered \"" + shown(seen) + "\" to " + line + "; nothing more was sent";
        case End::LineFailed:
            return "the console line " + line + " could not be sent (code " + std::to_string(lineCode) + ")";
    }
    return {};
}

Deletes emptyBothDisks(uint8_t port, Console& console, FrontEnd& fe, milliseconds pause) {
    Deletes d;
    bool delayKnown = false;
    // Sends one line; false (and the sequence's end set) when it could not be sent.
    auto send = [&](const char* text) {
        d.command = text;
        const uint16_t code = console.Send_Cmd(port, text, 0);
        if (code == 0) return true;
        d.end = Deletes::End::LineFailed;
        d.lineCode = code;
        return false;
    };
    // A question left open on a stop is answered No: the disk stays as it is
    // and the controller goes back to its prompt.
    auto stopAt = [&](bool questionOpen) {
        const std::string command = d.command;
        if (questionOpen) console.Send_Cmd(port, "n", 0);
        d.command = command;
        d.end = Deletes::End::Stopped;
    };
    // What ends the sequence when the answer was not the one expected.
    auto endWith = [&](const Answer& a, milliseconds limit) {
        d.seen = a.text;
        d.answerLimit = limit;
        switch (a.heard) {
            case Heard::Restart: d.end = Deletes::End::Restarted; break;
            case Heard::Nothing: d.end = Deletes::End::Unanswered; break;
            case Heard::HungUp:
                d.end = Deletes::End::LineFailed;
                d.lineCode = kLineHungUp;
                break;
            default: d.end = Deletes::End::Unexpected; break;
        }
    };

    for (const std::size_t disk : {std::size_t{0}, std::size_t{1}}) {
        if (fe.ended()) {
            stopAt(false);
            return d;
        }
        const auto askedAt = Clock::now();
        if (!send(disk == 0 ? "del" : "delb")) return d;
        const milliseconds questionLimit = pause + (delayKnown ? answerLimitFor(d.answerDelay) : kFirstAnswerLimit);
        const Answer question = readAnswer(port, console, fe, askedAt, pause, questionLimit);
        if (!delayKnown && question.firstByte) {
            d.answerDelay = std::min(*question.firstByte, kMaxAnswerDelay);
            delayKnown = true;
        }
        if (question.heard == Heard::Stopped || (question.heard == Heard::Question && fe.ended())) {
            stopAt(true);
            return d;
        }
        if (question.heard != Heard::Question) {
            endWith(question, questionLimit);
            return d;
        }

        const auto confirmedAt = Clock::now();
        if (!send("y")) return d;
        d.disks[disk] = Deletes::Disk::Confirmed;
        const milliseconds promptLimit = pause + answerLimitFor(d.answerDelay);
        const Answer done = readAnswer(port, console, fe, confirmedAt, pause, promptLimit);
        if (done.heard == Heard::Prompt) {
            d.disks[disk] = Deletes::Disk::Emptied;
            continue;
        }
        if (done.heard == Heard::Stopped) {
            stopAt(false);
            return d;
        }
        endWith(done, promptLimit);
        return d;
    }
    return d;
}

}  // namespace tq318::repair
