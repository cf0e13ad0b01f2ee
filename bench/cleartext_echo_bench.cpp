#include "cleartext_echo_bench.h"

#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "main_window.h"

namespace bench {
namespace {

double Median(std::vector<double> values) {
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

void IdleFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// The pad's success reply to a control code: STX, length 001, 'e', ETX, check.
std::string ControlCodeReply() {
    const std::string body = "001e\x03";
    unsigned char check = 0;
    for (unsigned char c : body) check ^= c;
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", check);
    return "\x02" + body + hex;
}

void Click(QWidget& window, const char* name) {
    if (auto* button = window.findChild<QPushButton*>(name)) button->click();
}

QString Status(QWidget& window) { return window.findChild<QLabel*>("StatusPanel1")->text(); }

}  // namespace

double KeyToWidgetMs(const std::function<std::uint64_t()>& sendKey,
                     const std::function<bool()>& shown, int samples,
                     std::chrono::milliseconds settle) {
    std::vector<double> latencies;
    for (int i = 0; i < samples; ++i) {
        IdleFor(settle);
        // Sleeps until events come (the deadline's timer is one), so the window thread takes
        // no CPU from the reader while it waits.
        QTimer deadlineTimer;
        deadlineTimer.setSingleShot(true);
        deadlineTimer.start(2000);
        const std::uint64_t sent = sendKey();
        while (!shown() && deadlineTimer.isActive()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        if (!shown()) {
            std::fprintf(stderr, "key press not shown\n");
            return -1;
        }
        latencies.push_back((NowNs() - sent) / 1e6);
    }
    return Median(latencies);
}

double IdleCpuPercent(std::chrono::milliseconds duration) {
    const double cpu = CpuSeconds();
    const std::uint64_t start = NowNs();
    IdleFor(duration);
    const double wall = (NowNs() - start) / 1e9;
    return 100.0 * (CpuSeconds() - cpu) / wall;
}

std::vector<Figure> ClearTextKeypadFigures(Responder& pad) {
    std::ofstream("sysconfig.ini") << "[PORTS]\nCOM1=" << pad.SlavePath() << "\n";
    pad.SetReply(ControlCodeReply());
    shell::TfmTestQm731 window;
    window.findChild<QComboBox*>("comboPort")->setEditText("com1");
    Click(window, "btOpenCom");
    Click(window, "OpenKeyBord");
    if (Status(window) != "Open Pinpad Success,Please Key-press") {
        std::fprintf(stderr, "clear-text keypad not opened: %s\n", qPrintable(Status(window)));
        return {{"test program: pad key -> character shown in Memo1", "not measured", "<= 5 ms",
                 false}};
    }
    const auto* memo = window.findChild<QPlainTextEdit*>("Memo1");
    qsizetype expected = 0;
    const double latency = KeyToWidgetMs(
        [&] {
            ++expected;
            return pad.SendByte('7');
        },
        [&] { return memo->toPlainText().size() >= expected; }, 40, std::chrono::milliseconds(150));

    std::vector<double> shares;
    for (int i = 0; i < 3; ++i) shares.push_back(IdleCpuPercent(std::chrono::seconds(4)));
    const double cpu = Median(shares);
    return {{"test program: pad key -> character shown in Memo1", Format("%.3f ms", latency),
             "<= 5 ms", latency >= 0 && latency <= 5.0},
            {"test program: CPU while the keypad reader waits on an idle pad, 4 s",
             Format("%.2f %%", cpu), "<= 1 %", cpu <= 1.0}};
}

}  // namespace bench
