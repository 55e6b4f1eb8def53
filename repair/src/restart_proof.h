// The proof that an operating-system install took: after "reset" the
// controller comes back to its prompt (logging in when it asks for its
// password) and reports its version to "ver". Its words on the way are not
// read for meaning: a controller's boot texts are its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "tq318/repair/console.h"
#include "tq318/repair/engine.h"
#include "tq318/repair/front_end.h"
#include "tq318/repair/outcome.h"

namespace tq318::repair {

struct RestartRequest {
    uint8_t port = 0;
    std::string password;             // sent at "password:"; empty: none known
    std::chrono::milliseconds limit;  // from "reset" to the version report
};

struct RestartProof {
    std::string running;      // "Tovrane 1.23 build 003": the controller came back and said so
    std::string problem;      // why it is not proven, when `running` is empty
    bool disconnected = false;  // the serial adapter went away meanwhile
};

// Call right after "reset" was sent.
RestartProof proveRestart(const RestartRequest& request, FrontEnd& frontEnd, Console& console);

// The version number TOV_Get_Tovrane_Version gives (one major digit, the
// minor digits, three build digits joined) as the controller wrote it:
// 123003 is "Tovrane 1.23 build 003", 15010 "Tovrane 1.5 build 010"; a
// shorter number is "Tovrane version N"; 0 or less, no version: "".
std::string versionText(int32_t number);

// Right after "reset" that followed a TOV_Update_Tovrane of 0: Verified when
// the report gave the image's CRC (`crcCompared`) and the controller came
// back with its version ("Upgrade Successed." shown); Unproven when it came
// back but its report gave no CRC (the unproven text shown); else Failed
// with the reason. The version running is named in the outcome.
void proveInstall(const OsRequest& request, bool crcCompared, FrontEnd& frontEnd, Console& console,
                  Outcome& outcome, const std::function<void(const std::string&)>& show);

// What TOV_Update_Tovrane leaves in its reply after a 0: the controller's
// last answer and, behind its terminator, the report's "CRC16=XXXX" that
// matched the image or an empty text, both within the first kUpdateReplyMin
// bytes. True when that second text is there and gives the CRC.
inline constexpr std::size_t kUpdateReplyMin = 1001;
bool reportGaveCrc(std::span<const char> reply);

}  // namespace tq318::repair
