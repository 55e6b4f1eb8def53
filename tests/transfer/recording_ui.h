// A UI that records what the library shows and answers questions from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "ui/ui.h"

namespace transfer_testing {

class RecordingUi : public tovrane::ui::Ui {
public:
    struct Question {
        std::string text;
        std::string caption;
    };

    std::vector<std::string> messages;
    std::vector<Question> questions;
    std::deque<bool> answers;  // answered in order; No once they run out
    std::vector<std::string> statuses;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> acks;  // block, total
    std::vector<std::string> opened;                             // file names of opened windows
    int closed = 0;
    int owners_remembered = 0;
    bool refuse_window = false;
    int cursor_depth = 0;
    int cursor_max_depth = 0;

    void remember_owner() override { ++owners_remembered; }
    std::unique_ptr<tovrane::ui::ProgressWindow> open_progress(std::string_view file_name) override {
        if (refuse_window) return nullptr;
        opened.emplace_back(file_name);
        return std::make_unique<Window>(*this);
    }
    void message(std::string_view text, std::string_view caption) override {
        messages.emplace_back(text);
        message_captions.emplace_back(caption);
    }
    bool ask_yes_no(std::string_view text, std::string_view caption) override {
        questions.push_back({std::string(text), std::string(caption)});
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void set_wait_cursor(bool on) override {
        cursor_depth += on ? 1 : -1;
        if (cursor_depth > cursor_max_depth) cursor_max_depth = cursor_depth;
    }
    std::vector<std::string> message_captions;

private:
    class Window : public tovrane::ui::ProgressWindow {
    public:
        explicit Window(RecordingUi& ui) : ui_(ui) {}
        ~Window() override { ++ui_.closed; }
        void set_status(std::string_view text) override { ui_.statuses.emplace_back(text); }
        void block_acknowledged(std::uint32_t block, std::uint32_t total) override {
            ui_.acks.emplace_back(block, total);
        }

    private:
        RecordingUi& ui_;
    };
};

// Puts a UI in force for a scope.
class ScopedUi {
public:
    explicit ScopedUi(tovrane::ui::Ui& ui) { tovrane::ui::set_active_ui(&ui); }
    ~ScopedUi() { tovrane::ui::set_active_ui(nullptr); }
    ScopedUi(const ScopedUi&) = delete;
    ScopedUi& operator=(const ScopedUi&) = delete;
};

}  // namespace transfer_testing
