// What a repair or a detection tells its front end, by name: each event a
// kind, a status its step, and one name per kind and per step for the JSON
// form (tovctl's --json events, a several-port repair's children). The
// texts stay what the window shows; the names are what a program reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tq318::repair {

// One member download, for a progress line.
struct MemberEvent {
    std::string name;     // the name as listed (bytes)
    int index = 0;        // 1-based among the members that are sent
    int count = 0;        // how many members are sent in this run
    uint64_t size = 0;    // bytes
    uint64_t bytesLeft = 0;  // this member's and every later one's bytes
};

enum class EventKind : uint8_t {
    Status,          // the activity line (the wizard's status panel 2)
    Message,         // a message the user acknowledges
    Detected,        // the banner came after a power restart
    MemberStarted,   // a download begins
    MemberFinished,  // a download ended, with the library's code
    // What the console library shows while the engine waits on it.
    LibraryMessage,  // one of its message boxes, with its caption
    Question,        // its yes/no question, with the answer given
    Progress,        // a block was acknowledged
    Result,          // the run's end (the front end's own object)
};

// Where a run is, as its status says it.
enum class Step : uint8_t {
    Other,          // a text of the front end's own
    Heard,          // detection: what the console sent
    LoggingIn,      // "login ..."
    ModeFound,      // "<mode> Master Mode..."
    Checking,       // "<mode> File Checking..."
    Authenticated,  // "Firmware authentication verify ok."
    Loading,        // "start loading firmware..."
    Verifying,      // "Verifying ..."
    Restarting,     // "Reseting..."
    Disconnected,   // the serial adapter went away
};

struct Event {
    EventKind kind = EventKind::Status;
    Step step = Step::Other;  // Status
    std::string text{};       // Status, Message, LibraryMessage, Question: as shown
    std::string caption{};    // LibraryMessage
    bool answer = false;      // Question
    std::string banner{};     // Detected
    std::string modeCode{};   // Detected
    MemberEvent member{};     // MemberStarted, MemberFinished; Progress: index and count
    uint16_t code = 0;        // MemberFinished
    uint64_t bytesDone = 0;   // Progress: of every member sent in this run
};

inline Event statusEvent(Step step, std::string_view text) {
    return {.kind = EventKind::Status, .step = step, .text = std::string(text)};
}
inline Event messageEvent(std::string_view text) { return {.kind = EventKind::Message, .text = std::string(text)}; }
inline Event memberEvent(EventKind kind, const MemberEvent& member, uint16_t code = 0) {
    return {.kind = kind, .member = member, .code = code};
}

// The one mapping between kinds, steps and their names.
std::string_view nameOf(EventKind kind);
std::string_view nameOf(Step step);
std::optional<EventKind> eventKindNamed(std::string_view name);
std::optional<Step> stepNamed(std::string_view name);

}  // namespace tq318::repair
