// The time per pad on a real line: the command-line tool's acceptance run against padsim paced at
// 9600 and at 115200 baud (8N1), from the first request byte on the line to the last reply byte,
// beside the line's limit: the bytes each way at the line's rate plus the pad's own time
// (answering, and waiting for the scripted PIN keys while the line is idle), as padsim counts
// them. Beside it, the same requests from a model host with the original driver's fixed pauses.
// Last, the same run on eight pads at once (one tool, --device given eight times) beside one pad,
// each timed from the first frame of any pad to the last frame of any pad.
//
// The model host (PausingHost) replays the request frames that the tool sent, recorded once by
// passing the tool's bytes through a pseudo-terminal of the bench's own to an unpaced padsim. It
// does what the original serial channel does, without its message pumping:
//   - a frame goes out one byte per write() call, the bytes back to back;
//   - a reply read checks the input queue and, while it is empty, sleeps 10 ms before the next
//     check; once bytes are queued it takes them one read() per byte as they come, without
//     sleeping, until the end byte and two more are in;
//   - a key byte is read as PinPad_ReadOneByte reads it: the queue is checked, and while it is
//     empty the host sleeps 70 ms before the next check; once a byte is queued it sleeps 50 ms
//     and then reads it. Each call gives up after 1 s and the key loop calls again.
// The pauses are exact here (a 10 ms sleep on Linux lasts barely more than 10 ms); the
// original's sleeps could only be longer, so the model is the original's best case.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_process.h"
#include "bench_table.h"

namespace {

using bench::Format;
using bench::Median;
using bench::MinMedianMax;
using bench::NowNs;
using bench::Row;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRuns = 7;
constexpr const char* kPin = "1234";  // typed by padsim whenever the pad asks for input
constexpr char kEndByte = '\x03';

// The programs, the run file and a scratch folder.
struct Setup {
    std::string tool, padsim, script, dir;
};

// padsim's statistics at its end (padsim --stats).
struct PadStats {
    double wireMs = 0, ownMs = 0, hostMs = 0;
    std::int64_t firstInNs = 0, lastOutNs = 0;

