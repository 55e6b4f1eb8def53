// The two UI implementations: the Qt "Load Process" window (offscreen) and
// the console's answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>

#include "ui/qt_ui.h"
#include "ui/ui.h"

namespace {

using namespace tovrane::ui;

QDialog* find_load_process() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == qt_names::kDialog) return qobject_cast<QDialog*>(w);
    }
    return nullptr;
}

QString label_text(QDialog* d, const char* name) {
    auto* label = d->findChild<QLabel*>(name);
    return label != nullptr ? label->text() : QStringLiteral("<missing>");
}

TEST(QtUi, ChosenWhenTheProgramHasAQApplication) {
    set_active_ui(nullptr);
    EXPECT_EQ(&active_ui(), &qt_ui());
}

TEST(QtUi, LoadProcessWindowShowsCountersAndStatus) {
    ASSERT_EQ(find_load_process(), nullptr);
    QWidget owner;
    owner.show();
    QApplication::setActiveWindow(&owner);
    Ui& ui = qt_ui();
    ui.remember_owner();
    {
        auto window = ui.open_progress("tq318.hex");
        ASSERT_NE(window, nullptr);
        QDialog* d = find_load_process();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->parentWidget(), &owner);
        EXPECT_FALSE(d->isModal());
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(d->windowTitle(), "Load Process");
        EXPECT_EQ(label_text(d, qt_names::kBlockCounter), "255");
        EXPECT_EQ(label_text(d, qt_names::kTotalCounter), "255");
        EXPECT_EQ(label_text(d, qt_names::kBlocksLabel), "Blocks");
        EXPECT_EQ(label_text(d, qt_names::kStatusLine), "tq318.hex");
        auto* icon = d->findChild<QLabel*>(qt_names::kIcon);
        ASSERT_NE(icon, nullptr);
        EXPECT_FALSE(icon->pixmap().isNull());

        window->block_acknowledged(1, 7);
        EXPECT_EQ(label_text(d, qt_names::kBlockCounter), "1");
        EXPECT_EQ(label_text(d, qt_names::kTotalCounter), "7");
        window->block_acknowledged(7, 7);
        EXPECT_EQ(label_text(d, qt_names::kBlockCounter), "7");
        window->set_status("Receive Time Out!!");
        EXPECT_EQ(label_text(d, qt_names::kStatusLine), "Receive Time Out!!");
    }
    EXPECT_EQ(find_load_process(), nullptr);  // closed with the transfer
}

TEST(QtUi, WindowWithoutAnOwner) {
    QApplication::setActiveWindow(nullptr);
    Ui& ui = qt_ui();
    ui.remember_owner();
    auto window = ui.open_progress("x");
    QDialog* d = find_load_process();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->parentWidget(), nullptr);
    window.reset();
    EXPECT_EQ(find_load_process(), nullptr);
}

TEST(QtUi, WaitCursorIsTheOverrideCursorForTheScope) {
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    {
        WaitCursor wait(qt_ui());
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Runs `f` with stdin replaced by /dev/null (no terminal).
template <typename F>
auto without_terminal(F f) {
    const int saved = ::dup(STDIN_FILENO);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, STDIN_FILENO);
    ::close(null_fd);
    auto result = f();
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    return result;
}

TEST(ConsoleUi, QuestionWithoutATerminalIsAnsweredNo) {
    testing::internal::CaptureStderr();
    const bool yes = without_terminal([] { return console_ui().ask_yes_no("Delete all files!!", "Delete File"); });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(yes);
    EXPECT_NE(err.find("Delete File: Delete all files!!"), std::string::npos);
}

TEST(ConsoleUi, ProgressAndMessagesGoToStderr) {
    testing::internal::CaptureStderr();
    {
        auto window = console_ui().open_progress("tq318.exe");
        ASSERT_NE(window, nullptr);
        window->set_status("NO NAK or ACK");
    }
    console_ui().message("File no found!!");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Load Process: tq318.exe"), std::string::npos);
    EXPECT_NE(err.find("NO NAK or ACK"), std::string::npos);
    EXPECT_NE(err.find("File no found!!"), std::string::npos);
}

}  // namespace
