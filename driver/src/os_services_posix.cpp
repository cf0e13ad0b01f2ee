// POSIX side of the driver's operating-system services.
#include <sys/time.h>

#include <ctime>

#include "os_services.h"

namespace lumenord::os {
namespace {

ClockReading Read(bool utc) {
    timeval now{};
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    tm fields{};
    if (utc) {
        gmtime_r(&seconds, &fields);
    } else {
        localtime_r(&seconds, &fields);
    }
    return {fields.tm_year + 1900,
            fields.tm_mon + 1,
            fields.tm_mday,
            fields.tm_hour,
            fields.tm_min,
            fields.tm_sec,
            static_cast<int>(now.tv_usec / 1000)};
}

}  // namespace

std::string PortDevice(int portNumber) { return "/dev/ttyS" + std::to_string(portNumber - 1); }

const char* DefaultTimeoutLogDirectory() { return "/var/log/halmstrom"; }

ClockReading LocalClock() { return Read(false); }
ClockReading UtcClock() { return Read(true); }

void DispatchThreadMessage() {}

CallScope::CallScope() = default;
CallScope::~CallScope() = default;

}  // namespace lumenord::os
