#include "engine_bridge.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QEventLoop>
#include <QGroupBox>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <array>

#include "form1.h"

namespace pelorim {

namespace {

constexpr std::size_t kDirEntries = 100;  // the export's arrays hold this many pointers

// A block of 256 bytes costs its 260 on the line and the answer byte, at
// 115200 baud and ten bits a byte.
constexpr double kLineBytesPerSecond = 11520.0 * 256.0 / 261.0;

QString timeLeft(double seconds) {
    if (seconds < 60.0) return QStringLiteral("about %1 s left").arg(std::max(1, static_cast<int>(seconds + 0.5)));
    return QStringLiteral("about %1 min left").arg(static_cast<int>(seconds / 60.0 + 0.5));
}

}  // namespace

QString memberText(const tq318::repair::MemberEvent& member, double secondsLeft, const QFontMetrics& metrics,
                   int width) {
    const QString head = QStringLiteral("member %1 of %2: ").arg(member.index).arg(member.count);
    const QString tail = QStringLiteral(", ") + timeLeft(secondsLeft);
    // A long name is shortened in its middle so that the line fits the frame.
    const QString name = QString::fromLatin1(member.name.data(), static_cast<qsizetype>(member.name.size()));
    const int room = width - metrics.horizontalAdvance(head) - metrics.horizontalAdvance(tail);
    return head + metrics.elidedText(name, Qt::ElideMiddle, std::max(room, 0)) + tail;
}

uint16_t BoundConsole::Send_Cmd(uint8_t port, const char* text, int16_t flag) { return uart_.Send_Cmd(port, text, flag); }

uint16_t BoundConsole::Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag, uint16_t* scratch) {
    return uart_.Receive_Cmd(port, buffer, timeout_ms, flag, scratch);
}

uint16_t BoundConsole::TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt) {
    return tovrane_.TOV_GetPrompt(port, timeout_ms, prompt);
}

uint16_t BoundConsole::TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply) {
    return tovrane_.TOV_Get_FreeSize(port, disk, free_text, reply);
}

uint16_t BoundConsole::TOV_Load_File(uint8_t port, const char* path, char disk, const char* target_name, int32_t mode,
                                     char* reply) {
    return tovrane_.TOV_Load_File(port, path, disk, target_name, mode, reply);
}

uint16_t BoundConsole::TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) {
    return tovrane_.TOV_Update_Tovrane(port, image_path, reply);
}

int32_t BoundConsole::TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash,
                                              int32_t* flag, char* reply) {
    return tovrane_.TOV_Get_Tovrane_Version(port, model, build_date, flash, flag, reply);
}

uint16_t BoundConsole::listDirectory(uint8_t port, char* reply, std::size_t capacity) {
    // The parsed entries are not used (null buffers are skipped); the whole
    // reply, both disks, is what the engine reads.
    std::array<char*, kDirEntries> none{};
    int32_t count = 0;
    std::vector<char> whole(std::max<std::size_t>(capacity, 2048), ' ');
    whole.back() = '\0';
    const uint16_t code = tovrane_.TOV_Dir_Tovrane(port, 'a', &count, none.data(), none.data(), none.data(),
                                                   none.data(), whole.data());
    const auto end = std::find(whole.begin(), whole.end(), '\0');
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(end - whole.begin()), capacity - 1);
    std::copy_n(whole.begin(), length, reply);
    reply[length] = '\0';
    return code;
}

void WindowFrontEnd::status(std::string_view text) {
    working();
    form_.setPanel(2, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void WindowFrontEnd::message(std::string_view text) {
    const auto shown = Clock::now();
    form_.MsgBox(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    lastBox_ = shown;
}

void WindowFrontEnd::progressShown(int value, int maximum) {
    working();
    form_.UploadBar->setMaximum(maximum);
    form_.UploadBar->setMinimum(0);
    form_.UploadBar->setValue(value);
    form_.MemberLabel->clear();
    form_.Frame1->move(form_.Frame_Step1->x(), form_.Frame_Step1->y() - 1);  // 10 twips above step 1's frame
    // Down to step 3's last line at least: no line of a step frame shows below its border.
    const int below = form_.Frame_Step3->geometry().bottom() - form_.Frame1->geometry().bottom();
    if (below > 0) form_.Frame1->resize(form_.Frame1->width(), form_.Frame1->height() + below);
    form_.Frame1->show();
    form_.Frame1->raise();
}

void WindowFrontEnd::progress(int value, int /*maximum*/) {
    working();
    form_.UploadBar->setValue(value);
}

void WindowFrontEnd::busy() {
    working();
    form_.setCursor(Qt::WaitCursor);
}

void WindowFrontEnd::yield() {
    working();
    QCoreApplication::processEvents();
}

void WindowFrontEnd::pause(std::chrono::milliseconds duration) {
    working();
    // A nested loop that ends with the pause: paints, the timer and EXIT run in it.
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WindowFrontEnd::ended() const { return form_.programEnded(); }

void WindowFrontEnd::memberStarted(const tq318::repair::MemberEvent& member) {
    working();
    const auto now = std::chrono::steady_clock::now();
    if (!firstMember_) firstMember_ = now;
    const double seconds = std::chrono::duration<double>(now - *firstMember_).count();
    // Before the first member is done the line's own pace is all there is.
    const double rate = bytesDone_ > 0 && seconds > 0.5 ? static_cast<double>(bytesDone_) / seconds : kLineBytesPerSecond;
    form_.MemberLabel->setText(memberText(member, static_cast<double>(member.bytesLeft) / rate,
                                          form_.MemberLabel->fontMetrics(), form_.MemberLabel->width()));
}

void WindowFrontEnd::memberFinished(const tq318::repair::MemberEvent& member, uint16_t /*code*/) {
    working();
    bytesDone_ += member.size;
}

}  // namespace pelorim
