// A whole certification (lumenord certify --change-settings, every check) against padsim paced at
// 9600 baud 8N1, from the first request byte on the line to the last reply byte, beside the
// line's limit as padsim counts it: the bytes each way at the line's rate plus the pad's own time
// (answering, and waiting for the scripted keys of the typed key parts and the PINs while the line
// is idle). The keys are typed by padsim, so a person's typing is the pad's own time here.
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "bench_process.h"
#include "bench_table.h"

namespace {

using namespace std::chrono_literals;

constexpr int kRuns = 3;
constexpr int kBaud = 9600;
// The typed key part of codes 41-43; the PIN entries take its first four digits.
constexpr const char* kPadKeys = "1234567890ABCDEF\\r";

struct Run {
    double firstToLastMs = 0;
    double limitMs = 0;
};

std::optional<Run> ReadStats(const std::string& path) {
    std::ifstream file(path);
    nlohmann::json json = nlohmann::json::parse(file, nullptr, false);
    if (!json.is_object() || !json["first_in_ns"].is_number_integer() ||
        !json["last_out_ns"].is_number_integer() || !json["wire_ms"].is_number() ||
        !json["own_ms"].is_number())
        return std::nullopt;
    return Run{static_cast<double>(json["last_out_ns"].get<std::int64_t>() -
                                   json["first_in_ns"].get<std::int64_t>()) /
                   1e6,
               json["wire_ms"].get<double>() + json["own_ms"].get<double>()};
}

std::optional<Run> CertifyOnce(const std::string& tool, const std::string& padsim,
                               const std::string& dir) {
    const std::string link = dir + "/ttyPAD", stats = dir + "/stats.json";
    std::filesystem::remove(link);
    std::filesystem::remove(stats);
    const pid_t pad = bench::Spawn({padsim, "--no-input", "--link", link, "--keys", kPadKeys,
                                    "--line-rate", std::to_string(kBaud), "--stats", stats},
                                   dir);
    if (!bench::WaitForPath(link, 10s)) {
        kill(pad, SIGKILL);
        bench::WaitForExit(pad, 5s);
        return std::nullopt;
    }
    const pid_t run = bench::Spawn({tool, "--device", link, "--baud", std::to_string(kBaud),
                                    "certify", "--overwrite-keys", "--change-settings"},
                                   dir);
    const int status = bench::WaitForExit(run, 300s);
    kill(pad, SIGTERM);
    const int padStatus = bench::WaitForExit(pad, 5s);
    if (status != 0 || padStatus != 0) return std::nullopt;
    return ReadStats(stats);
}

}  // namespace

// NOLINTNEXTLINE(bugprone-exception-escape): a bench that cannot go on ends with the exception
int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: certify_bench LUMENORD PADSIM\n");
        return 2;
    }
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "certify-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return 1;
    std::vector<double> ratios, limits, runs;
    for (int i = 0; i < kRuns; ++i) {
        const auto run =
            CertifyOnce(fs::absolute(argv[1]).string(), fs::absolute(argv[2]).string(), dir);
        if (!run || run->limitMs <= 0) continue;
        runs.push_back(run->firstToLastMs);
        limits.push_back(run->limitMs);
        ratios.push_back(run->firstToLastMs / run->limitMs);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    const bool whole = static_cast<int>(ratios.size()) == kRuns;
    std::vector<bench::Row> rows{
        {"certification at 9600 baud, first to last frame (ms)", bench::MinMedianMax(runs, "%.0f"),
         "", whole},
        {"  the line's limit: bytes at 9600 baud + the pad's own time (ms)",
         bench::MinMedianMax(limits, "%.0f"), "", whole},
        {"  certification / line's limit", bench::MinMedianMax(ratios, "%.3f"), "<= 1.10",
         whole && bench::Median(ratios) <= 1.10}};
    bench::PrintTable(rows);
    return 0;
}
