// The names of the engine's events and steps, and a front end's default
// handling of an event: the member that shows its kind.
#include "tq318/repair/events.h"

#include <array>
#include <utility>

#include "tq318/repair/front_end.h"

namespace tq318::repair {

namespace {

// The JSON form's names; each kind and each step exactly once.
constexpr std::array<std::pair<EventKind, std::string_view>, 9> kKindNames{{
    {EventKind::Status, "status"},
    {EventKind::Message, "message"},
    {EventKind::Detected, "detected"},
    {EventKind::MemberStarted, "member_started"},
    {EventKind::MemberFinished, "member_finished"},
    {EventKind::LibraryMessage, "library_message"},
    {EventKind::Question, "question"},
    {EventKind::Progress, "progress"},
    {EventKind::Result, "result"},
}};

constexpr std::array<std::pair<Step, std::string_view>, 10> kStepNames{{
    {Step::Other, "other"},
    {Step::Heard, "heard"},
    {Step::LoggingIn, "logging_in"},
    {Step::ModeFound, "mode_found"},
    {Step::Checking, "checking"},
    {Step::Authenticated, "authenticated"},
    {Step::Loading, "loading"},
    {Step::Verifying, "verifying"},
    {Step::Restarting, "restarting"},
    {Step::Disconnected, "disconnected"},
}};

template <typename T, std::size_t N>
std::string_view nameIn(const std::array<std::pair<T, std::string_view>, N>& table, T value) {
    for (const auto& [v, name] : table)
        if (v == value) return name;
    return {};
}

template <typename T, std::size_t N>
std::optional<T> valueIn(const std::array<std::pair<T, std::string_view>, N>& table, std::string_view name) {
    for (const auto& [v, n] : table)
        if (n == name) return v;
    return std::nullopt;
}

}  // namespace

std::string_view nameOf(EventKind kind) { return nameIn(kKindNames, kind); }
std::string_view nameOf(Step step) { return nameIn(kStepNames, step); }
std::optional<EventKind> eventKindNamed(std::string_view name) { return valueIn(kKindNames, name); }
std::optional<Step> stepNamed(std::string_view name) { return valueIn(kStepNames, name); }

void FrontEnd::event(const Event& e) {
    switch (e.kind) {
        case EventKind::Status: return status(e.text);
        case EventKind::Message: return message(e.text);
        case EventKind::Detected: return detected(e.banner, e.modeCode);
        case EventKind::MemberStarted: return memberStarted(e.member);
        case EventKind::MemberFinished: return memberFinished(e.member, e.code);
        default: return;  // the library's and the front end's own are not the engine's
    }
}

}  // namespace tq318::repair
