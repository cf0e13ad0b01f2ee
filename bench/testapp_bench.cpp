// Prints the test program's performance figures: how soon a key pressed on the pad shows in a
// page's field while an entry loop runs, and what such a loop costs while it waits for keys.
// The window is the real one, wired to the real driver and a simulated pad on a pty.
#include <padsim/pty_pad.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "bench_table.h"
#include "main_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using bench::Row;

// The main window in a fresh working folder, its port open on a simulated pad.
class BenchWindow {
public:
    BenchWindow() {
        QDir::setCurrent(m_folder.path());
        QFile config("sysconfig.ini");
        if (config.open(QIODevice::WriteOnly)) {
            config.write("[PORTS]\nCOM1=" + QByteArray::fromStdString(pad.DevicePath()) + "\n");
        }
        config.close();
        window = std::make_unique<shell::TfmTestQm731>();
        window->show();
        control<QComboBox>("comboPort")->setEditText("com1");
        click("btOpenCom");
    }
    ~BenchWindow() { window.reset(); }

    template <typename W = QWidget>
    W* control(const char* name) const {
        return window->findChild<W*>(QLatin1String(name));
    }
    void click(const char* name) const { control<QPushButton>(name)->click(); }
    QString status() const { return control<QLabel>("StatusPanel1")->text(); }
    padsim::Mode padMode() {
        return pad.With([](padsim::PadSimulator& sim) { return sim.mode(); });
    }

    padsim::PtyPad pad;
    std::unique_ptr<shell::TfmTestQm731> window;

private:
    QTemporaryDir m_folder;
};

// An entry loop of a page as the benchmark drives it. Every function runs on the window thread.
struct KeyLoop {
    std::function<void()> open;      // starts the loop (a click); returns once the loop has ended
    std::function<bool()> running;   // the loop reads keys now
    QWidget* field;                  // where each key shows
    std::function<bool(int)> shows;  // the field shows press n (from 0) of the current round
    std::string key;                 // pressed for each measured press
    int pressesPerRound;
    std::string closeKeys;  // end the loop after a round's presses
};

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// What the window thread and the pressing thread share.
struct Probe : QObject {
    const KeyLoop& loop;
    std::atomic<bool> running{false};
    std::atomic<int> press{-1};  // the press whose showing is awaited
    std::atomic<std::int64_t> seenNs{0};
    QTimer watch;

    explicit Probe(const KeyLoop& keyLoop) : loop(keyLoop) {
        loop.field->installEventFilter(this);
        connect(&watch, &QTimer::timeout, this, [this] {
            if (!running && loop.running()) running = true;
        });
        watch.start(5);
    }
    ~Probe() override { loop.field->removeEventFilter(this); }

    // The field is painted: the key is visible once a paint shows it.
    bool eventFilter(QObject* object, QEvent* event) override {
        const int awaited = press;
        if (object == loop.field && event->type() == QEvent::Paint && awaited >= 0 && seenNs == 0 &&
            loop.shows(awaited)) {
            seenNs = NowNs();
        }
        return false;
    }

    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) const {
        const auto deadline = Clock::now() + limit;
        while (!condition()) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(200us);
        }
        return true;
    }
};

// Milliseconds from the pad sending each key byte to the field painted with it.
std::vector<double> KeyToFieldLatencies(padsim::PtyPad& pad, const KeyLoop& loop, int rounds) {
    Probe probe(loop);
    std::vector<double> latencies;
    std::thread presser([&] {
        std::mt19937 random(5);
        for (int round = 0; round < rounds; ++round) {
            if (!probe.WaitFor([&] { return probe.running.load(); }, 10s)) break;
            for (int n = 0; n < loop.pressesPerRound; ++n) {
                // Let the loop settle into its wait, so that the figure includes its wake-up.
                std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 40));
                probe.seenNs = 0;
                probe.press = n;
                const std::int64_t sent = NowNs();
                pad.PressKeys(loop.key);
                if (!probe.WaitFor([&] { return probe.seenNs.load() != 0; }, 2s)) {
                    std::fprintf(stderr, "a key press did not show\n");
                    break;
                }
                latencies.push_back((probe.seenNs - sent) / 1e6);
            }
            probe.press = -1;
            pad.PressKeys(loop.closeKeys);
            probe.running = false;
        }
    });
    for (int round = 0; round < rounds; ++round) loop.open();
    presser.join();
    return latencies;
}

