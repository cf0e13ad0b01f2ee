#include "trace.h"

#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "settings.h"

namespace lumenord {
namespace {

constexpr const char* kTraceFile = "logbuf.txt";
constexpr int kBytesPerLine = 40;

// Whether logbuf.txt has been opened since the library was loaded.
bool g_traceOpenedOnce = false;

struct Stamp {
    tm fields{};
    int milliseconds = 0;
};

Stamp Now(bool utc) {
    timeval now{};
    gettimeofday(&now, nullptr);
    Stamp stamp;
    time_t seconds = now.tv_sec;
    if (utc) {
        gmtime_r(&seconds, &stamp.fields);
    } else {
        localtime_r(&seconds, &stamp.fields);
    }
    stamp.milliseconds = static_cast<int>(now.tv_usec / 1000);
    return stamp;
}

void WriteHeader(std::FILE* file, TraceDirection direction, const Stamp& s) {
    const char* format = direction == TraceDirection::kSend
                             ? "Send To POS   [%d-%d-%d  %d:%d:%d:%d]"
                             : "Receive From POS  [%d-%d-%d  %d:%d:%d:%d]";
    std::fprintf(file, format, s.fields.tm_year + 1900, s.fields.tm_mon + 1, s.fields.tm_mday,
                 s.fields.tm_hour, s.fields.tm_min, s.fields.tm_sec, s.milliseconds);
}

void WriteBytes(std::FILE* file, const char* bytes, int length) {
    std::fputs("BCD[", file);
    for (int i = 0; i < length; ++i) {
        if (i > 0 && i % kBytesPerLine == 0) std::fputs("\r\n", file);
        std::fprintf(file, "%02X ", static_cast<unsigned char>(bytes[i]));
    }
    std::fputs("]\n\n", file);
}

// Opens logbuf.txt for the next entry: afresh for the first one since the library was loaded.
std::FILE* OpenTrace() {
    std::FILE* file = std::fopen(kTraceFile, g_traceOpenedOnce ? "a" : "w");
    if (file != nullptr) g_traceOpenedOnce = true;
    return file;
}

}  // namespace

void FrameTrace(TraceDirection direction, const char* bytes, int length, bool enabled) {
    // Checked first: the local time costs a time zone conversion on every frame.
    if (!enabled) return;
    Stamp stamp = Now(false);
    std::FILE* file = OpenTrace();
    if (file == nullptr) return;
    WriteHeader(file, direction, stamp);
    int textLength = length > 0 ? static_cast<int>(strnlen(bytes, static_cast<size_t>(length))) : 0;
    std::fprintf(file, "\nASC[%.*s]\n", textLength, bytes);
    WriteBytes(file, bytes, length);
    std::fclose(file);
}

void FrameTraceNote(const char* note, bool enabled) {
    if (!enabled) return;
    std::FILE* file = OpenTrace();
    if (file == nullptr) return;
    std::fprintf(file, "%s\n\n", note);
    std::fclose(file);
}

void TimeoutLog(const char* message, int length) {
    Stamp now = Now(true);
    // Year, month, day, hour and milliseconds, as the service tools expect them.
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d %02d:%02d:%2d", now.fields.tm_year + 1900,
                  now.fields.tm_mon + 1, now.fields.tm_mday, now.fields.tm_hour, now.milliseconds);
    std::string path = TimeoutLogDirectory();
    if (!path.empty() && path.back() != '/') path += '/';
    char name[32];
    std::snprintf(name, sizeof name, "debug%02d%02d.log", now.fields.tm_mon + 1,
                  now.fields.tm_mday);
    path += name;
    std::FILE* file = std::fopen(path.c_str(), "a+");
    if (file == nullptr) return;
    std::fprintf(file, "---%s---\n", stamp);
    std::fprintf(file, "Data=[%s]  Len=[%d]\n", message, length);
    std::fclose(file);
}

}  // namespace lumenord
