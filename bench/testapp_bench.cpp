// Prints the test program's performance figures: how soon a key pressed on the pad shows in a
// page's field while an entry loop or reader runs, and what it costs while it waits for keys.
// The window is the real one, wired to the real driver and a simulated pad on a pty; every row
// is measured the same way, only the page's loop differs.
#include <padsim/pty_pad.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
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
#include "monitor_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using bench::Row;

// The main window in a fresh working folder, its port open on a simulated pad.
class BenchWindow {
public:
    BenchWindow() {
        QDir::setCurrent(m_folder.path());
        window = std::make_unique<shell::TfmTestQm731>();
        window->show();
        Plug();
    }
    ~BenchWindow() { window.reset(); }

    // A new pad on the line (the first, or one plugged in after the last vanished): COM1 is
    // mapped to it and the port opened again.
    void Plug() {
        click("btCloseCom");
        pad = std::make_unique<padsim::PtyPad>();
        // The PIN page's entry encrypts under this key.
        pad->With([](padsim::PadSimulator& sim) {
            sim.SetKey(0x30, {"0123456789ABCDEFFEDCBA9876543210", "TPK"});
        });
        QFile config("sysconfig.ini");
        if (config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            config.write("[PORTS]\nCOM1=" + QByteArray::fromStdString(pad->DevicePath()) + "\n");
        }
        config.close();
        control<QComboBox>("comboPort")->setEditText("com1");
        click("btOpenCom");
    }

    template <typename W = QWidget>
    W* control(const char* name) const {
        return window->findChild<W*>(QLatin1String(name));
    }
    void click(const char* name) const { control<QPushButton>(name)->click(); }
    QString status() const { return control<QLabel>("StatusPanel1")->text(); }
    padsim::Mode padMode() {
        return pad->With([](padsim::PadSimulator& sim) { return sim.mode(); });
    }

    std::unique_ptr<shell::TfmTestQm731> window;
    std::unique_ptr<padsim::PtyPad> pad;

private:
    QTemporaryDir m_folder;
};

// A page's key loop as the benchmark drives it. Every function runs on the window thread.
struct KeyLoop {
    // Starts the loop (a click). An entry loop returns once it has ended; a reader thread's
    // click returns at once.
    std::function<void()> open;
    std::function<bool()> running;   // the loop reads keys now
    QWidget* field;                  // where each key is painted
    std::function<bool(int)> shows;  // the field shows press n (from 0) of the current round
    std::vector<std::string> keys;   // press n sends keys[n % keys.size()]
    int pressesPerRound;
    std::string closeKeys;        // pressed after a round's presses to end an entry loop
    std::function<void()> close;  // ends a reader after its round, when set
};

// What the window thread and the pressing thread share.
struct Probe : QObject {
    const KeyLoop& loop;
    std::atomic<bool> running{false};
    std::atomic<int> press{-1};  // the press whose showing is awaited
    std::atomic<std::uint64_t> seenNs{0};
    QTimer watch;

    explicit Probe(const KeyLoop& keyLoop) : loop(keyLoop) {
        loop.field->installEventFilter(this);
        // Watches only until the loop runs, so that its wake-ups stay out of the CPU figures.
        connect(&watch, &QTimer::timeout, this, [this] {
            if (!running && loop.running()) {
                running = true;
                watch.stop();
            }
        });
        watch.start(5);
    }
    ~Probe() override { loop.field->removeEventFilter(this); }

    // Called by the pressing thread: its round has ended (or it gave up on it).
    void EndRound() {
        QMetaObject::invokeMethod(
            this,
            [this] {
                ++m_roundsEnded;
                watch.start();
                if (m_idle) m_idle->quit();
            },
            Qt::QueuedConnection);
    }

    // Runs the loop's round on the window thread: opens it and lets the window's events run
    // until the pressing thread has ended the round, then closes a reader.
    void RunRound() {
        const int round = m_roundsStarted++;
        loop.open();
        while (m_roundsEnded <= round) {
            QEventLoop idle;
            m_idle = &idle;
            idle.exec();
            m_idle = nullptr;
        }
        if (loop.close) loop.close();
    }

