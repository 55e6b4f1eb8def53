#include "repair_session.h"

#include <chrono>
#include <optional>
#include <utility>

#include "tq318/repair/session.h"

namespace pelorim {

namespace repair = tq318::repair;

namespace {

using Clock = std::chrono::system_clock;

// Hands every event on to the window and notes when its last message box
// opened; any later event means the run went on after that box.
class TimedFrontEnd final : public repair::FrontEnd {
public:
    explicit TimedFrontEnd(repair::FrontEnd& window) : window_(window) {}

    Clock::time_point finishedAt() const { return lastBox_.value_or(Clock::now()); }

    void status(std::string_view text) override { working(); window_.status(text); }
    void message(std::string_view text) override {
        const auto shown = Clock::now();
        window_.message(text);
        lastBox_ = shown;
    }
    void progressShown(int value, int maximum) override { working(); window_.progressShown(value, maximum); }
    void progress(int value, int maximum) override { working(); window_.progress(value, maximum); }
    void busy() override { working(); window_.busy(); }
    void yield() override { working(); window_.yield(); }
    void pause(std::chrono::milliseconds duration) override { working(); window_.pause(duration); }
    bool ended() const override { return window_.ended(); }
    void memberStarted(const repair::MemberEvent& member) override { working(); window_.memberStarted(member); }
    void memberFinished(const repair::MemberEvent& member, uint16_t code) override {
        working();
        window_.memberFinished(member, code);
    }
    bool keepWaiting() override { return window_.keepWaiting(); }
    void detected(std::string_view banner, std::string_view modeCode) override { window_.detected(banner, modeCode); }

private:
    void working() { lastBox_.reset(); }

    repair::FrontEnd& window_;
    std::optional<Clock::time_point> lastBox_;
};

repair::Outcome run(repair::SessionRequest request, repair::FrontEnd& window, repair::Console& console) {
    TimedFrontEnd timed(window);
    request.endedAt = [&timed] { return timed.finishedAt(); };
    return repair::runSession(request, timed, console).outcome;
}

repair::SessionRequest sessionOf(const RunFacts& facts) {
    repair::SessionRequest request;
    request.frontEnd = "Pelorim";
    request.banner = facts.banner;
    request.firmwareRequest.port = facts.port;
    request.firmwareRequest.modeCode = facts.modeCode;
    request.osRequest.port = facts.port;
    request.osRequest.password = facts.password;
    return request;
}

}  // namespace

repair::Outcome runFirmwareSession(const RunFacts& facts, const PackageNames& package, repair::FrontEnd& window,
                                   repair::Console& console) {
    auto request = sessionOf(facts);
    repair::FirmwareRequest& firmware = request.firmwareRequest;
    firmware.packagePath = package.path;
    firmware.packageBareName = package.bareName;
    firmware.listName = package.listName;
    firmware.recordName = package.recordName;
    firmware.programName = package.programName;
    return run(std::move(request), window, console);
}

repair::Outcome runOsSession(const RunFacts& facts, const std::string& imagePath, repair::FrontEnd& window,
                             repair::Console& console) {
    auto request = sessionOf(facts);
    request.firmware = false;
    request.osRequest.imagePath = imagePath;
    return run(std::move(request), window, console);
}

}  // namespace pelorim