    double FirstToLastMs() const { return static_cast<double>(lastOutNs - firstInNs) / 1e6; }
    double LimitMs() const { return wireMs + ownMs; }
};

std::optional<PadStats> ReadStats(const std::string& path) {
    std::ifstream file(path);
    // Not const: a missing field then reads as null instead of being undefined behaviour.
    nlohmann::json json = nlohmann::json::parse(file, nullptr, false);
    if (!json.is_object() || !json["first_in_ns"].is_number_integer() ||
        !json["last_out_ns"].is_number_integer() || !json["wire_ms"].is_number() ||
        !json["own_ms"].is_number() || !json["host_wait_ms"].is_number())
        return std::nullopt;
    return PadStats{json["wire_ms"].get<double>(), json["own_ms"].get<double>(),
                    json["host_wait_ms"].get<double>(), json["first_in_ns"].get<std::int64_t>(),
                    json["last_out_ns"].get<std::int64_t>()};
}

void MakeRaw(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

// padsim as a process at `baud` (0: unpaced, 8N1 otherwise), linked at <dir>/<name>, typing the
// PIN whenever the pad asks for input; its statistics once it is stopped.
class Padsim {
public:
    Padsim(const Setup& setup, int baud, const std::string& name = "ttyPAD")
        : m_link(setup.dir + "/" + name), m_stats(m_link + ".stats.json") {
        std::filesystem::remove(m_link);
        std::filesystem::remove(m_stats);
        std::vector<std::string> argv{setup.padsim, "--no-input", "--link",  m_link,
                                      "--keys",     kPin,         "--stats", m_stats};
        if (baud > 0) argv.insert(argv.end(), {"--line-rate", std::to_string(baud)});
        m_pid = bench::Spawn(argv, setup.dir);
        m_ready = bench::WaitForPath(m_link, 10s);
    }
    ~Padsim() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        bench::WaitForExit(m_pid, 5s);
    }
    Padsim(const Padsim&) = delete;
    Padsim& operator=(const Padsim&) = delete;

    bool ready() const { return m_ready; }
    const std::string& link() const { return m_link; }

    std::optional<PadStats> Stop() {
        kill(m_pid, SIGTERM);
        const int status = bench::WaitForExit(m_pid, 5s);
        m_pid = -1;
        if (status != 0) return std::nullopt;
        return ReadStats(m_stats);
    }

private:
    std::string m_link, m_stats;
    pid_t m_pid = -1;
    bool m_ready = false;
};

struct RunTimes {
    double startupMs = 0;  // the tool's process start to its first byte on the line
    double firstToLastMs = 0;
    double limitMs = 0;
    double hostMs = 0;  // of the time over the limit: the pad waited for the host's next request
};

// One acceptance run of the tool against a fresh padsim at `baud`.
std::optional<RunTimes> ToolRun(const Setup& setup, int baud) {
    Padsim pad(setup, baud);
    if (!pad.ready()) return std::nullopt;
    const std::uint64_t start = NowNs();
    const pid_t tool =
        bench::Spawn({setup.tool, "--device", pad.link(), "run", setup.script}, setup.dir);
    const int status = bench::WaitForExit(tool, 60s);
    const std::optional<PadStats> stats = pad.Stop();
    if (status != 0 || !stats) return std::nullopt;
    return RunTimes{static_cast<double>(stats->firstInNs - static_cast<std::int64_t>(start)) / 1e6,
                    stats->FirstToLastMs(), stats->LimitMs(), stats->hostMs};
}

// One exchange of the run: the request, and how many bytes the pad sent on its own (key echoes)
// after its reply and before the next request.
struct Exchange {
    std::string request;
    std::size_t keyBytes = 0;
};

// Bytes in the order they crossed: from the host (true) or from the pad.
using Traffic = std::vector<std::pair<bool, std::string>>;

// Requests in order, each with what the pad sent until the next one; the reply ends at the first
// end byte and the two check characters after it, as the original reads it.
std::vector<Exchange> ExchangesOf(const Traffic& traffic) {
    std::vector<std::pair<std::string, std::string>> raw;
    for (const auto& [fromHost, bytes] : traffic) {
        if (fromHost) {
            if (raw.empty() || !raw.back().second.empty()) raw.emplace_back();
            raw.back().first += bytes;
        } else if (!raw.empty()) {
            raw.back().second += bytes;
        }
    }
    std::vector<Exchange> exchanges;
    for (const auto& [request, fromPad] : raw) {
        const std::size_t end = fromPad.find(kEndByte);
        if (end == std::string::npos || fromPad.size() < end + 3) return {};
        exchanges.push_back({request, fromPad.size() - (end + 3)});
    }
    return exchanges;
}

// Passes bytes between the tool (on a pty of our own) and the pad until the tool ends.
bool Relay(int toolSide, int padSide, pid_t tool, Traffic& traffic) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, tool, 0));
    if (pidfd < 0) return false;
    const auto deadline = Clock::now() + 60s;
    bool ended = false;
    while (!ended && Clock::now() < deadline) {
        pollfd fds[3] = {{toolSide, POLLIN, 0}, {padSide, POLLIN, 0}, {pidfd, POLLIN, 0}};
        if (poll(fds, 3, 100) < 0 && errno != EINTR) break;
        ended = fds[2].revents & POLLIN;
        for (int from = 0; from < 2; ++from) {
            if (!(fds[from].revents & POLLIN)) continue;
            char chunk[4096];
            const ssize_t n = read(fds[from].fd, chunk, sizeof chunk);
            if (n <= 0) continue;
            const int to = from == 0 ? padSide : toolSide;
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = write(to, chunk + done, static_cast<std::size_t>(n - done));
                if (w <= 0) {  // both sides are blocking ptys with room to spare
                    close(pidfd);
                    return false;
                }
                done += w;
            }
            traffic.emplace_back(from == 0, std::string(chunk, static_cast<std::size_t>(n)));
        }
    }
    close(pidfd);
    return ended;
}

