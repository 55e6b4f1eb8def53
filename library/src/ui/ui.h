// What the library shows its user: the "Load Process" window during a file
// transfer, message boxes, a yes/no question and the wait cursor. Two
// implementations: Qt widgets when the calling program runs a QApplication,
// the console (stderr, and stdin when it is a terminal) otherwise. Tests put
// their own in place with set_active_ui.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace tovrane::ui {

// The progress window of one transfer; closed when destroyed.
class ProgressWindow {
public:
    virtual ~ProgressWindow() = default;
    // The status line.
    virtual void set_status(std::string_view text) = 0;
    // Block `block` was acknowledged: the counters show it and `total`, and
    // the window is repainted at once (no event loop runs).
    virtual void block_acknowledged(std::uint32_t block, std::uint32_t total) = 0;
};

class Ui {
public:
    virtual ~Ui() = default;
    // Notes the window that is active now as the owner of what follows.
    virtual void remember_owner() = 0;
    // Opens the "Load Process" window, counters at 255 and 255, the status
    // line showing `file_name`. Null when it cannot be created.
    virtual std::unique_ptr<ProgressWindow> open_progress(std::string_view file_name) = 0;
    // A message box with one OK button; an empty caption gives the default one.
    virtual void message(std::string_view text, std::string_view caption = {}) = 0;
    // A Yes/No question; true for Yes.
    virtual bool ask_yes_no(std::string_view text, std::string_view caption) = 0;
    virtual void set_wait_cursor(bool on) = 0;
};

// The UI in force: the one set by set_active_ui, else Qt when the program has
// a QApplication, else the console.
Ui& active_ui();
// Puts `ui` in force (not owned); null goes back to the automatic choice.
void set_active_ui(Ui* ui);

// The two built-in implementations.
Ui& console_ui();
Ui& qt_ui();

// The wait cursor from construction to destruction.
class WaitCursor {
public:
    explicit WaitCursor(Ui& ui) : ui_(ui) { ui_.set_wait_cursor(true); }
    ~WaitCursor() { ui_.set_wait_cursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    Ui& ui_;
};

}  // namespace tovrane::ui
