#include "form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "bas_common.h"
#include "engine_bridge.h"
#include "tq318/repair/engine.h"
#include "runtime_error.h"
#include "status_panels.h"
#include "work_folder.h"

namespace pelorim {

namespace {

// The window was laid out in twips; 15 twips make one pixel at 96 dots per inch.
constexpr int px(int twips) { return twips / 15; }

void place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

constexpr int kClientWidth = 4620;
constexpr int kClientHeight = 7035;
constexpr int kStatusBarHeight = 345;

void defaultTerminate(int exitCode) {
    tq318::repair::removeLiveWorkFolders();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace

Form1::Form1(Services services, QWidget* parent)
    : QWidget(parent),
      WizardCore(services.libraries),
      dialogs_(services.dialogs ? std::move(services.dialogs) : std::make_shared<QtDialogs>()),
      terminate_(services.terminate ? std::move(services.terminate) : std::function<void(int)>(defaultTerminate)),
      startTimer_(services.startTimer) {
    buildControls();
    connectHandlers();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Pelorim Tool "));

    QFont normal(QStringLiteral("Arial"));
    normal.setPointSizeF(9.75);
    normal.setBold(false);  // explicit, so that it is not taken from a bold frame
    QFont bold = normal;
    bold.setBold(true);
    setFont(normal);

    auto frame = [&](const char* name, const QString& caption, QWidget* parent) {
        auto* f = new QGroupBox(caption, parent);
        f->setObjectName(QString::fromLatin1(name));
        f->setFont(bold);  // the caption is bold; children get the normal font explicitly
        return f;
    };
    auto label = [&](const QString& name, const QString& caption, QWidget* parent) {
        auto* l = new QLabel(caption, parent);
        l->setObjectName(name);
        l->setFont(normal);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return l;
    };
    auto button = [&](const char* name, const QString& caption, QWidget* parent) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setFont(normal);
        b->setAutoDefault(false);
        return b;
    };

    Frame_Step1 = frame("Frame_Step1", QStringLiteral("STEP 1 : Com Port Setting"), this);
    place(Frame_Step1, 360, 240, 3855, 1875);
    Label1 = label(QStringLiteral("Label1"),
                   QStringLiteral("Please select COM port number and click \"Connect\" button"), Frame_Step1);
    place(Label1, 240, 480, 3495, 495);
    Combo_ComPort = new QComboBox(Frame_Step1);
    Combo_ComPort->setObjectName(QStringLiteral("Combo_ComPort"));
    Combo_ComPort->setFont(normal);
    Combo_ComPort->setEditable(true);
    Combo_ComPort->setInsertPolicy(QComboBox::NoInsert);
    Combo_ComPort->addItems({QStringLiteral("COM 1"), QStringLiteral("COM 2"), QStringLiteral("COM 3"),
                             QStringLiteral("COM 4"), QStringLiteral("COM 5")});
    place(Combo_ComPort, 240, 1200, 1695, 360);
    ComConnect = button("ComConnect", QStringLiteral("Connect"), Frame_Step1);
    place(ComConnect, 2280, 1200, 1305, 435);

    Frame_Step2 = frame("Frame_Step2", QStringLiteral("STEP 2 : Switch Checking"), this);
    place(Frame_Step2, 360, 2280, 3855, 1455);
    Label2[0] = label(QStringLiteral("Label2_0"), QStringLiteral("1. Change DIP Switch to Repair Mode"), Frame_Step2);
    place(Label2[0], 240, 480, 3615, 255);
    Label2[1] = label(QStringLiteral("Label2_1"), QStringLiteral("2. Restart Device Power "), Frame_Step2);
    place(Label2[1], 240, 840, 3495, 255);

    Frame_Step3 = frame("Frame_Step3", QStringLiteral("STEP 3 : Start Repairing"), this);
    place(Frame_Step3, 360, 4080, 3855, 1695);
    Label2[2] = label(QStringLiteral("Label2_2"), QStringLiteral("Start Repairing process."), Frame_Step3);
    place(Label2[2], 240, 480, 3495, 495);
    ComUploadOS = button("ComUploadOS", QStringLiteral("(1). Repair Tovrane"), Frame_Step3);
    place(ComUploadOS, 240, 1080, 1575, 375);
    ComUpload = button("ComUpload", QStringLiteral("(2). Repair Firmware"), Frame_Step3);
    place(ComUpload, 2040, 1080, 1575, 375);
    // With the toolkit's button margins the two captions need a smaller size to fit.
    QFont smaller = normal;
    smaller.setPointSizeF(8.25);
    ComUploadOS->setFont(smaller);
    ComUpload->setFont(smaller);
    // A caption keeps the style's margins to its button's edges: a button
    // narrower than its caption needs grows, step 3's (1) to the right and
    // (2) to the left, so both keep their outer edges in the frame.
    for (QPushButton* b : {ComUploadOS, ComUpload}) {
        const int grow = std::max(0, b->sizeHint().width() - b->width());
        b->setGeometry(b == ComUpload ? b->x() - grow : b->x(), b->y(), b->width() + grow, b->height());
    }

    ComDisconnect = button("ComDisconnect", QStringLiteral("Disonnect"), this);
    place(ComDisconnect, 1680, 6000, 1305, 375);
    ComExit = button("ComExit", QStringLiteral("EXIT"), this);
    place(ComExit, 3120, 6000, 1095, 405);

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    place(Frame1, 4200, 480, 3975, 5535);
    // Drawn over step 2's texts: the frame paints its own background so that
    // only it shows there.
    Frame1->setAutoFillBackground(true);
    UploadBar = new QProgressBar(Frame1);
    UploadBar->setObjectName(QStringLiteral("UploadBar"));
    UploadBar->setTextVisible(false);
    place(UploadBar, 240, 2640, 3630, 375);
    Label3 = label(QStringLiteral("Label3"), QStringLiteral("Loading ..."), Frame1);
    place(Label3, 240, 2040, 3495, 495);
    MemberLabel = label(QStringLiteral("MemberLabel"), QString(), Frame1);
    MemberLabel->setWordWrap(false);  // one line: a long member name is shortened to fit
    place(MemberLabel, 240, 3120, 3630, 255);
    Frame1->hide();

    StatusBar_Main = new QStatusBar(this);
    StatusBar_Main->setObjectName(QStringLiteral("StatusBar_Main"));
    StatusBar_Main->setSizeGripEnabled(false);
    panel1_ = new QLabel(StatusBar_Main);
    panel1_->setObjectName(QStringLiteral("StatusBar_Main_Panel1"));
    panel2_ = new QLabel(StatusBar_Main);
    panel2_->setObjectName(QStringLiteral("StatusBar_Main_Panel2"));
    for (QLabel* panel : {panel1_, panel2_}) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setFont(normal);
        panel->setTextFormat(Qt::PlainText);
    }
    // Each panel is as wide and as high as its longest text needs at its
    // font: panel 1 holds every port's connection texts, panel 2 (which
    // gets the rest of the bar) every fixed activity text.
    QStringList portTexts;
    for (int i = 0; i < Combo_ComPort->count(); ++i) portTexts << Combo_ComPort->itemText(i);
    const QSize connection = sizeToShow(*panel1_, connectionPanelTexts(portTexts));
    const QSize activity = sizeToShow(*panel2_, activityPanelTexts());
    const int panelHeight = std::max(connection.height(), activity.height());
    panel1_->setFixedSize(connection.width(), panelHeight);
    panel2_->setMinimumSize(activity.width(), panelHeight);
    StatusBar_Main->addWidget(panel1_, 0);
    StatusBar_Main->addWidget(panel2_, 1);
    fitWindowToStatusBar();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);

