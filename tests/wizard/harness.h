// Test support for the wizard: scripted dialogs and a window whose end of
// program is recorded instead of ending the test runner.
#pragma once

#include <QGroupBox>

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
    std::deque<QString> fileAnswers;                // none left = cancel
    std::vector<pelorim::OpenFileRequest> fileRequests;

    void message(QWidget*, const QString& text) override {
        messages.push_back(text);
        if (whileOpen) whileOpen(text);
    }
    QString openFile(QWidget*, const pelorim::OpenFileRequest& request) override {
        fileRequests.push_back(request);
        if (fileAnswers.empty()) return {};
        const QString answer = fileAnswers.front();
        return fileAnswers.pop_front(), answer;
    }
};

struct Harness {
    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    std::vector<int> exits;
    std::vector<QString> panel2History;
    std::unique_ptr<pelorim::Form1> form;

    explicit Harness(std::string uartLibrary = "libfake_uart.so", bool timer = false)
        : form(std::make_unique<pelorim::Form1>(pelorim::Form1::Services{
              dialogs, {std::move(uartLibrary), "libtovrane.so"}, [this](int code) { exits.push_back(code); }, timer})) {
        QObject::connect(form.get(), &pelorim::Form1::panelChanged, [this](int panel, const QString& text) {
            if (panel == 2) panel2History.push_back(text);
        });
    }
    // Start-up as the program runs it: true when it did not end the program.
    bool load() { return form->guarded([this] { form->Form_Load(); }); }
    pelorim::Form1* operator->() { return form.get(); }
};

}  // namespace wizard_test
