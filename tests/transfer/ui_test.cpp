// The built-in UIs: the Qt window's owner, counters and lifetime, and the
// console's answer without a terminal. (That a Qt program gets the Qt UI
// shows in the wizard's flows, whose message boxes come from the library.)
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

std::string shown(QDialog* d) {  // "block/total status"
    auto text = [&](const char* name) { return d->findChild<QLabel*>(name)->text().toStdString(); };
    return text(qt_names::kBlockCounter) + "/" + text(qt_names::kTotalCounter) + " " + text(qt_names::kStatusLine);
}

TEST(QtUi, WindowBelongsToTheActiveWindowCountsAndClosesWithTheTransfer) {
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
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(shown(dialog), "255/255 x");
        window->block_acknowledged(2, 3);
        EXPECT_EQ(shown(dialog), "2/3 x");
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
