// The prompt wait over a real pseudo-terminal, with the test playing the console.
#include <gtest/gtest.h>

#include "port_on_pty.h"
#include "tovrane.h"

namespace {

using Console = testing_support::PortOnPty;

// Only a carriage return goes out, and the prompt is found after other bytes;
// a hung-up line or a port that is not open cannot answer: 16, not 15.
TEST_F(Console, GetPromptSendsACarriageReturnAndWaitsForThePrompt) {
    answer("\r", "\r\nboot noise ... \r\nTQ318-5314A>");
    EXPECT_EQ(TOV_GetPrompt(kPort, 200, '>'), 0);
    far_end.join();
    EXPECT_EQ(peer.received(), "\r");
    peer.close_master();
    EXPECT_EQ(TOV_GetPrompt(kPort, 500, '>'), TOV_ERR_LINE_FAILED);
    EXPECT_EQ(TOV_GetPrompt(99, 500, '>'), TOV_ERR_LINE_FAILED);  // never opened
}

}  // namespace
