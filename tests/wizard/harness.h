// Test support for the wizard: scripted dialogs, a window with a replaceable
// end-of-program hook, access to the recording fake serial library, and a
// script of steps that runs inside the window's nested event handling.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QTimer>

#include <dlfcn.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs.h"
#include "form1.h"

namespace wizard_test {

class ScriptedDialogs final : public pelorim::Dialogs {
public:
    std::vector<QString> messages;
    // Runs while a message box "is open", i.e. before message() returns.
    std::function<void(const QString&)> whileOpen;
    std::deque<QString> fileAnswers;  // empty answer = cancel
    std::vector<pelorim::OpenFileRequest> fileRequests;

    void message(QWidget*, const QString& text) override {
        messages.push_back(text);
        if (whileOpen) whileOpen(text);
    }
    QString openFile(QWidget*, const pelorim::OpenFileRequest& request) override {
        fileRequests.push_back(request);
        if (fileAnswers.empty()) return {};
        QString answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

// The recording fake serial library (the wizard's binding opens the same instance).
class FakeUart {
public:
    explicit FakeUart(const char* name = "libfake_uart.so") {
        const std::string path = pelorim::executableFolder() + "/" + name;
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) return;
        calls_ = reinterpret_cast<const char* (*)()>(dlsym(handle_, "FakeUart_Calls"));
        reset_ = reinterpret_cast<void (*)()>(dlsym(handle_, "FakeUart_Reset"));
        setOpen_ = reinterpret_cast<void (*)(uint16_t)>(dlsym(handle_, "FakeUart_SetOpenResult"));
        queue_ = reinterpret_cast<void (*)(const char*)>(dlsym(handle_, "FakeUart_QueueReceive"));
        reset_();
    }
    ~FakeUart() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    bool ok() const { return handle_ != nullptr; }
    QStringList calls() const { return QString::fromLatin1(calls_()).split(u'\n', Qt::SkipEmptyParts); }
    void setOpenResult(uint16_t r) { setOpen_(r); }
    void queueReceive(const char* text) { queue_(text); }
    void reset() { reset_(); }

private:
    void* handle_ = nullptr;
    const char* (*calls_)() = nullptr;
    void (*reset_)() = nullptr;
    void (*setOpen_)(uint16_t) = nullptr;
    void (*queue_)(const char*) = nullptr;
};

struct Harness {
    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    std::vector<int> exits;
    std::vector<QString> panel2History;
    std::unique_ptr<pelorim::Form1> form;

    explicit Harness(std::string uartLibrary = "libfake_uart.so", bool timer = false) {
        pelorim::Form1::Services services;
        services.dialogs = dialogs;
        services.libraries.uart = std::move(uartLibrary);
        services.libraries.tovrane = "libtovrane.so";
        services.terminate = [this](int code) { exits.push_back(code); };
        services.startTimer = timer;
        form = std::make_unique<pelorim::Form1>(std::move(services));
        QObject::connect(form.get(), &pelorim::Form1::panelChanged, [this](int panel, const QString& text) {
            if (panel == 2) panel2History.push_back(text);
        });
    }
    // Start-up as the program runs it: true when it did not end the program.
    bool load() {
        return form->guarded([this] { form->Form_Load(); });
    }
    pelorim::Form1* operator->() { return form.get(); }
};

// Steps (condition, action) run in order from a 2 ms timer, so they run
// nested inside a long operation's event handling. A step's action runs once
// its condition holds.
class Script : public QObject {
public:
    struct Step {
        std::function<bool()> when;
        std::function<void()> then;
    };
    explicit Script(std::vector<Step> steps) : steps_(std::move(steps)) {
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { advance(); });
        timer_.start();
    }
    bool finished() const { return next_ >= steps_.size(); }
    std::size_t stepsDone() const { return next_; }

private:
    void advance() {
        if (running_) return;  // an action that processes events must not re-enter
        running_ = true;
        while (next_ < steps_.size() && steps_[next_].when()) {
            auto action = steps_[next_].then;
            ++next_;
            if (action) action();
        }
        running_ = false;
        if (finished()) timer_.stop();
    }
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool running_ = false;
    QTimer timer_;
};

// Processes events until `condition` holds or `limitMs` passes.
inline bool waitFor(const std::function<bool()>& condition, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

inline bool always() { return true; }

}  // namespace wizard_test
