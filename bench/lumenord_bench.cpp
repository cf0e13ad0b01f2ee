// Prints one table of the driver's and the test program's performance figures beside their
// targets. Ratios are measured side by side in the same run, since the machines are noisy.
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_pty.h"
#include "bench_table.h"
#include "pinpad.h"

namespace {

using bench::CpuShare;
using bench::Format;
using bench::Median;
using bench::NowNs;
using bench::PrintTable;
using bench::Row;

std::string Frame(char command, const std::string& payload, const char* length) {
    std::string body = std::string(length) + command + payload + '\x03';
    unsigned char check = 0;
    for (unsigned char c : body) check ^= c;
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", check);
    return "\x02" + body + hex;
}

std::string ChallengeRequest() {
    std::string payload = "A0";
    for (int i = 0; i < 16; ++i) payload += "30";
    return Frame(':', payload, "035");
}

// A monitor that does what the test program's does on the calling thread: copies each frame
// under a lock into a queue that another thread empties.
struct CopyingMonitor {
    struct Copy {
        int direction;
        std::string bytes;
        long long time;
        int status;
        int roundTrip;
    };
    std::mutex mutex;
    std::vector<Copy> pending;
    std::size_t seen = 0;

    static void PINPAD_CALL OnFrame(void* context, const Lumenord_Frame* frame) {
        auto* self = static_cast<CopyingMonitor*>(context);
        Copy copy{frame->direction,
                  std::string(reinterpret_cast<const char*>(frame->bytes),
                              static_cast<std::size_t>(frame->length)),
                  frame->timeMicroseconds, frame->status, frame->roundTripMicroseconds};
        std::lock_guard<std::mutex> lock(self->mutex);
        self->pending.push_back(std::move(copy));
    }
    void Drain() {
        std::lock_guard<std::mutex> lock(mutex);
        seen += pending.size();
        pending.clear();
    }
};

// The round trip in rounds: in each, driver and raw requests take turns (each going first half
// the time), and the round gives the ratio of their medians. Five rounds show the noise.
// `monitor`, when given, sees every frame of the driver's requests.
Row RoundTrip(bench::Responder& pad, CopyingMonitor* monitor = nullptr) {
    constexpr int kRounds = 5, kWarmUp = 20, kPairs = 200;
    constexpr double kTarget = 1.2;
    pad.SetReply(Frame('j', "0123456789ABCDEF0123456789ABCDEF", "033"));
    bench::RawClient raw(pad.SlavePath());
    const std::string request = ChallengeRequest();
    char output[64];
    auto rawTrip = [&] {
        std::uint64_t t0 = NowNs();
        if (raw.RoundTrip(request) == 0) std::fprintf(stderr, "raw round trip failed\n");
        return (NowNs() - t0) / 1e3;
    };
    auto driverTrip = [&] {
        std::uint64_t t0 = NowNs();
        if (PinPad_GetChallenge(output) != 0) std::fprintf(stderr, "driver round trip failed\n");
        return (NowNs() - t0) / 1e3;
    };
    if (monitor != nullptr) Lumenord_SetFrameMonitor(&CopyingMonitor::OnFrame, monitor);
    std::vector<double> ratios, driverMedians, rawMedians;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<double> driver, plain;
        for (int i = 0; i < kWarmUp + kPairs; ++i) {
            double d = 0, p = 0;
            if (i % 2 == 0) {
                p = rawTrip();
                d = driverTrip();
            } else {
                d = driverTrip();
                p = rawTrip();
            }
            if (monitor != nullptr && i % 16 == 0) monitor->Drain();
            if (i < kWarmUp) continue;  // the first passes warm caches and the scheduler
            driver.push_back(d);
            plain.push_back(p);
        }
        driverMedians.push_back(Median(driver));
        rawMedians.push_back(Median(plain));
        ratios.push_back(driverMedians.back() / rawMedians.back());
    }
    Lumenord_SetFrameMonitor(nullptr, nullptr);
    const std::size_t commands = kRounds * static_cast<std::size_t>(kWarmUp + kPairs);
    if (monitor != nullptr) {
        monitor->Drain();
        if (monitor->seen != 2 * commands)
            std::fprintf(stderr, "the monitor saw %zu frames of %zu\n", monitor->seen,
                         2 * commands);
    }
    const double median = Median(ratios);
    const std::string what = monitor != nullptr ? ", frame monitor on" : "";
    return {"command round trip" + what + ": driver / raw pty, min / median / max of " +
                std::to_string(kRounds) + " rounds (" + Format("%.0f", Median(driverMedians)) +
                " us / " + Format("%.0f", Median(rawMedians)) + " us)",
            bench::MinMedianMax(ratios, "%.2f"), "<= " + Format("%.1f", kTarget) + " (median)",
            median <= kTarget};
}

