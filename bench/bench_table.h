// The table every benchmark prints, one row per figure beside its target, and the small
// measurements the rows share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Row {
    std::string figure;
    std::string measured;
    std::string target;
    bool met;
};

double Median(std::vector<double> values);
std::string Format(const char* format, double value);
// "min / median / max" of the values, each in `format`; "failed" when there are none.
std::string MinMedianMax(const std::vector<double>& values, const char* format);
// The steady clock in nanoseconds.
std::uint64_t NowNs();
// CPU time of the whole process (all threads), in seconds.
double CpuSeconds();
// CPU time over wall time while `work` runs, in percent.
double CpuShare(const std::function<void()>& work);
void PrintTable(const std::vector<Row>& rows);

}  // namespace bench
