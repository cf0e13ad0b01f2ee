#include "bench_table.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace bench {

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string MinMedianMax(const std::vector<double>& values, const char* format) {
    if (values.empty()) return "failed";
    const auto [min, max] = std::minmax_element(values.begin(), values.end());
    return Format(format, *min) + " / " + Format(format, Median(values)) + " / " +
           Format(format, *max);
}

std::uint64_t NowNs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double CpuShare(const std::function<void()>& work) {
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return 100.0 * (CpuSeconds() - cpu) / wall;
}

void PrintTable(const std::vector<Row>& rows) {
    int figure = 6, measured = 8, target = 6;
    for (const Row& row : rows) {
        figure = std::max(figure, static_cast<int>(row.figure.size()));
        measured = std::max(measured, static_cast<int>(row.measured.size()));
        target = std::max(target, static_cast<int>(row.target.size()));
    }
    std::printf("| %-*s | %-*s | %-*s | met  |\n", figure, "figure", measured, "measured", target,
                "target");
    std::printf("|%s|%s|%s|------|\n", std::string(figure + 2, '-').c_str(),
                std::string(measured + 2, '-').c_str(), std::string(target + 2, '-').c_str());
    for (const Row& row : rows)
        std::printf("| %-*s | %-*s | %-*s | %-4s |\n", figure, row.figure.c_str(), measured,
                    row.measured.c_str(), target, row.target.c_str(), row.met ? "yes" : "NO");
    std::fflush(stdout);
}

}  // namespace bench