Row KeyPressLatency(bench::Responder& pad) {
    pad.SetReply("");
    std::vector<double> latencies;
    for (int i = 0; i < 40; ++i) {
        std::atomic<std::uint64_t> returned{0};
        std::atomic<bool> entered{false};
        std::thread reader([&] {
            unsigned char byte = 0;
            entered = true;
            int result = PinPad_ReadOneByte(&byte);
            returned = NowNs();
            if (result != 0 || byte != '5') std::fprintf(stderr, "key press not read\n");
        });
        while (!entered) std::this_thread::yield();
        // Let the reader settle into its wait, so that the figure is wake-up latency.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        std::uint64_t sent = pad.SendByte('5');
        reader.join();
        latencies.push_back((returned - sent) / 1e6);
    }
    double median = Median(latencies);
    return {"key press latency: pad writes a byte -> PinPad_ReadOneByte returns",
            Format("%.3f ms", median), "<= 2 ms", median <= 2.0};
}

Row SilentWaitCpu(bench::Responder& pad) {
    pad.SetReply("");
    std::vector<double> shares;
    shares.reserve(3);
    for (int i = 0; i < 3; ++i) {
        shares.push_back(CpuShare([] {
            char output[64];
            if (PinPad_GetChallenge(output) != -4) std::fprintf(stderr, "silent pad answered\n");
        }));
    }
    double median = Median(shares);
    return {"CPU during a 4 s wait for a silent pad", Format("%.2f %%", median), "<= 2 %",
            median <= 2.0};
}

Row KeypadPollCpu(bench::Responder& pad) {
    pad.SetReply("");
    std::vector<double> shares;
    shares.reserve(3);
    for (int i = 0; i < 3; ++i) {
        shares.push_back(CpuShare([] {
            std::uint64_t end = NowNs() + 4'000'000'000ull;
            unsigned char byte = 0;
            while (NowNs() < end) PinPad_ReadOneByte(&byte);
        }));
    }
    double median = Median(shares);
    return {"CPU while the keypad reader polls an idle pad for 4 s", Format("%.2f %%", median),
            "<= 1 %", median <= 1.0};
}

void ToHex(const unsigned char* bytes, std::size_t n, char* text) {
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < n; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 15];
    }
    text[2 * n] = '\0';
}

void FromHex(const char* text, unsigned char* bytes, std::size_t n) {
    auto value = [](char c) { return c <= '9' ? c - '0' : (c & ~0x20) - 'A' + 10; };
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>(value(text[2 * i]) << 4 | value(text[2 * i + 1]));
}

