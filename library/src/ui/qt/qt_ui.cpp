// The Qt implementation: a modeless "Load Process" dialog owned by the window
// that was active when the transfer began, QMessageBox for messages and the
// question, and the override cursor for the wait cursor. Built as a module of
// its own (libtovrane-qt), which the library loads only in a process that
// runs a QApplication: the library itself links no Qt.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QStyle>
#include <QWidget>
#include <string>

#include "ui/qt_ui.h"
#include "ui/ui.h"

namespace tovrane::ui {

namespace {

// The window's layout in dialog units, converted at 2 pixels per unit.
constexpr int kUnit = 2;
QRect units(int x, int y, int w, int h) { return {x * kUnit, y * kUnit, w * kUnit, h * kUnit}; }

QString to_qstring(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

class LoadProcessDialog final : public QDialog {
public:
    explicit LoadProcessDialog(QWidget* owner)
        : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::MSWindowsFixedSizeDialogHint),
          icon_(this),
          block_(this),
          total_(this),
          blocks_label_(QStringLiteral("Blocks"), this),
          status_(this) {
        setObjectName(qt_names::kDialog);
        setWindowTitle(QStringLiteral("Load Process"));
        setModal(false);
        setFixedSize(143 * kUnit, 60 * kUnit);
        const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
        setWindowIcon(icon);
        icon_.setObjectName(qt_names::kIcon);
        icon_.setPixmap(icon.pixmap(32, 32));
        icon_.setGeometry(units(16, 13, 19, 19));
        block_.setObjectName(qt_names::kBlockCounter);
        block_.setGeometry(units(52, 16, 16, 16));
        total_.setObjectName(qt_names::kTotalCounter);
        total_.setGeometry(units(76, 16, 16, 16));
        blocks_label_.setObjectName(qt_names::kBlocksLabel);
        blocks_label_.setGeometry(units(98, 20, 24, 11));
        status_.setObjectName(qt_names::kStatusLine);
        status_.setGeometry(units(20, 38, 101, 9));
        if (owner != nullptr) move(owner->mapToGlobal(QPoint(0, 0)));
        ProgressDialogProc(Message::kInit, 0, 0);
    }

    enum class Message { kInit, kBlockAcknowledged };

    // The window's reaction to what the transfer tells it: on opening both
    // counters read 255; an acknowledged block sets the block and the total.
    void ProgressDialogProc(Message message, std::uint32_t block, std::uint32_t total) {
        switch (message) {
            case Message::kInit:
                block_.setNum(255);
                total_.setNum(255);
                break;
            case Message::kBlockAcknowledged:
                block_.setNum(static_cast<int>(block));
                total_.setNum(static_cast<int>(total));
                break;
        }
    }

    void set_status(const QString& text) { status_.setText(text); }

private:
    QLabel icon_;
    QLabel block_;
    QLabel total_;
    QLabel blocks_label_;
    QLabel status_;
};

class QtProgress final : public ProgressWindow {
public:
    QtProgress(QWidget* owner, std::string_view file_name)
        : dialog_(std::make_unique<LoadProcessDialog>(owner)), guard_(dialog_.get()) {
        dialog_->set_status(to_qstring(file_name));
        dialog_->show();
        dialog_->repaint();
    }
    ~QtProgress() override {
        // Should the owner have taken the dialog with it, it is gone already.
        if (guard_.isNull()) {
            [[maybe_unused]] auto* gone = dialog_.release();
        }
    }
    QtProgress(const QtProgress&) = delete;
    QtProgress& operator=(const QtProgress&) = delete;

    void set_status(std::string_view text) override {
        if (guard_.isNull()) return;
        dialog_->set_status(to_qstring(text));
        dialog_->repaint();
    }
    void block_acknowledged(std::uint32_t block, std::uint32_t total) override {
        if (guard_.isNull()) return;
        dialog_->ProgressDialogProc(LoadProcessDialog::Message::kBlockAcknowledged, block, total);
        dialog_->repaint();
    }

private:
    std::unique_ptr<LoadProcessDialog> dialog_;
    QPointer<LoadProcessDialog> guard_;
};

class QtUi final : public Ui {
public:
    void remember_owner() override { owner_ = QApplication::activeWindow(); }
    std::unique_ptr<ProgressWindow> open_progress(std::string_view file_name) override {
        return std::make_unique<QtProgress>(owner_.data(), file_name);
    }
    void message(std::string_view text, std::string_view caption) override {
        const QString title = caption.empty() ? QStringLiteral("Error") : to_qstring(caption);
        QMessageBox box(QMessageBox::NoIcon, title, to_qstring(text), QMessageBox::Ok,
                        owner_.data());
        box.exec();
    }
    bool ask_yes_no(std::string_view text, std::string_view caption) override {
        QMessageBox box(QMessageBox::Question, to_qstring(caption), to_qstring(text),
                        QMessageBox::Yes | QMessageBox::No, owner_.data());
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    void set_wait_cursor(bool on) override {
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    }

private:
    QPointer<QWidget> owner_;
};

}  // namespace

}  // namespace tovrane::ui

// The module's one entry: its UI when the process has a QApplication (a
// QCoreApplication has no widgets to show), else null.
extern "C" __attribute__((visibility("default"))) tovrane::ui::Ui* tovrane_qt_ui() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
    static tovrane::ui::QtUi ui;
    return &ui;
}
