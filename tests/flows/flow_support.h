// Support for the repair-flow tests: a wizard connected to the simulated
// controller and brought to step 3, a watcher that answers the library's own
// Qt message boxes, and a package builder over gcab.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gcab.h"
#include "harness.h"
#include "pty_peer.h"
#include "temp_dir.h"
#include "tq318/simulator.h"

namespace flow_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The library shows its messages as modal QMessageBoxes; this answers them
// (No to a question, OK otherwise) and records their texts.
class LibraryBoxes : public QObject {
public:
    std::vector<QString> texts;
    bool answerYes = false;

    LibraryBoxes() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

private:
    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == last_) return;
        last_ = box;
        texts.push_back(box->text());
        QAbstractButton* button = box->button(answerYes ? QMessageBox::Yes : QMessageBox::No);
        if (button == nullptr) button = box->button(QMessageBox::Ok);
        if (button != nullptr) button->click();
    }
    QTimer timer_;
    QMessageBox* last_ = nullptr;
};

class EnvVar {
public:
    EnvVar(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
    ~EnvVar() { ::unsetenv(name_); }

private:
    const char* name_;
};

// A wizard on COM 1 joined to a fresh simulated controller, at step 3.
struct Bench {
    tq318::Simulator sim;
    testing_support::ComMapping mapping;
    testing_support::TempDir temp;   // TEMP for the work folders
    testing_support::TempDir files;  // packages and images
    EnvVar tempVariable;
    wizard_test::Harness h{"libuart.so"};
    LibraryBoxes boxes;

    explicit Bench(tq318::SimulatorOptions options = defaults())
        : sim(std::move(options)),
          mapping(1, sim.device_path()),
          tempVariable("TEMP", temp.path().string()) {
        sim.start();
    }
    static tq318::SimulatorOptions defaults() {
        tq318::SimulatorOptions o;
        o.restart_after_open_ms = 20;
        o.disk_a_kib = 4096;
        o.disk_b_kib = 4096;
        return o;
    }
    // Start-up, Connect and detection: true when step 3 was reached.
    bool toStep3() {
        if (!h.load()) return false;
        QTest::mouseClick(h->ComConnect, Qt::LeftButton);
        if (!h->Frame_Step3->isEnabled()) return false;
        if (!sim.wait_until_ready(3000ms)) return false;
        sim.clear_received_lines();
        return true;
    }
    std::vector<std::string> lines() const { return sim.received_lines(); }
    bool tempIsEmpty() const { return fs::is_empty(temp.path()); }
};

inline std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

inline bool gcab(const fs::path& folder, const fs::path& archive, const std::vector<std::string>& names,
                 bool compress) {
    return testing_support::gcab_pack(folder, archive, names, compress);
}

inline std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace flow_test