// Records the acceptance run's exchanges: the tool talks to a pty whose other side passes every
// byte to an unpaced padsim and back.
std::vector<Exchange> RecordExchanges(const Setup& setup) {
    Padsim pad(setup, 0);
    if (!pad.ready()) return {};
    const int toolSide = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (toolSide < 0 || grantpt(toolSide) != 0 || unlockpt(toolSide) != 0) return {};
    const std::string device = ptsname(toolSide);
    // Held open so that the tool's opening and closing of the port never hangs up our side.
    const int keep = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int padSide = open(pad.link().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    Traffic traffic;
    bool ok = keep >= 0 && padSide >= 0;
    if (ok) {
        MakeRaw(keep);
        MakeRaw(padSide);
        const pid_t tool =
            bench::Spawn({setup.tool, "--device", device, "run", setup.script}, setup.dir);
        const bool relayed = Relay(toolSide, padSide, tool, traffic);
        // Waited for either way, so that a tool left over from a failed relay is killed.
        ok = bench::WaitForExit(tool, 5s) == 0 && relayed;
    }
    for (int fd : {toolSide, keep, padSide})
        if (fd >= 0) close(fd);
    pad.Stop();
    return ok ? ExchangesOf(traffic) : std::vector<Exchange>{};
}

// The model of the original driver's host side (see the top of this file).
class PausingHost {
public:
    explicit PausingHost(int fd) : m_fd(fd) {}

    bool Run(const Exchange& exchange) {
        WriteFrame(exchange.request);
        if (!ReadByEndChar()) return false;
        for (std::size_t i = 0; i < exchange.keyBytes; ++i)
            if (!ReadKeyByte()) return false;
        return true;
    }

private:
    int Queued() const {
        int count = 0;
        return ioctl(m_fd, FIONREAD, &count) == 0 ? count : 0;
    }
    bool ReadByte(char& byte) const { return read(m_fd, &byte, 1) == 1; }
    bool WaitForInput(Clock::time_point deadline) const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd ready{m_fd, POLLIN, 0};
        return poll(&ready, 1, static_cast<int>(left.count())) == 1;
    }

    void WriteFrame(const std::string& frame) const {
        for (char byte : frame) {
            while (write(m_fd, &byte, 1) != 1) {
                pollfd room{m_fd, POLLOUT, 0};
                if (poll(&room, 1, 1000) != 1) return;
            }
        }
    }

    bool ReadByEndChar() const {
        const auto deadline = Clock::now() + 4s;
        while (Queued() == 0) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        int afterEnd = -1;
        while (afterEnd < 2) {
            char byte = 0;
            if (!ReadByte(byte)) {
                if (!WaitForInput(deadline)) return false;
                continue;
            }
            if (afterEnd >= 0)
                ++afterEnd;
            else if (byte == kEndByte)
                afterEnd = 0;
        }
        return true;
    }

    // PinPad_ReadOneByte (a poll of at most 1 s), called again until a byte comes.
    bool ReadKeyByte() const {
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            const auto limit = Clock::now() + 1s;
            while (Clock::now() <= limit) {
                if (Queued() > 0) {
                    std::this_thread::sleep_for(50ms);
                    char byte = 0;
                    return ReadByte(byte);
                }
                std::this_thread::sleep_for(70ms);
            }
        }
        return false;
    }

    int m_fd;
};

