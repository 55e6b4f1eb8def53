// The texts the wizard writes into its two status panels, and the size a
// panel needs to show each of them whole.
#pragma once

#include <QSize>
#include <QStringList>

class QLabel;

namespace pelorim {

// Panel 1, the connection panel: each port text with each connection suffix.
QStringList connectionPanelTexts(const QStringList& portTexts);

// Panel 2, the activity panel: the fixed texts of detection, the wait count
// (at its highest) and the repairs, with the widest two-character mode code.
// The console's own text, shown as received while detection polls, is not
// among them: its length is the controller's.
QStringList activityPanelTexts();

// The smallest size at which `label`, at its font, frame, margin and indent,
// shows every one of `texts` on one line without cutting it. The label's
// text is left as it was.
QSize sizeToShow(QLabel& label, const QStringList& texts);

}  // namespace pelorim