    // The field is painted: the key is visible once a paint shows it.
    bool eventFilter(QObject* object, QEvent* event) override {
        const int awaited = press;
        if (object == loop.field && event->type() == QEvent::Paint && awaited >= 0 && seenNs == 0 &&
            loop.shows(awaited)) {
            seenNs = bench::NowNs();
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

private:
    int m_roundsStarted = 0;
    int m_roundsEnded = 0;  // both on the window thread
    QEventLoop* m_idle = nullptr;
};

// Brings the page holding `field` to the front, so that its paints happen.
void Reveal(QWidget* field) {
    for (QWidget* child = field; child->parentWidget(); child = child->parentWidget()) {
        if (auto* pages = qobject_cast<QStackedWidget*>(child->parentWidget()))
            pages->setCurrentWidget(child);
    }
}

void EndLoop(padsim::PtyPad& pad, const KeyLoop& loop) {
    if (!loop.closeKeys.empty()) pad.PressKeys(loop.closeKeys);
}

// Milliseconds from the pad sending each key byte to the field painted with it.
std::vector<double> KeyToFieldLatencies(padsim::PtyPad& pad, const KeyLoop& loop, int rounds) {
    Reveal(loop.field);
    Probe probe(loop);
    std::vector<double> latencies;
    std::thread presser([&] {
        std::mt19937 random(5);
        for (int round = 0; round < rounds; ++round) {
            if (!probe.WaitFor([&] { return probe.running.load(); }, 10s)) {
                probe.EndRound();
                continue;
            }
            for (int n = 0; n < loop.pressesPerRound; ++n) {
                // Let the loop settle into its wait, so that the figure includes its wake-up.
                std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 40));
                probe.seenNs = 0;
                probe.press = n;
                const std::uint64_t sent = bench::NowNs();
                pad.PressKeys(loop.keys[n % loop.keys.size()]);
                if (!probe.WaitFor([&] { return probe.seenNs.load() != 0; }, 2s)) {
                    std::fprintf(stderr, "a key press did not show\n");
                    break;
                }
                latencies.push_back(static_cast<double>(probe.seenNs - sent) / 1e6);
            }
            probe.press = -1;
            EndLoop(pad, loop);
            probe.running = false;
            probe.EndRound();
        }
    });
    for (int round = 0; round < rounds; ++round) probe.RunRound();
    presser.join();
    return latencies;
}

// Runs one round of `loop`: `whileRunning` is called on another thread once the loop reads keys,
// and the round ends when it returns.
void WhileLoopRuns(const KeyLoop& loop, const std::function<void()>& whileRunning) {
    Reveal(loop.field);
    Probe probe(loop);
    std::thread other([&] {
        if (probe.WaitFor([&] { return probe.running.load(); }, 10s)) whileRunning();
        probe.EndRound();
    });
    probe.RunRound();
    other.join();
}

// The process's CPU share while the loop waits `wait` for a key.
double LoopWaitCpu(padsim::PtyPad& pad, const KeyLoop& loop, std::chrono::milliseconds wait) {
    double share = -1;
    WhileLoopRuns(loop, [&] {
        std::this_thread::sleep_for(300ms);
        share = bench::CpuShare([&] { std::this_thread::sleep_for(wait); });
        EndLoop(pad, loop);
    });
    return share;
}

// The process's CPU share over `span` from the moment the pad vanishes while `loop` waits for a
// key. An entry loop then ends as the operator would end it, by starting `nextOperation`.
double CpuAfterUnplug(BenchWindow& bench, const KeyLoop& loop, std::chrono::milliseconds span,
                      const char* nextOperation) {
    double share = -1;
    WhileLoopRuns(loop, [&] {
        share = bench::CpuShare([&] {
            bench.pad->Disappear();
            std::this_thread::sleep_for(span);
        });
        if (nextOperation != nullptr)
            QMetaObject::invokeMethod(
                bench.window.get(), [&bench, nextOperation] { bench.click(nextOperation); },
                Qt::QueuedConnection);
    });
    return share;
}

// The loop runs once the status line says `status` and the pad is in `mode`.
std::function<bool()> RunsWhen(BenchWindow& bench, const char* status, padsim::Mode mode) {
    return [&bench, status, mode] { return bench.status() == status && bench.padMode() == mode; };
}

// Each press adds one character (or star) to the field.
std::function<bool(int)> OneCharacterPerPress(QLineEdit* field) {
    return [field](int n) { return field->text().size() == n + 1; };
}

constexpr const char* kPinEntryStarted =
    "succeed in starting PIN ,please input your password in the keyboard";

KeyLoop PadKeyEntry(BenchWindow& bench) {
    // Code 41 with the longest length: the pad takes up to 48 characters for part 1.
    bench.control<QComboBox>("comboMixCode")->setCurrentIndex(6);
    bench.control<QComboBox>("comboPinLength")->setCurrentIndex(5);
    auto* field = bench.control<QLineEdit>("edPin1");
    return {[&bench] { bench.click("Button3"); },
            RunsWhen(bench, "Please input the clear text key from EPP", padsim::Mode::KeyEntry),
            field,
            OneCharacterPerPress(field),
            {"A"},
            40,
            "\x1b",
            {}};
}

KeyLoop PasswordEntry(BenchWindow& bench) {
    auto* field = bench.control<QLineEdit>("PWD");
    // The password takes 16 digits: 15 measured, the 16th ends the entry.
    return {[&bench] { bench.click("EnterPassword"); },
            RunsWhen(bench, kPinEntryStarted, padsim::Mode::PinEntry),
            field,
            OneCharacterPerPress(field),
            {"5"},
            15,
            "5",
            {}};
}

