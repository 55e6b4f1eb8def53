// The choice of the UI in force, and the console implementation. The
// windowed UI comes from the platform's file (ui/window_ui.h).
#include "ui/ui.h"

#include "ui/window_ui.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace tovrane::ui {

namespace {

Ui* g_override = nullptr;

class ConsoleProgress final : public ProgressWindow {
public:
    explicit ConsoleProgress(std::string_view file_name)
        : interactive_(isatty(STDERR_FILENO) != 0) {
        std::fprintf(stderr, "Load Process: %.*s\n", static_cast<int>(file_name.size()),
                     file_name.data());
    }
    ~ConsoleProgress() override {
        if (interactive_ && shown_blocks_) std::fputc('\n', stderr);
    }
    void set_status(std::string_view text) override {
        if (interactive_ && shown_blocks_) std::fputc('\n', stderr);
        shown_blocks_ = false;
        std::fprintf(stderr, "Load Process: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void block_acknowledged(std::uint32_t block, std::uint32_t total) override {
        // A counter line rewritten in place on a terminal; a log gets no line per block.
        if (!interactive_) return;
        std::fprintf(stderr, "\r%u/%u Blocks", block, total);
        shown_blocks_ = true;
    }

private:
    bool interactive_;
    bool shown_blocks_ = false;
};

class ConsoleUi final : public Ui {
public:
    void remember_owner() override {}
    std::unique_ptr<ProgressWindow> open_progress(std::string_view file_name) override {
        return std::make_unique<ConsoleProgress>(file_name);
    }
    void message(std::string_view text, std::string_view caption) override {
        const std::string_view title = caption.empty() ? std::string_view("Error") : caption;
        std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
                     static_cast<int>(text.size()), text.data());
    }
    bool ask_yes_no(std::string_view text, std::string_view caption) override {
        message(text, caption);
        if (isatty(STDIN_FILENO) == 0) {
            std::fputs("(no terminal to answer on: No)\n", stderr);
            return false;
        }
        std::fputs("Yes or No? [y/N] ", stderr);
        std::string answer;
        if (!std::getline(std::cin, answer)) return false;
        return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    }
    void set_wait_cursor(bool) override {}
};

}  // namespace

Ui& console_ui() {
    static ConsoleUi ui;
    return ui;
}

Ui& active_ui() {
    if (g_override != nullptr) return *g_override;
    // Only a program that shows windows gets them.
    if (Ui* ui = window_ui()) return *ui;
    return console_ui();
}

void set_active_ui(Ui* ui) { g_override = ui; }

}  // namespace tovrane::ui