    CommonDialog1 = new CommonDialog(*dialogs_, this);
    CommonDialog1->setObjectName(QStringLiteral("CommonDialog1"));
}

// The window keeps its designed size unless the status bar needs more: then
// it grows to the bar's width (the controls stay centred) and height (the bar
// stays below the controls), so that nothing of the bar is cut.
void Form1::fitWindowToStatusBar() {
    const QSize bar = StatusBar_Main->minimumSizeHint();
    const int width = std::max(px(kClientWidth), bar.width());
    const int barTop = px(kClientHeight - kStatusBarHeight);
    const int barHeight = std::max(px(kStatusBarHeight), bar.height());
    const int shift = (width - px(kClientWidth)) / 2;
    if (shift > 0) {
        for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (child != StatusBar_Main) child->move(child->x() + shift, child->y());
        }
    }
    setFixedSize(width, barTop + barHeight);
    StatusBar_Main->setGeometry(0, barTop, width, barHeight);
}

void Form1::connectHandlers() {
    connect(ComConnect, &QPushButton::clicked, this, [this] { guarded([this] { onConnectClicked(); }); });
    connect(ComDisconnect, &QPushButton::clicked, this, [this] { guarded([this] { ComDisconnect_Click(); }); });
    connect(ComExit, &QPushButton::clicked, this, [this] { guarded([this] { ComExit_Click(); }); });
    connect(ComUploadOS, &QPushButton::clicked, this, [this] { guarded([this] { ComUploadOS_Click(); }); });
    connect(ComUpload, &QPushButton::clicked, this, [this] { guarded([this] { ComUpload_Click(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { guarded([this] { Timer1_Timer(); }); });
}

// ---------------------------------------------------------------- start-up

void Form1::Form_Load() {
    CRC16_Init();
    init();
    Flow_controler(1);
    // The first serial call: binds the serial library before the window is used.
    uart_->Close_Com(static_cast<uint8_t>(comPortNo_));
    if (startTimer_) Timer1->start();
}

void Form1::init() {
    WizardCore::init();
    blinkColors_ = {QColor(255, 0, 0), palette().color(QPalette::ButtonText)};
    Combo_ComPort->setCurrentIndex(0);
}

void Form1::centreOnScreen() {
    QScreen* target = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (target == nullptr) return;
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), target->availableGeometry()));
}

QWidget* Form1::widget(Control control) const {
    const std::array<QWidget*, kControls> inControlOrder{Frame_Step1, Label1,      Combo_ComPort, ComConnect,
                                                          Frame_Step2, Label2[0],   Label2[1],     Frame_Step3,
                                                          Label2[2],   ComUploadOS, ComUpload,     ComDisconnect};
    return inControlOrder[static_cast<std::size_t>(control)];
}

void Form1::enableControl(Control control, bool on) { widget(control)->setEnabled(on); }

bool Form1::controlEnabled(Control control) const { return widget(control)->isEnabled(); }

QGroupBox* Form1::stepFrame() const {
    return step_ == 0 ? nullptr : std::array{Frame_Step1, Frame_Step2, Frame_Step3}[static_cast<std::size_t>(step_ - 1)];
}

void Form1::Timer1_Timer() {
    setCaptionColor(stepFrame(), blinkColors_[nextBlink()]);
    countWait();
}

void Form1::setCaptionColor(QGroupBox* frame, const QColor& color) {
    if (frame == nullptr) return;
    frame->setProperty("captionColor", color);
    // Only the caption takes the colour: a palette change would also colour the frame's children.
    // A disabled frame draws its caption greyed whatever its colour.
    frame->setStyleSheet(QStringLiteral("QGroupBox::title:enabled { color: %1; }").arg(color.name()));
}

QColor Form1::captionColor(const QGroupBox* frame) const {
    const QVariant value = frame != nullptr ? frame->property("captionColor") : QVariant();
    return value.isValid() ? value.value<QColor>() : QColor();
}

// ---------------------------------------------------------------- shut-down

void Form1::ComExit_Click() {
    Disconnect_Act();
    endProgram(0);
}

void Form1::Form_Unload() {
    Disconnect_Act();
    endProgram(0);
}

void Form1::Form_Terminate() {
    Disconnect_Act();
    endProgram(0);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!ended_) guarded([this] { Form_Unload(); });
    event->accept();
}

