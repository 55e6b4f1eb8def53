// The frames of Form1: a container window with an etched border and an
// optional caption in a colour of its own (the blinking step caption), drawn
// greyed while the frame is disabled. Notifications of the controls inside go
// on to the frame's parent, so the window's dialog procedure sees them all.
#pragma once

#include <windows.h>

namespace pelorim {

bool registerFrameClass(HINSTANCE instance);
void setFrameCaptionColor(HWND frame, COLORREF color);
COLORREF frameCaptionColor(HWND frame);

}  // namespace pelorim
