// Emptying both flash disks before a firmware download: "del", the
// controller's "(Y/N)?" question, "y", its answer at the prompt, then the
// same for disk B with "delb". Every answer is read before the next line is
// sent, so that a stop, a controller that restarted (its password prompt or
// banner instead of the question) or a question that never came ends the
// sequence before anything more is typed. The first question also tells how
// long the line takes to answer; the waits after it are sized by that.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "tq318/repair/console.h"
#include "tq318/repair/front_end.h"

namespace tq318::repair {

struct Deletes {
    enum class End {
        Done,        // both disks emptied, the controller at its prompt
        Stopped,     // the front end ended; a pending question was answered "n"
        Unanswered,  // no answer came in time
        Restarted,   // the controller asked for its password or showed its banner
        Unexpected,  // something else than the question or the prompt came
        LineFailed   // a console line could not be sent
    };
    enum class Disk { Untouched, Confirmed, Emptied };  // Confirmed: "y" sent, its answer not seen

    End end = End::Done;
    std::array<Disk, 2> disks{Disk::Untouched, Disk::Untouched};  // A, B
    std::string command;    // the line whose answer ended the sequence
    std::string seen;       // what came instead of the expected answer
    uint16_t lineCode = 0;  // Send_Cmd's result for End::LineFailed
    std::chrono::milliseconds answerDelay{0};  // from "del" to the first byte of its question
    std::chrono::milliseconds answerLimit{0};  // the wait that passed without an answer

    // "Both disks are now empty.", "No disk was emptied.", "Disk A was emptied, disk B was not emptied."
    std::string disksText() const;
    // Why the sequence ended before its end; empty for End::Done.
    std::string reason() const;
};

// How long an answer may take on a line that answers after `answerDelay`.
std::chrono::milliseconds answerLimitFor(std::chrono::milliseconds answerDelay);

// Sends the four lines `pause` apart at least and reads every answer
// meanwhile, handing the front end its pending events between reads.
Deletes emptyBothDisks(uint8_t port, Console& console, FrontEnd& fe, std::chrono::milliseconds pause);

}  // namespace tq318::repair