void Form1::endProgram(int exitCode) {
    if (ended_) return;
    ended_ = true;
    Timer1->stop();
    // A repair's work folder goes first, explicitly: the program ends with
    // _Exit, and no destructor runs.
    tq318::repair::removeLiveWorkFolders();
    terminate_(exitCode);
}

void Form1::reportFatal(const char* what) {
    std::fprintf(stderr, "Pelorim: run-time error: %s\n", what);
    std::fflush(stderr);
    if (!ended_) {
        try {
            MsgBox(QStringLiteral("Run-time error:\n") + QString::fromLocal8Bit(what));
        } catch (...) {
            // The report already went to stderr.
        }
    }
    endProgram(1);
}

void Form1::MsgBox(const QString& text) { dialogs_->message(this, text); }

void Form1::showMessage(const std::string& text) { MsgBox(QString::fromLatin1(text)); }

// ---------------------------------------------------------------- status bar

void Form1::setPanel(int panel, const QString& text) {
    QLabel* target = panel == 1 ? panel1_ : panel2_;
    target->setText(text);
    emit panelChanged(panel, text);
}

void Form1::showPanel(int panel, const std::string& text) { setPanel(panel, QString::fromLatin1(text)); }

QString Form1::panelText(int panel) const { return (panel == 1 ? panel1_ : panel2_)->text(); }

