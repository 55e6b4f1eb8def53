// The built-in UIs: which one is chosen, the Qt window's owner and lifetime,
// and the console's answer without a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>

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

TEST(QtUi, ChosenWhenTheProgramHasAQApplication) {
    set_active_ui(nullptr);
    EXPECT_EQ(&active_ui(), &qt_ui());
}

TEST(QtUi, WindowBelongsToTheActiveWindowAndClosesWithTheTransfer) {
    for (const bool owned : {true, false}) {
        QWidget owner;
        if (owned) owner.show();
        QApplication::setActiveWindow(owned ? &owner : nullptr);
        qt_ui().remember_owner();
        auto window = qt_ui().open_progress("x");
        QDialog* dialog = find_load_process();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->parentWidget(), owned ? &owner : nullptr);
        EXPECT_FALSE(dialog->isModal());
        window.reset();
        EXPECT_EQ(find_load_process(), nullptr);
    }
}

// Without a terminal nobody can answer: deleting the disk's files must not be assumed.
TEST(ConsoleUi, QuestionWithoutATerminalIsAnsweredNo) {
    const int saved = ::dup(STDIN_FILENO), null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, STDIN_FILENO);
    ::close(null_fd);
    const bool yes = console_ui().ask_yes_no("Delete all files!!", "Delete File");
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    EXPECT_FALSE(yes);
}

}  // namespace