Row TripleDes() {
    const char* key = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
    const char* data = "4E6F772069732074686520074696D652066F7220616C6C20";
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-ECB", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    char ours[64], theirs[64];
    auto openssl = [&] {
        unsigned char k[24], in[24], out[32];
        FromHex(key, k, 24);
        FromHex(data, in, 24);
        int n = 0;
        EVP_EncryptInit_ex2(ctx, cipher, k, nullptr, nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, out, &n, in, 24);
        ToHex(out, 24, theirs);
    };
    constexpr int kOps = 20000;
    std::vector<double> mine, reference;
    for (int round = 0; round < 15; ++round) {
        std::uint64_t t0 = NowNs();
        for (int i = 0; i < kOps; ++i) PinPad_TriUntriDes(data, key, ours, 0);
        std::uint64_t t1 = NowNs();
        for (int i = 0; i < kOps; ++i) openssl();
        std::uint64_t t2 = NowNs();
        mine.push_back(double(t1 - t0) / kOps);
        reference.push_back(double(t2 - t1) / kOps);
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    if (std::strcmp(ours, theirs) != 0) std::fprintf(stderr, "triple DES results differ\n");
    double ratio = Median(mine) / Median(reference);
    return {"PinPad_TriUntriDes 3 blocks, 3-key / OpenSSL EVP (" + Format("%.0f", Median(mine)) +
                " ns / " + Format("%.0f", Median(reference)) + " ns)",
            Format("%.2f", ratio), "<= 1.0", ratio <= 1.0};
}

// Starts the test program offscreen; it reports when its window is shown and exits.
std::vector<Row> TestProgramStart(const std::string& program) {
    std::vector<double> millis, megabytes;
    for (int i = 0; i < 5; ++i) {
        int out[2];
        if (pipe(out) != 0) break;
        std::uint64_t start = NowNs();
        pid_t child = fork();
        if (child == 0) {
            dup2(out[1], STDOUT_FILENO);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("TALLOWBENCH_EXIT_WHEN_SHOWN", "1", 1);
            execl(program.c_str(), program.c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        char line[256] = {};
        ssize_t n = read(out[0], line, sizeof line - 1);  // the line written once shown
        std::uint64_t shown = NowNs();
        close(out[0]);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        if (n <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "test program did not report its window\n");
            continue;
        }
        millis.push_back((shown - start) / 1e6);
        megabytes.push_back(usage.ru_maxrss / 1024.0);
    }
    if (millis.empty()) {
        return {{"test program: start to main window shown", "not measured", "<= 300 ms", false},
                {"test program: peak resident memory after start-up", "not measured", "<= 80 MB",
                 false}};
    }
    double ms = Median(millis), mb = Median(megabytes);
    return {{"test program: start to main window shown (offscreen)", Format("%.0f ms", ms),
             "<= 300 ms", ms <= 300},
            {"test program: peak resident memory after start-up", Format("%.1f MB", mb), "<= 80 MB",
             mb <= 80}};
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    // Made absolute before the working directory changes below.
    std::string program = argc > 1 ? fs::absolute(argv[1]).string() : "";
    fs::path dir = fs::temp_directory_path() / ("lumenord-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::current_path(dir);

    std::vector<Row> rows;
    {
        bench::Responder pad;
        std::ofstream("sysconfig.ini") << "[SYSTEM]\nTIMEOUTLOGDIR=" << dir.string()
                                       << "\n[PORTS]\nCOM1=" << pad.SlavePath() << "\n";
        if (PinPad_EnablePort("com1", 115200, "N", "8", "1") != 0) {
            std::fprintf(stderr, "cannot open the responder's port\n");
            return 1;
        }
        rows.push_back(RoundTrip(pad));
        CopyingMonitor monitor;
        rows.push_back(RoundTrip(pad, &monitor));
        rows.push_back(KeyPressLatency(pad));
        rows.push_back(SilentWaitCpu(pad));
        rows.push_back(KeypadPollCpu(pad));
        PinPad_DisablePort();
    }
    rows.push_back(TripleDes());
    if (!program.empty()) {
        for (Row& row : TestProgramStart(program)) rows.push_back(row);
    }
    PrintTable(rows);
    fs::current_path("/");
    fs::remove_all(dir);
    return 0;
}
