// wizard_bench: prints
//  - the time from process start to the wizard window's first paint (start-up
//    binds the serial library and fills the checksum tables), median of 5 runs,
//    each in a fresh process;
//  - the firmware checksum over a 64 MiB file (read whole, then summed with the
//    time-based yield to the window): throughput and the longest gap between
//    two yields; and, for comparison, the cost of yielding after every byte,
//    measured on 1 MiB.
// Runs offscreen when there is no display.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "form1.h"
#include "modbus_crc.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Child mode: start the window as the program does and print the milliseconds
// from process start (this function's entry) to its first paint.
int startupOnce(int argc, char** argv, Clock::time_point start) {
    QApplication app(argc, argv);
    pelorim::Form1::Services services;
    services.terminate = [](int code) { std::_Exit(code); };
    services.startTimer = false;
    pelorim::Form1 window(std::move(services));
    struct PaintWatch : QObject {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) painted = true;
            return false;
        }
    } watch;
    window.installEventFilter(&watch);
    if (!window.guarded([&window] { window.Form_Load(); })) return 1;
    window.centreOnScreen();
    window.show();
    while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("%.2f\n", ms(Clock::now() - start));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto processStart = Clock::now();
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    if (argc > 1 && std::string(argv[1]) == "--startup-once") return startupOnce(argc, argv, processStart);

    QApplication app(argc, argv);
    std::printf("wizard_bench (platform %s)\n", qPrintable(QGuiApplication::platformName()));

    // 1. Start-up to first paint, each run in a fresh process.
    std::vector<double> startups;
    for (int run = 0; run < 5; ++run) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--startup-once")});
        child.waitForFinished(30000);
        bool ok = false;
        const double value = QString::fromLatin1(child.readAllStandardOutput()).trimmed().toDouble(&ok);
        if (ok) startups.push_back(value);
    }
    std::sort(startups.begin(), startups.end());
    if (!startups.empty()) {
        std::printf("start-up to window shown: median %.1f ms (min %.1f, max %.1f, %zu runs)\n",
                    startups[startups.size() / 2], startups.front(), startups.back(), startups.size());
    }

    // 2. Checksum over a 64 MiB file.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tq318.exe"));
    {
        std::vector<char> data(64u << 20);
        std::mt19937 generator(1);
        for (auto& b : data) b = static_cast<char>(generator());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data.data(), static_cast<qint64>(data.size())) < 0) return 1;
    }
    const auto tables = tq318::repair::makeCrcTables();
    const auto t0 = Clock::now();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return 1;
    const QByteArray bytes = file.readAll();
    const auto t1 = Clock::now();
    std::span<const uint8_t> span(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));

    Clock::duration longestGap{};
    auto lastYieldEnd = Clock::now();
    long yields = 0;
    const auto t2 = Clock::now();
    lastYieldEnd = t2;
    const auto result = tq318::repair::modbusCrc(tables, span, {[&] {
        longestGap = std::max(longestGap, Clock::now() - lastYieldEnd);
        ++yields;
        QCoreApplication::processEvents();
        lastYieldEnd = Clock::now();
    }});
    longestGap = std::max(longestGap, Clock::now() - lastYieldEnd);
    const auto t3 = Clock::now();
    const double mib = static_cast<double>(bytes.size()) / (1 << 20);
    std::printf("checksum of 64 MiB (CRC %04X): read %.1f ms, sum %.1f ms = %.0f MiB/s, %ld yields, "
                "longest gap between yields %.2f ms\n",
                result.value(), ms(t1 - t0), ms(t3 - t2), mib / (ms(t3 - t2) / 1000.0), yields, ms(longestGap));

    // 3. For comparison: a yield after every byte, on 1 MiB.
    const auto small = span.first(1u << 20);
    const auto t4 = Clock::now();
    uint8_t hi = 0xFF, lo = 0xFF;
    for (uint8_t byte : small) {
        const uint8_t index = byte ^ hi;
        hi = tables.hi[index] ^ lo;
        lo = tables.lo[index];
        QCoreApplication::processEvents();
    }
    const auto t5 = Clock::now();
    std::printf("for comparison, yielding after every byte: 1 MiB in %.0f ms = %.2f MiB/s (64 MiB would take ~%.0f s; "
                "CRC %02X%02X)\n",
                ms(t5 - t4), 1000.0 / ms(t5 - t4), 64 * ms(t5 - t4) / 1000.0, lo, hi);
    return 0;
}
