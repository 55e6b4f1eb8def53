// Test support for the wizard: scripted dialogs, a window whose end of program
// is recorded, the recording fake serial library, and scripted nested steps.
#pragma once

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
    std::function<void(const QString&)> whileOpen;  // runs before message() returns
    std::deque<QString> fileAnswers;                // empty answer = cancel
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
    explicit FakeUart(const char* name = "libfake_uart.so")
        : handle_(dlopen((pelorim::executableFolder() + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ != nullptr) reset();
    }
    ~FakeUart() { if (handle_ != nullptr) dlclose(handle_); }
    bool ok() const { return handle_ != nullptr; }
    QStringList calls() const {
        return QString::fromLatin1(fn<const char* (*)()>("FakeUart_Calls")()).split(u'\n', Qt::SkipEmptyParts);
    }
    void setOpenResult(uint16_t r) { fn<void (*)(uint16_t)>("FakeUart_SetOpenResult")(r); }
    void queueReceive(const char* text) { fn<void (*)(const char*)>("FakeUart_QueueReceive")(text); }
    void reset() { fn<void (*)()>("FakeUart_Reset")(); }

private:
    template <typename F>
    F fn(const char* name) const { return reinterpret_cast<F>(dlsym(handle_, name)); }
    void* handle_;
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
    bool load() { return form->guarded([this] { form->Form_Load(); }); }
    pelorim::Form1* operator->() { return form.get(); }
};

// Steps (condition, action) run in order from a 2 ms timer, so they run
// nested inside a long operation's event handling.
class Script : public QObject {
public:
    using Step = std::pair<std::function<bool()>, std::function<void()>>;  // when, then
    explicit Script(std::vector<Step> steps) : steps_(std::move(steps)) {
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            if (running_) return;  // an action that processes events must not re-enter
            running_ = true;
            while (!finished() && steps_[next_].first()) {
                auto action = steps_[next_++].second;
                if (action) action();
            }
            running_ = false;
        });
        timer_.start(2);
    }
    bool finished() const { return next_ >= steps_.size(); }

private:
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool running_ = false;
    QTimer timer_;
};

}  // namespace wizard_test
