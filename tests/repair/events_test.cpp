// The names of the engine's events and steps: the JSON form's names, each
// kind and step found again by its name, and no name for anything else.
#include <gtest/gtest.h>

#include "tq318/repair/events.h"

namespace {

namespace repair = tq318::repair;
using Kind = repair::EventKind;
using Step = repair::Step;

// What programs reading tovctl's --json already read: these names stay.
const std::pair<Kind, const char*> kKinds[] = {
    {Kind::Status, "status"}, {Kind::Message, "message"}, {Kind::Detected, "detected"},
    {Kind::MemberStarted, "member_started"}, {Kind::MemberFinished, "member_finished"},
    {Kind::LibraryMessage, "library_message"}, {Kind::Question, "question"}, {Kind::Progress, "progress"},
    {Kind::Result, "result"}};
const std::pair<Step, const char*> kSteps[] = {
    {Step::Other, "other"}, {Step::Heard, "heard"}, {Step::LoggingIn, "logging_in"}, {Step::ModeFound, "mode_found"},
    {Step::Checking, "checking"}, {Step::Authenticated, "authenticated"}, {Step::Loading, "loading"},
    {Step::Verifying, "verifying"}, {Step::Restarting, "restarting"}, {Step::Disconnected, "disconnected"}};

TEST(EventNames, EachKindAndStepByItsOneName) {
    for (const auto& [kind, name] : kKinds) {
        EXPECT_EQ(repair::nameOf(kind), name);
        EXPECT_EQ(repair::eventKindNamed(name), kind) << name;
    }
    for (const auto& [step, name] : kSteps) {
        EXPECT_EQ(repair::nameOf(step), name);
        EXPECT_EQ(repair::stepNamed(name), step) << name;
    }
    for (const char* unknown : {"", "summary", "Status", "Verifying ...", "Reseting..."}) {
        EXPECT_EQ(repair::eventKindNamed(unknown), std::nullopt) << unknown;
        EXPECT_EQ(repair::stepNamed(unknown), std::nullopt) << unknown;
    }
}

}  // namespace
