// Object names of the Qt "Load Process" window's parts, for finding them.
#pragma once

namespace tovrane::ui::qt_names {
inline constexpr const char* kDialog = "LoadProcess";
inline constexpr const char* kBlockCounter = "blockCounter";  // block last acknowledged
inline constexpr const char* kTotalCounter = "totalCounter";  // number of data blocks
inline constexpr const char* kBlocksLabel = "blocksLabel";
inline constexpr const char* kStatusLine = "statusLine";
inline constexpr const char* kIcon = "icon";
}  // namespace tovrane::ui::qt_names
