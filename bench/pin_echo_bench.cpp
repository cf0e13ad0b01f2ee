// The test program's echo of key presses on the pad, measured through the real window, driver and
// simulated pad: latency from the pad sending a key byte to the echo shown in a line edit, and
// the CPU the program spends while an entry loop waits for keys. Prints table rows in the format
// of lumenord_bench; run by scripts/bench.
#include <padsim/pty_pad.h>
#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "main_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Row {
    std::string figure;
    std::string measured;
    std::string target;
    bool met;
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// One key press and the text the echo shows once the program has taken it.
struct KeyEcho {
    std::string key;
    QString shown;
};

// Latency in ms from the pad sending each key of `presses` to `echo` showing its text.
// `startEntry` opens the entry and returns only when the entry loop has ended (it runs on the
// window thread, which polls the pad inside it); `endKeys` end the entry afterwards.
std::vector<double> KeyToEchoLatency(padsim::PtyPad& pad, QLineEdit* echo,
                                     const std::function<void()>& startEntry,
                                     const std::vector<KeyEcho>& presses,
                                     const std::string& endKeys) {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t seen = 0;
    std::vector<Clock::time_point> sent(presses.size()), shown(presses.size());
    const auto watch = QObject::connect(echo, &QLineEdit::textChanged, [&](const QString& text) {
        const auto now = Clock::now();
        std::lock_guard lock(mutex);
        if (seen < presses.size() && text == presses[seen].shown) {
            shown[seen++] = now;
            changed.notify_all();
        }
    });
    std::thread customer([&] {
        std::this_thread::sleep_for(300ms);  // the entry opens
        for (std::size_t i = 0; i < presses.size(); ++i) {
            // Let the program settle into its wait for the pad, as between a customer's keys.
            std::this_thread::sleep_for(20ms);
            sent[i] = Clock::now();
            pad.PressKeys(presses[i].key);
            std::unique_lock lock(mutex);
            if (!changed.wait_for(lock, 3s, [&] { return seen > i; })) break;
        }
        pad.PressKeys(endKeys);
    });
    startEntry();
    customer.join();
    QObject::disconnect(watch);
    std::vector<double> millis;
    for (std::size_t i = 0; i < seen; ++i) {
        millis.push_back(std::chrono::duration<double, std::milli>(shown[i] - sent[i]).count());
    }
    if (seen < presses.size())
        std::fprintf(stderr, "only %zu of %zu echoes seen\n", seen, presses.size());
    return millis;
}

// CPU share in percent of the whole process while `startEntry` waits `wait` for keys that do
// not come; `endKeys` end the entry afterwards.
double CpuWhileWaiting(padsim::PtyPad& pad, const std::function<void()>& startEntry,
                       Clock::duration wait, const std::string& endKeys) {
    double share = 0;
    std::thread customer([&] {
        std::this_thread::sleep_for(500ms);
        const double cpu = CpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(wait);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        share = 100.0 * (CpuSeconds() - cpu) / wall;
        pad.PressKeys(endKeys);
    });
    startEntry();
    customer.join();
    return share;
}

template <typename W>
W* Find(QWidget& window, const char* name) {
    return window.findChild<W*>(QLatin1String(name));
}

std::vector<Row> PinEchoRows(shell::TfmTestQm731& window, padsim::PtyPad& pad) {
    const std::string escape(1, padsim::kEscape);
    Find<QComboBox>(window, "comboPort")->setEditText("com1");
    Find<QPushButton>(window, "btOpenCom")->click();
    Find<QComboBox>(window, "edPinLength")->setEditText("00");  // no length: ends at Escape
    auto startPin = [&] { Find<QPushButton>(window, "btEnablePin")->click(); };

    std::vector<KeyEcho> presses;
    for (int i = 0; i < 100; ++i) {
        presses.push_back({"1", "*"});
        presses.push_back({std::string(1, padsim::kBackspace), ""});
    }
    const std::vector<double> latency =
        KeyToEchoLatency(pad, Find<QLineEdit>(window, "PinPadKey"), startPin, presses, escape);
    const double median = Median(latency);
    const double cpu = CpuWhileWaiting(pad, startPin, 4s, escape);
    return {{"PIN page: pad key byte -> star shown in PinPadKey (" +
                 std::to_string(latency.size()) + " keys)",
             Format("%.2f ms", median), "<= 5 ms", latency.size() == presses.size() && median <= 5},
            {"PIN page: CPU while the star echo waits 4 s for digits", Format("%.2f %%", cpu),
             "<= 1 %", cpu <= 1}};
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    padsim::PtyPad pad;
    pad.With([](padsim::PadSimulator& sim) {
        sim.SetKey(0x30, {"0123456789ABCDEFFEDCBA9876543210", "TPK"});
    });
    QFile config("sysconfig.ini");
    if (!config.open(QIODevice::WriteOnly)) return 1;
    config.write("[PORTS]\nCOM1=" + QByteArray::fromStdString(pad.DevicePath()) + "\n");
    config.close();

    shell::TfmTestQm731 window;
    for (const Row& row : PinEchoRows(window, pad)) {
        // The widths of lumenord_bench's table, so that the rows continue it.
        std::printf("| %-68s | %-12s | %-9s | %-4s |\n", row.figure.c_str(), row.measured.c_str(),
                    row.target.c_str(), row.met ? "yes" : "NO");
    }
    return 0;
}