// The recorded requests from the model host against a fresh padsim at `baud`.
std::optional<RunTimes> ModelRun(const Setup& setup, const std::vector<Exchange>& exchanges,
                                 int baud) {
    Padsim pad(setup, baud);
    if (!pad.ready() || exchanges.empty()) return std::nullopt;
    const int fd = open(pad.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    MakeRaw(fd);
    PausingHost host(fd);
    bool ok = true;
    for (const Exchange& exchange : exchanges) ok = ok && host.Run(exchange);
    close(fd);
    const std::optional<PadStats> stats = pad.Stop();
    if (!ok || !stats) return std::nullopt;
    return RunTimes{0, stats->FirstToLastMs(), stats->LimitMs(), stats->hostMs};
}

std::vector<double> Each(const std::vector<RunTimes>& runs, double RunTimes::*field) {
    std::vector<double> values;
    values.reserve(runs.size());
    for (const RunTimes& run : runs) values.push_back(run.*field);
    return values;
}

std::vector<double> Ratios(const std::vector<RunTimes>& runs) {
    std::vector<double> ratios;
    ratios.reserve(runs.size());
    for (const RunTimes& run : runs) ratios.push_back(run.firstToLastMs / run.limitMs);
    return ratios;
}

std::string Line(int baud) { return "at " + std::to_string(baud) + " 8N1"; }

Row FirstToLastRow(const std::string& who, int baud, const std::vector<RunTimes>& runs) {
    const std::string figure = who + " " + Line(baud) +
                               ": first frame to last, min / median / max of " +
                               std::to_string(kRuns) + " (the line's limit " +
                               Format("%.1f ms)", Median(Each(runs, &RunTimes::limitMs)));
    if (runs.size() != kRuns) return {figure, "failed", "", false};
    return {figure, MinMedianMax(Each(runs, &RunTimes::firstToLastMs), "%.1f") + " ms",
            "(reported)", true};
}

// The ratio to the line's limit; `target` applies to the median, none: reported only.
Row RatioRow(const std::string& who, int baud, const std::vector<RunTimes>& runs,
             std::optional<double> target) {
    const std::string figure = who + " " + Line(baud) + ": first frame to last / the line's limit";
    const std::string wanted = target ? Format("<= %.2f (median)", *target) : "(reported)";
    if (runs.size() != kRuns) return {figure, "failed", wanted, false};
    const std::vector<double> ratios = Ratios(runs);
    return {figure, MinMedianMax(ratios, "%.3f"), wanted, !target || Median(ratios) <= *target};
}

// Where the time over the limit goes: the host between a reply and its next request, and the
// rest (the pad's lateness in pacing and answering).
Row ExcessRow(const std::string& who, int baud, const std::vector<RunTimes>& runs) {
    const std::string figure = who + " " + Line(baud) +
                               ": time over the limit; of it the host's, between a reply and " +
                               "the next request (medians)";
    if (runs.size() != kRuns) return {figure, "failed", "(reported)", false};
    std::vector<double> excess;
    excess.reserve(runs.size());
    for (const RunTimes& run : runs) excess.push_back(run.firstToLastMs - run.limitMs);
    return {figure,
            Format("%.1f ms; ", Median(excess)) +
                Format("%.1f ms", Median(Each(runs, &RunTimes::hostMs))),
            "(reported)", true};
}

// Reported only: cli_bench holds the start-up target for a single step; a run file is read and
// checked whole before its first frame.
Row StartupRow(int baud, const std::vector<RunTimes>& runs) {
    const std::string figure = "lumenord " + Line(baud) +
                               ": process start to first frame, min / median / max of " +
                               std::to_string(kRuns);
    if (runs.size() != kRuns) return {figure, "failed", "(reported)", false};
    return {figure, MinMedianMax(Each(runs, &RunTimes::startupMs), "%.1f") + " ms", "(reported)",
            true};
}

const char* const kTool = "lumenord";
const char* const kModel = "model of the original's pauses (10/50/70 ms)";

// The tool and the model host, run by turns on the same machine at the same time.
void RowsAt(const Setup& setup, const std::vector<Exchange>& exchanges, int baud,
            std::optional<double> target, std::vector<Row>& rows) {
    std::vector<RunTimes> tool, model;
    ToolRun(setup, baud);  // warms the caches
    for (int i = 0; i < kRuns; ++i) {
        if (auto run = ToolRun(setup, baud)) tool.push_back(*run);
        if (auto run = ModelRun(setup, exchanges, baud)) model.push_back(*run);
    }
    rows.push_back(StartupRow(baud, tool));
    rows.push_back(FirstToLastRow(kTool, baud, tool));
    rows.push_back(RatioRow(kTool, baud, tool, target));
    rows.push_back(ExcessRow(kTool, baud, tool));
    rows.push_back(FirstToLastRow(kModel, baud, model));
    rows.push_back(RatioRow(kModel, baud, model, std::nullopt));
}

// Several pads at once: `lumenord --device A ... run FILE` against padsims at 9600 8N1, linked as
// A, B, ... in a fresh folder that is also the tool's working folder, so that every run starts
// with an empty key store of its own.
struct FleetTimes {
    double firstToLastMs = 0;  // the first frame of any pad to the last frame of any pad
    double wallMs = 0;         // the tool's process start to its exit
};

// A bench of eight pads, and a test rack of 32.
constexpr int kFleetSizes[] = {8, 32};
constexpr int kFleetBaud = 9600;

// `run` names the folder: "<pads>-<run>".
std::optional<FleetTimes> FleetRun(const Setup& setup, int pads, const std::string& run) {
    const std::string dir = setup.dir + "/fleet-" + std::to_string(pads) + "-" + run;
    std::error_code error;
    std::filesystem::create_directory(dir, error);
    if (error) return std::nullopt;
    const Setup here{setup.tool, setup.padsim, setup.script, dir};
    std::vector<std::unique_ptr<Padsim>> sims;
    std::vector<std::string> argv{setup.tool};
    for (int i = 0; i < pads; ++i) {
        sims.push_back(
            std::make_unique<Padsim>(here, kFleetBaud, std::string(1, static_cast<char>('A' + i))));
        if (!sims.back()->ready()) return std::nullopt;
        argv.insert(argv.end(), {"--device", sims.back()->link()});
    }
    argv.insert(argv.end(), {"run", setup.script});
    const std::uint64_t start = NowNs();
    const int status = bench::WaitForExit(bench::Spawn(argv, dir), 120s);
    const std::uint64_t end = NowNs();
    std::int64_t first = INT64_MAX, last = INT64_MIN;
    bool ok = status == 0;
    for (auto& sim : sims) {
        const std::optional<PadStats> stats = sim->Stop();
        if (!stats) {
            ok = false;
            continue;
        }
        first = std::min(first, stats->firstInNs);
        last = std::max(last, stats->lastOutNs);
    }
    if (!ok) return std::nullopt;
    return FleetTimes{static_cast<double>(last - first) / 1e6,
                      static_cast<double>(end - start) / 1e6};
}

std::string FleetLine(int pads) {
    return "lumenord, " + std::to_string(pads) + " pads at once / 1 pad " + Line(kFleetBaud);
}

// Each repetition's figure of several pads over its 1-pad figure; `target` applies to the median.
Row FleetRow(int pads, const std::string& what, const std::vector<std::pair<double, double>>& pairs,
             std::optional<double> target) {
    std::vector<double> many, one, ratios;
    for (const auto& [fleet, single] : pairs) {
        many.push_back(fleet);
        one.push_back(single);
        ratios.push_back(fleet / single);
    }
    const std::string figure = FleetLine(pads) + ": " + what + ", min / median / max of " +
                               std::to_string(kRuns) + " (" + Format("%.1f ms / ", Median(many)) +
                               Format("%.1f ms)", Median(one));
    const std::string wanted = target ? Format("<= %.2f (median)", *target) : "(reported)";
    if (pairs.size() != kRuns) return {figure, "failed", wanted, false};
    return {figure, MinMedianMax(ratios, "%.3f"), wanted, !target || Median(ratios) <= *target};
}

// Several pads and one by turns, so that both see the same load.
void FleetRows(const Setup& setup, int pads, double target, std::vector<Row>& rows) {
    std::vector<std::pair<double, double>> frames, walls;
    FleetRun(setup, pads, "warm-up");  // warms the caches
    for (int i = 0; i < kRuns; ++i) {
        const std::optional<FleetTimes> many = FleetRun(setup, pads, std::to_string(i));
        const std::optional<FleetTimes> one =
            FleetRun(setup, 1, std::to_string(pads) + "-" + std::to_string(i));
        if (!many || !one) continue;
        frames.emplace_back(many->firstToLastMs, one->firstToLastMs);
        walls.emplace_back(many->wallMs, one->wallMs);
    }
    rows.push_back(FleetRow(pads, "first frame of any pad to the last", frames, target));
    rows.push_back(FleetRow(pads, "the tool's start to its exit", walls, std::nullopt));
}

}  // namespace

// NOLINTNEXTLINE(bugprone-exception-escape): a bench that cannot go on ends with the exception
int main(int argc, char** argv) {
    // "fleet" after the files: only the rows of several pads at once.
    const bool fleetOnly = argc == 5 && std::string(argv[4]) == "fleet";
    if (argc != 4 && !fleetOnly) {
        std::fprintf(stderr, "usage: line_rate_bench LUMENORD PADSIM ACCEPTANCE_FILE [fleet]\n");
        return 2;
    }
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "line-rate-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return 1;
    const Setup setup{fs::absolute(argv[1]).string(), fs::absolute(argv[2]).string(),
                      fs::absolute(argv[3]).string(), dir};
    std::vector<Row> rows;
    if (!fleetOnly) {
        const std::vector<Exchange> exchanges = RecordExchanges(setup);
        RowsAt(setup, exchanges, 9600, 1.02, rows);
        RowsAt(setup, exchanges, 115200, std::nullopt, rows);
    }
    for (const int pads : kFleetSizes) FleetRows(setup, pads, pads > 8 ? 1.05 : 1.1, rows);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    bench::PrintTable(rows);
    return 0;
}
