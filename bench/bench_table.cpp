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
    std::size_t width = 6;
    for (const Row& row : rows) width = std::max(width, row.figure.size());
    std::printf("| %-*s | %-12s | %-9s | %-4s |\n", int(width), "figure", "measured", "target",
                "met");
    std::printf("|%s|--------------|-----------|------|\n", std::string(width + 2, '-').c_str());
    for (const Row& row : rows)
        std::printf("| %-*s | %-12s | %-9s | %-4s |\n", int(width), row.figure.c_str(),
                    row.measured.c_str(), row.target.c_str(), row.met ? "yes" : "NO");
    std::fflush(stdout);
}

}  // namespace bench
