#include "window_front_end.h"

#include <string>

namespace pelorim {

void WindowFrontEnd::status(std::string_view text) {
    const std::string copy(text);
    form_.onWindowThread([&] { form_.setPanel(2, copy); });
}

void WindowFrontEnd::message(std::string_view text) {
    const std::string copy(text);
    form_.onWindowThread([&] { form_.MsgBox(copy); });
}

void WindowFrontEnd::progressShown(int value, int maximum) {
    form_.onWindowThread([&] { form_.showProgress(value, maximum); });
}

void WindowFrontEnd::progress(int value, int /*maximum*/) {
    form_.onWindowThread([&] { form_.setProgress(value); });
}

void WindowFrontEnd::busy() {
    form_.onWindowThread([&] { form_.setBusy(true); });
}

void WindowFrontEnd::yield() { form_.workerWait(1); }

// The whole pause, also when a stop came: a console question is never left
// without the time it needs before its answer.
void WindowFrontEnd::pause(std::chrono::milliseconds duration) { ::Sleep(static_cast<DWORD>(duration.count())); }

bool WindowFrontEnd::ended() const { return form_.programEnded(); }

bool WindowFrontEnd::keepWaiting() { return !form_.programEnded() && !form_.stopRequested(); }

}  // namespace pelorim
