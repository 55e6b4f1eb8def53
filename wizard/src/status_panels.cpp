#include "status_panels.h"

#include <QFontMetrics>
#include <QLabel>

#include <algorithm>

#include "tq318/repair/outcome.h"

namespace pelorim {

namespace {

// Wider than any two letters or digits a banner can carry as its mode code.
const QString kWidestModeCode = QStringLiteral("WW");

// The widest value the wait count reaches before the warning restarts it.
constexpr int kHighestWaitCount = 60;

// The indent QLabel applies on its aligned side: a negative indent means
// half an "x" when the label has a frame, else none.
int effectiveIndent(const QLabel& label, const QFontMetrics& metrics) {
    if (label.indent() >= 0) return label.indent();
    return label.frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2 - label.margin() : 0;
}

}  // namespace

QStringList connectionPanelTexts(const QStringList& portTexts) {
    QStringList texts;
    for (const QString& port : portTexts) {
        texts << port + QStringLiteral(" Connected ") << port + QStringLiteral(" Disonnected!! ");
    }
    return texts;
}

QStringList activityPanelTexts() {
    return {QStringLiteral("Waiting for power restart ...") + QString::number(kHighestWaitCount),
            QStringLiteral("login ..."),
            kWidestModeCode + QStringLiteral(" Master Mode..."),
            QString::fromLatin1(tq318::repair::kAdapterDisconnectedText),
            kWidestModeCode + QStringLiteral(" File Checking ..."),
            kWidestModeCode + QStringLiteral(" File Checking..."),
            QStringLiteral("Firmware authentication verify ok."),
            QStringLiteral("start loading firmware..."),
            QStringLiteral("Verifying ..."),
            QStringLiteral("Reseting...")};
}

QSize sizeToShow(QLabel& label, const QStringList& texts) {
    const QFontMetrics metrics(label.font());
    const QMargins frame = label.contentsMargins();
    const int horizontal = frame.left() + frame.right() + 2 * label.margin() + effectiveIndent(label, metrics);
    const int vertical = frame.top() + frame.bottom() + 2 * label.margin();
    const QString kept = label.text();
    QSize size(0, metrics.height() + vertical);
    for (const QString& text : texts) {
        label.setText(text);
        const QSize hint = label.sizeHint();
        size = size.expandedTo(QSize(std::max(hint.width(), metrics.horizontalAdvance(text) + horizontal),
                                     hint.height()));
    }
    label.setText(kept);
    return size;
}

}  // namespace pelorim