// The process's CPU share while the loop waits `wait` for a key.
double LoopWaitCpu(padsim::PtyPad& pad, const KeyLoop& loop, std::chrono::milliseconds wait) {
    Probe probe(loop);
    double share = -1;
    std::thread idle([&] {
        if (!probe.WaitFor([&] { return probe.running.load(); }, 10s)) return;
        std::this_thread::sleep_for(300ms);
        share = bench::CpuShare([&] { std::this_thread::sleep_for(wait); });
        pad.PressKeys(loop.closeKeys);
    });
    loop.open();
    idle.join();
    return share;
}

KeyLoop PadKeyEntry(BenchWindow& bench) {
    // Code 41 with the longest length: the pad takes up to 48 characters for part 1.
    bench.control<QComboBox>("comboMixCode")->setCurrentIndex(6);
    bench.control<QComboBox>("comboPinLength")->setCurrentIndex(5);
    auto* field = bench.control<QLineEdit>("edPin1");
    return {[&bench] { bench.click("Button3"); },
            [&bench] {
                return bench.status() == "Please input the clear text key from EPP" &&
                       bench.padMode() == padsim::Mode::KeyEntry;
            },
            field,
            [field](int n) { return field->text().size() == n + 1; },
            "A",
            40,
            "\x1b"};
}

KeyLoop PasswordEntry(BenchWindow& bench) {
    auto* field = bench.control<QLineEdit>("PWD");
    // The password takes 16 digits: 15 measured, the 16th ends the entry.
    return {[&bench] { bench.click("EnterPassword"); },
            [&bench] {
                return bench.status() ==
                           "succeed in starting PIN ,please input your password in the keyboard" &&
                       bench.padMode() == padsim::Mode::PinEntry;
            },
            field,
            [field](int n) { return field->text().size() == n + 1; },
            "5",
            15,
            "5"};
}

Row LatencyRow(const std::string& figure, const std::vector<double>& latencies, int expected) {
    const double median = bench::Median(latencies);
    const bool complete = static_cast<int>(latencies.size()) == expected;
    return {figure + " (median of " + std::to_string(latencies.size()) + ")",
            complete ? bench::Format("%.2f ms", median) : "not measured", "<= 5 ms",
            complete && median <= 5.0};
}

Row CpuRow(const std::string& figure, double share) {
    return {figure, share < 0 ? "not measured" : bench::Format("%.2f %%", share), "<= 1 %",
            share >= 0 && share <= 1.0};
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    BenchWindow bench;
    if (bench.status() != "succeed in opening the serial") {
        std::fprintf(stderr, "cannot open the simulated pad's port\n");
        return 1;
    }
    std::vector<Row> rows;
    const KeyLoop keyEntry = PadKeyEntry(bench);
    rows.push_back(
        LatencyRow("key entry on the pad: pad sends a key -> character painted in "
                   "the part field",
                   KeyToFieldLatencies(bench.pad, keyEntry, 1), keyEntry.pressesPerRound));
    rows.push_back(CpuRow("CPU while the key entry loop waits 4 s for a key",
                          LoopWaitCpu(bench.pad, keyEntry, 4s)));
    const KeyLoop password = PasswordEntry(bench);
    rows.push_back(LatencyRow("password entry: pad sends a digit -> star painted in PWD",
                              KeyToFieldLatencies(bench.pad, password, 3),
                              3 * password.pressesPerRound));
    rows.push_back(CpuRow("CPU while the password loop waits 4 s for a digit",
                          LoopWaitCpu(bench.pad, password, 4s)));
    bench::PrintTable(rows);
    return 0;
}
