#include "trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame_secrets.h"
#include "os_services.h"
#include "settings.h"

namespace lumenord {
namespace {

constexpr const char* kTraceFile = "logbuf.txt";
// Names another trace file instead of ./logbuf.txt, for a process of its own among several that
// share a folder (one pad of a run of several pads): read once, at the first entry, so that a
// process forked from one that loaded the library but traced nothing yet still names its own.
constexpr const char* kTraceFileVariable = "LUMENORD_TRACE_FILE";
constexpr std::size_t kMaxTraceFileName = 4096;
constexpr int kBytesPerLine = 40;
// A dated time-out log takes notes until it holds this many bytes, then one last note saying so,
// then nothing more that day: a pad that keeps timing out must not fill the disk.
constexpr long kTimeoutLogLimit = 1024 * 1024;

// Whether the trace has been opened since the library was loaded.
bool g_traceOpenedOnce = false;

std::string TraceFileFromEnvironment() {
    const char* named = std::getenv(kTraceFileVariable);
    if (named == nullptr || *named == '\0' || std::strlen(named) > kMaxTraceFileName)
        return kTraceFile;
    return named;
}

const std::string& TraceFile() {
    static const std::string file = TraceFileFromEnvironment();
    return file;
}

void WriteHeader(std::FILE* file, TraceDirection direction, const os::ClockReading& t) {
    const char* format = direction == TraceDirection::kSend
                             ? "Send To POS   [%d-%d-%d  %d:%d:%d:%d]"
                             : "Receive From POS  [%d-%d-%d  %d:%d:%d:%d]";
    std::fprintf(file, format, t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds);
}

bool Hidden(const padlogic::ByteSpan& keys, int at) { return at >= keys.first && at < keys.last; }

// The frame as text up to its first zero byte, key material as '*'.
void WriteText(std::FILE* file, const char* bytes, int length, const padlogic::ByteSpan& keys) {
    const int textLength =
        length > 0 ? static_cast<int>(strnlen(bytes, static_cast<size_t>(length))) : 0;
    std::fputs("\nASC[", file);
    for (int i = 0; i < textLength; ++i) std::fputc(Hidden(keys, i) ? '*' : bytes[i], file);
    std::fputs("]\n", file);
}

// Every byte in hexadecimal, key material as "**".
void WriteBytes(std::FILE* file, const char* bytes, int length, const padlogic::ByteSpan& keys) {
    std::fputs("BCD[", file);
    for (int i = 0; i < length; ++i) {
        if (i > 0 && i % kBytesPerLine == 0) std::fputs("\r\n", file);
        if (Hidden(keys, i)) {
            std::fputs("** ", file);
        } else {
            std::fprintf(file, "%02X ", static_cast<unsigned char>(bytes[i]));
        }
    }
    std::fputs("]\n\n", file);
}

// Opens logbuf.txt for the next entry: afresh for the first one since the library was loaded.
// Where it is no regular file, the entry is left out.
std::FILE* OpenTrace() {
    std::FILE* file = os::OpenLogFile(TraceFile().c_str(), !g_traceOpenedOnce);
    if (file != nullptr) g_traceOpenedOnce = true;
    return file;
}

}  // namespace

void FrameTrace(TraceDirection direction, const char* bytes, int length, bool enabled) {
    // Checked first: the local time costs a time zone conversion on every frame.
    if (!enabled) return;
    os::ClockReading stamp = os::LocalClock();
    std::FILE* file = OpenTrace();
    if (file == nullptr) return;
    WriteHeader(file, direction, stamp);
    // Keys stay out of the trace: it is what a service engineer sends to a colleague.
    const padlogic::ByteSpan keys = direction == TraceDirection::kSend
                                        ? padlogic::KeyMaterialSpan(bytes, length, length)
                                        : padlogic::ByteSpan{};
    WriteText(file, bytes, length, keys);
    WriteBytes(file, bytes, length, keys);
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
    os::ClockReading now = os::UtcClock();
    // Year, month, day, hour and milliseconds, as the service tools expect them.
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d %02d:%02d:%2d", now.year, now.month, now.day,
                  now.hour, now.milliseconds);
    std::string path = TimeoutLogDirectory();
    if (path.empty()) return;
    if (path.back() != '/' && path.back() != '\\') path += '/';
    char name[32];
    std::snprintf(name, sizeof name, "debug%02d%02d.log", now.month, now.day);
    path += name;
    std::FILE* file = os::OpenLogFile(path.c_str(), false);
    if (file == nullptr) return;
    // Opened for appending: the position is the file's end, its size.
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    if (size >= 0 && size < kTimeoutLogLimit) {
        std::fprintf(file, "---%s---\n", stamp);
        std::fprintf(file, "Data=[%s]  Len=[%d]\n", message, length);
        if (std::ftell(file) >= kTimeoutLogLimit) {
            std::fprintf(file,
                         "---%s---\nThis log reached its limit of %ld bytes: no more "
                         "notes are written to it today.\n",
                         stamp, kTimeoutLogLimit);
        }
    }
    std::fclose(file);
}

}  // namespace lumenord