KeyLoop PinStarEcho(BenchWindow& bench) {
    bench.control<QComboBox>("edPinLength")->setEditText("00");  // no length: ends at Escape
    auto* field = bench.control<QLineEdit>("PinPadKey");
    // A digit shows a star, a backspace takes it away again.
    return {[&bench] { bench.click("btEnablePin"); },
            RunsWhen(bench, kPinEntryStarted, padsim::Mode::PinEntry),
            field,
            [field](int n) { return field->text() == (n % 2 ? "" : "*"); },
            {"1", std::string(1, padsim::kBackspace)},
            200,
            std::string(1, padsim::kEscape),
            {}};
}

KeyLoop ClearTextKeypad(BenchWindow& bench) {
    auto* memo = bench.control<QPlainTextEdit>("Memo1");
    // Memo1 paints its text in its viewport; the reader thread passes each key to the window.
    return {[&bench] {
                bench.click("Button2");  // clears what a former round showed
                bench.click("OpenKeyBord");
            },
            RunsWhen(bench, "Open Pinpad Success,Please Key-press", padsim::Mode::ClearKeypad),
            memo->viewport(),
            [memo](int n) { return memo->toPlainText().size() == n + 1; },
            {"7"},
            40,
            "",
            [&bench] { bench.click("CloseKeyBord"); }};
}

// `figure` may hold "{n}" for the number of presses measured.
Row LatencyRow(std::string figure, const std::vector<double>& latencies, int expected) {
    const double median = bench::Median(latencies);
    const bool complete = static_cast<int>(latencies.size()) == expected;
    if (const auto at = figure.find("{n}"); at != std::string::npos)
        figure.replace(at, 3, std::to_string(latencies.size()));
    return {figure, complete ? bench::Format("%.2f ms", median) : "not measured", "<= 5 ms",
            complete && median <= 5.0};
}

Row CpuRow(const std::string& figure, double share) {
    return {figure, share < 0 ? "not measured" : bench::Format("%.2f %%", share), "<= 1 %",
            share >= 0 && share <= 1.0};
}

// What queued events wait on the window thread: a call over the accessibility bus, like every
// event the window gets, waits as long. Posts `samples` of them `gap` apart from the calling
// thread (not the window's) and returns once all have run, or after a deadline.
struct EventWaits {
    QObject receiver;  // lives on the window thread
    std::vector<double> waits;
    std::atomic<int> answered{0};

