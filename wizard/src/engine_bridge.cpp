#include "engine_bridge.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QEventLoop>
#include <QGroupBox>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

#include "form1.h"

namespace pelorim {

namespace {

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

void WindowFrontEnd::status(std::string_view text) {
    form_.setPanel(2, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void WindowFrontEnd::message(std::string_view text) {
    form_.MsgBox(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void WindowFrontEnd::progressShown(int value, int maximum) {
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
    form_.UploadBar->setValue(value);
}

void WindowFrontEnd::busy() {
    form_.setCursor(Qt::WaitCursor);
}

void WindowFrontEnd::yield() {
    QCoreApplication::processEvents();
}

void WindowFrontEnd::pause(std::chrono::milliseconds duration) {
    // A nested loop that ends with the pause: paints, the timer and EXIT run in it.
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WindowFrontEnd::ended() const { return form_.programEnded(); }

void WindowFrontEnd::memberStarted(const tq318::repair::MemberEvent& member) {
    const auto now = std::chrono::steady_clock::now();
    if (!firstMember_) firstMember_ = now;
    const double seconds = std::chrono::duration<double>(now - *firstMember_).count();
    // Before the first member is done the line's own pace is all there is.
    const double rate = bytesDone_ > 0 && seconds > 0.5 ? static_cast<double>(bytesDone_) / seconds : kLineBytesPerSecond;
    form_.MemberLabel->setText(memberText(member, static_cast<double>(member.bytesLeft) / rate,
                                          form_.MemberLabel->fontMetrics(), form_.MemberLabel->width()));
}

void WindowFrontEnd::memberFinished(const tq318::repair::MemberEvent& member, uint16_t /*code*/) {
    bytesDone_ += member.size;
}

}  // namespace pelorim
