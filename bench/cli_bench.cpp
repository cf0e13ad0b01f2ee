// The command-line tool's own cost, as a process: its time from start to the first frame on the
// line, and its overhead in the acceptance run beside the time its steps take on padsim.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bench_process.h"
#include "bench_table.h"

namespace {

using bench::Format;
using bench::Median;
using bench::NowNs;
using bench::Row;
using bench::Spawn;

// Runs `lumenord version` and takes the time from fork to the first byte on the pad's side of a
// pseudo-terminal; the tool is then stopped (no pad answers). The port is named as a production
// line names it, com1 mapped by ./sysconfig.ini, or with --device.
double StartToFirstFrameMs(const std::string& tool, const std::string& dir, bool device) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    const std::string slave = ptsname(master);
    std::ofstream(dir + "/sysconfig.ini") << "[PORTS]\nCOM1=" << slave << "\n";
    const std::vector<std::string> argv =
        device ? std::vector<std::string>{tool, "--device", slave, "version"}
               : std::vector<std::string>{tool, "--port", "com1", "version"};
    const std::uint64_t start = NowNs();
    const pid_t child = Spawn(argv, dir);
    pollfd ready{master, POLLIN, 0};
    const int got = poll(&ready, 1, 5000);
    const std::uint64_t end = NowNs();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(master);
    return got == 1 ? (end - start) / 1e6 : -1;
}

Row StartToFirstFrame(const std::string& tool, const std::string& dir, bool device) {
    constexpr int kWarmUp = 3, kRuns = 30;
    constexpr double kTargetMs = 20;
    const std::string figure = std::string("lumenord: start to first frame, ") +
                               (device ? "--device PTY" : "--port com1") + " (median of 30)";
    std::vector<double> times;
    for (int i = 0; i < kWarmUp + kRuns; ++i) {
        const double ms = StartToFirstFrameMs(tool, dir, device);
        if (ms < 0) return {figure, "failed", "<= 20 ms", false};
        if (i >= kWarmUp) times.push_back(ms);
    }
    const double median = Median(times);
    return {figure, Format("%.1f ms", median), "<= 20 ms", median <= kTargetMs};
}

// The same start of a process that does nothing (/bin/true), on the same machine at the same
// time: the floor under the figures above.
Row ProcessStart(const std::string& dir) {
    std::vector<double> times;
    for (int i = 0; i < 30; ++i) {
        const std::uint64_t start = NowNs();
        bench::WaitForExit(Spawn({"/bin/true"}, dir), std::chrono::seconds(5));
        times.push_back((NowNs() - start) / 1e6);
    }
    return {"for comparison: start and end of /bin/true (median of 30)",
            Format("%.1f ms", Median(times)), "", true};
}

// Runs the tool to its end; its standard output, and its wall time in `ms`. Empty when the tool
// failed, outlasted kToolTimeout (it is then killed) or wrote more than kMaxToolOutput bytes.
std::string RunTool(const std::vector<std::string>& argv, const std::string& dir, double& ms) {
    constexpr auto kToolTimeout = std::chrono::seconds(60);
    constexpr std::size_t kMaxToolOutput = 1 << 20;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const std::uint64_t start = NowNs();
    const auto deadline = std::chrono::steady_clock::now() + kToolTimeout;
    const pid_t child = Spawn(argv, dir, pipeFds[1]);
    close(pipeFds[1]);
    std::string out;
    bool complete = false;  // the tool closed its output in time and within the limit
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{pipeFds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) != 1) break;
        char chunk[4096];
        const ssize_t n = read(pipeFds[0], chunk, sizeof chunk);
        if (n <= 0) {
            complete = n == 0;
            break;
        }
        if (out.size() + static_cast<std::size_t>(n) > kMaxToolOutput) break;
        out.append(chunk, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    const auto left = std::max(std::chrono::milliseconds(0),
                               std::chrono::duration_cast<std::chrono::milliseconds>(
                                   deadline - std::chrono::steady_clock::now()));
    const int status = bench::WaitForExit(child, complete ? left : std::chrono::milliseconds(0));
    ms = (NowNs() - start) / 1e6;
    return complete && status == 0 ? out : std::string();
}

// The acceptance run against padsim, with its test record and JUnit file: the tool's whole time
// beside the time its steps took (the summary's "ms": the driver's calls and the pad). The rest
// is the tool's own: start-up, reading and checking the run file, writing the records, exit.
Row AcceptanceOverhead(const std::string& tool, const std::string& padsim,
                       const std::string& script, const std::string& dir, bool records) {
    constexpr int kRuns = 10;
    constexpr double kTargetPercent = 5;
    const std::string link = dir + "/ttyPAD";
    const pid_t pad = Spawn({padsim, "--no-input", "--link", link, "--keys", "1234"}, dir);
    bench::WaitForPath(link, std::chrono::seconds(10));
    std::vector<double> shares;
    double toolMs = 0, stepsMs = 0;
    for (int i = 0; i < kRuns + 1; ++i) {
        double wall = 0;
        std::vector<std::string> argv{tool, "--device", link, "--json", "run", script};
        if (records) {
            argv.insert(argv.begin() + 4,
                        {"--record", dir + "/record.json", "--junit", dir + "/junit.xml"});
        }
        const std::string out = RunTool(argv, dir, wall);
        if (out.empty()) break;
        std::istringstream lines(out);
        std::string line, last;
        while (std::getline(lines, line)) last = line;
        // A last line without the summary's time fails the figure instead of throwing.
        const nlohmann::json report = nlohmann::json::parse(last, nullptr, false);
        const nlohmann::json::json_pointer stepsAt("/summary/ms");
        if (!report.contains(stepsAt) || !report[stepsAt].is_number()) break;
        const double steps = report[stepsAt].get<double>();
        if (i == 0) continue;  // warms the caches
        shares.push_back(100.0 * (wall - steps) / steps);
        toolMs += wall / kRuns;
        stepsMs += steps / kRuns;
    }
    kill(pad, SIGTERM);
    bench::WaitForExit(pad, std::chrono::seconds(5));
    char figure[200];
    std::snprintf(figure, sizeof figure,
                  "lumenord: overhead in the acceptance run%s beside its steps (%.0f ms / %.0f ms)",
                  records ? " with --record and --junit" : "", toolMs, stepsMs);
    if (shares.size() != kRuns) return {figure, "failed", "<= 5 %", false};
    const double median = Median(shares);
    // The two files are flushed to the disk before the run ends: informational beside the target.
    if (records) return {figure, Format("%.1f %%", median), "(no target)", true};
    return {figure, Format("%.1f %%", median), "<= 5 %", median <= kTargetPercent};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: cli_bench LUMENORD PADSIM ACCEPTANCE_FILE\n");
        return 2;
    }
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "cli-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return 1;
    const std::string tool = fs::absolute(argv[1]).string();
    const std::string padsim = fs::absolute(argv[2]).string();
    const std::string script = fs::absolute(argv[3]).string();
    std::vector<Row> rows{ProcessStart(dir), StartToFirstFrame(tool, dir, false),
                          StartToFirstFrame(tool, dir, true)};
    std::filesystem::remove(dir + "/sysconfig.ini");
    rows.push_back(AcceptanceOverhead(tool, padsim, script, dir, false));
    rows.push_back(AcceptanceOverhead(tool, padsim, script, dir, true));
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    bench::PrintTable(rows);
    return 0;
}