    void PostAndAwait(int samples, std::chrono::milliseconds gap) {
        for (int i = 0; i < samples; ++i) {
            std::this_thread::sleep_for(gap);
            const std::uint64_t posted = bench::NowNs();
            QMetaObject::invokeMethod(
                &receiver,
                [this, posted] {
                    waits.push_back(static_cast<double>(bench::NowNs() - posted) / 1e6);
                    ++answered;
                },
                Qt::QueuedConnection);
        }
        const auto deadline = Clock::now() + 10s;
        while (answered < samples && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    }
    double Median(int samples) const {
        return static_cast<int>(waits.size()) == samples ? bench::Median(waits) : -1;
    }
};

// The median wait of an event on the idle window.
double IdleEventWaitMs(int samples) {
    EventWaits events;
    QEventLoop idle;
    std::thread poster([&] {
        events.PostAndAwait(samples, 20ms);
        QMetaObject::invokeMethod(&idle, &QEventLoop::quit, Qt::QueuedConnection);
    });
    idle.exec();
    poster.join();
    return events.Median(samples);
}

// The same while `loop` waits for a key.
double LoopEventWaitMs(padsim::PtyPad& pad, const KeyLoop& loop, int samples) {
    EventWaits events;
    WhileLoopRuns(loop, [&] {
        std::this_thread::sleep_for(200ms);
        events.PostAndAwait(samples, 20ms);
        EndLoop(pad, loop);
    });
    return events.Median(samples);
}

double ResidentMegabytes() {
    long pages = 0, resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return -1;
    const bool read = std::fscanf(statm, "%ld %ld", &pages, &resident) == 2;
    std::fclose(statm);
    return read ? static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
                      (1024.0 * 1024.0)
                : -1;
}

struct FloodFigures {
    double slowestClickMs = -1;
    double addedMegabytes = -1;
    std::size_t historyEntries = 0;
    std::size_t frames = 0;
};

// `count` version reads with the monitor open (two ordinary frames each, under 300 bytes, and
// one history entry), while another thread clicks "clear information" every 50 ms: the slowest
// answer to those clicks and the memory the flood added.
FloodFigures HistoryFlood(BenchWindow& bench, int count) {
    monitor::MonitorWindow* monitor = bench.window->Monitor();
    monitor->show();
    Reveal(bench.control("btGetVersion"));
    QCoreApplication::processEvents();
    const double idle = ResidentMegabytes();
    auto* probe = bench.control<QPushButton>("Button1");
    std::atomic<std::uint64_t> postedNs{0};
    double slowest = 0;
    const auto answer = QObject::connect(probe, &QPushButton::clicked, [&] {
        if (const std::uint64_t posted = postedNs.exchange(0); posted != 0)
            slowest = std::max(slowest, static_cast<double>(bench::NowNs() - posted) / 1e6);
    });
    std::atomic<bool> done{false};
    std::thread clicker([&] {
        while (!done) {
            std::this_thread::sleep_for(50ms);
            std::uint64_t idleSlot = 0;
            if (!postedNs.compare_exchange_strong(idleSlot, bench::NowNs())) continue;
            QMetaObject::invokeMethod(
                probe, [probe] { probe->click(); }, Qt::QueuedConnection);
        }
    });
    for (int i = 0; i < count; ++i) {
        bench.click("btGetVersion");
        QCoreApplication::processEvents();
    }
    done = true;
    clicker.join();
    QCoreApplication::processEvents();
    QObject::disconnect(answer);
    FloodFigures figures;
    figures.slowestClickMs = slowest;
    figures.addedMegabytes = ResidentMegabytes() - idle;
    figures.historyEntries = monitor->History().Entries().size();
    figures.frames = monitor->Frames().Log().Frames().size();
    monitor->hide();
    return figures;
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
    auto measure = [&](const KeyLoop& loop, int rounds, const std::string& latencyFigure,
                       const std::string& cpuFigure) {
        rows.push_back(LatencyRow(latencyFigure, KeyToFieldLatencies(*bench.pad, loop, rounds),
                                  rounds * loop.pressesPerRound));
        rows.push_back(CpuRow(cpuFigure, LoopWaitCpu(*bench.pad, loop, 4s)));
    };
    measure(PadKeyEntry(bench), 1,
            "key entry on the pad: pad sends a key -> character painted in the part field "
            "(median of {n})",
            "CPU while the key entry loop waits 4 s for a key");
    measure(PasswordEntry(bench), 3,
            "password entry: pad sends a digit -> star painted in PWD (median of {n})",
            "CPU while the password loop waits 4 s for a digit");
    measure(PinStarEcho(bench), 1, "PIN page: pad key byte -> star shown in PinPadKey ({n} keys)",
            "PIN page: CPU while the star echo waits 4 s for digits");
    measure(ClearTextKeypad(bench), 1, "test program: pad key -> character shown in Memo1",
            "test program: CPU while the keypad reader waits on an idle pad, 4 s");
    // The window's events while a loop waits for keys, beside the idle window.
    const double idleWait = IdleEventWaitMs(50);
    const double loopWait = LoopEventWaitMs(*bench.pad, PinStarEcho(bench), 50);
    rows.push_back({"event wait on the idle window (median of 50)",
                    idleWait < 0 ? "not measured" : bench::Format("%.2f ms", idleWait), "-",
                    idleWait >= 0});
    rows.push_back({"event wait while the star echo waits for a key (median of 50)",
                    loopWait < 0 ? "not measured" : bench::Format("%.2f ms", loopWait),
                    "<= idle + 2 ms", loopWait >= 0 && idleWait >= 0 && loopWait <= idleWait + 2});
    // A long monitor flood: 12,000 operations and twice as many frames.
    const FloodFigures flood = HistoryFlood(bench, 12000);
    const bool full = flood.historyEntries == monitor::OperationHistory::kCapacity &&
                      flood.frames == monitor::FrameLog::kCapacity;
    rows.push_back({"12,000 operations, 24,000 frames, monitor open: slowest answer to a click",
                    full ? bench::Format("%.1f ms", flood.slowestClickMs) : "not measured",
                    "<= 50 ms", full && flood.slowestClickMs <= 50});
    rows.push_back({"12,000 operations, 24,000 frames, monitor open: memory above idle",
                    full ? bench::Format("%.1f MB", flood.addedMegabytes) : "not measured",
                    "<= 50 MB", full && flood.addedMegabytes <= 50});
    // The pad unplugged while a loop waits on it: the program's share over the next 10 s.
    rows.push_back(CpuRow("CPU for 10 s after the pad vanishes while the key entry loop waits",
                          CpuAfterUnplug(bench, PadKeyEntry(bench), 10s, "btGetCustomerInfor")));
    bench.Plug();
    rows.push_back(CpuRow("CPU for 10 s after the pad vanishes while the keypad reader runs",
                          CpuAfterUnplug(bench, ClearTextKeypad(bench), 10s, nullptr)));
    bench::PrintTable(rows);
    return 0;
}