QString Form1::portText() const { return Combo_ComPort->currentText(); }

// ---------------------------------------------------------------- serial connection

std::string Form1::shownPort() const { return portText().toLatin1().toStdString(); }

int Form1::shownPortPosition() const {
    return Combo_ComPort->findText(Combo_ComPort->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

bool Form1::doRepair() {
    // The wait ends when the banner arrives, and also when the port it polls
    // has been closed (a nested "Disonnect") or the program ends: polling a
    // closed port could never find the banner.
    class Waiting final : public WindowFrontEnd {
    public:
        Waiting(Form1& form, const uint64_t& closes) : WindowFrontEnd(form), closes_(closes), atStart_(closes) {}
        bool keepWaiting() override { return !form_.programEnded() && closes_ == atStart_; }
        void detected(std::string_view banner, std::string_view modeCode) override {
            form_.banner_ = std::string(banner);  // bytes, for the repair record
            form_.modeCode_ = std::string(modeCode);
        }

    private:
        const uint64_t& closes_;
        const uint64_t atStart_;
    } frontEnd(*this, closeCount_);
    BoundConsole console(*uart_, *tovrane_);
    return runDetection([&] {
        return tq318::repair::detect(
            tq318::repair::DetectionRequest{static_cast<uint8_t>(comPortNo_), loginPassword_, std::nullopt}, frontEnd,
            console);
    });
}

// The repair flows (doUploadOS, doUpload) are in repair_flows.cpp.

// ---------------------------------------------------------------- checksum

void Form1::CRC16_Init() { crcTables_ = tq318::repair::makeCrcTables(); }

void Form1::CRC16(std::span<const uint8_t> buffer, int32_t length) {
    const auto count = static_cast<std::size_t>(std::clamp<int64_t>(length, 0, static_cast<int64_t>(buffer.size())));
    crc_ = tq318::repair::modbusCrc(crcTables_, buffer.first(count),
                     tq318::repair::CrcYield{[] { QCoreApplication::processEvents(); }, std::chrono::milliseconds(10)});
}

// ---------------------------------------------------------------- housekeeping

void Form1::killWinTemp(const QString& name) { pelorim::killWinTemp(name, qEnvironmentVariable("Windir")); }

void Form1::removeFromWindowsFolder(const std::string& name) { killWinTemp(QString::fromLocal8Bit(name)); }

}  // namespace pelorim
