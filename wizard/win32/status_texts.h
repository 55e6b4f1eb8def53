// The texts the wizard writes into its two status panels: each panel is made
// as wide as the longest of them needs.
#pragma once

#include <string>
#include <vector>

#include "tq318/repair/outcome.h"

namespace pelorim {

// Panel 1, the connection panel: each port text with each connection suffix.
inline std::vector<std::string> connectionPanelTexts(const std::vector<std::string>& portTexts) {
    std::vector<std::string> texts;
    for (const auto& port : portTexts) {
        texts.push_back(port + " Connected ");
        texts.push_back(port + " Disonnected!! ");
    }
    return texts;
}

// Panel 2, the activity panel: the fixed texts of the detection, the wait
// count at its highest and the repairs, with the widest two-character mode
// code. What the console itself sends during the detection is its own length.
inline std::vector<std::string> activityPanelTexts() {
    const std::string widestCode = "WW";
    return {"Waiting for power restart ...60",
            "login ...",
            widestCode + " Master Mode...",
            tq318::repair::kAdapterDisconnectedText,
            widestCode + " File Checking ...",
            widestCode + " File Checking...",
            "Firmware authentication verify ok.",
            "start loading firmware...",
            "Verifying ...",
            "Reseting..."};
}

}  // namespace pelorim
