// Records for service staff: the frame trace "logbuf.txt" (every frame sent and received, when
// the trace is switched on) and the dated time-out log. Writing them never changes a result, and
// neither waits for nor writes through what stands at a log's name when it is no plain file of
// its own (a FIFO, a device, a directory, a symbolic link, a file with other hard links): that
// log's entry is left out. Both are created readable by their owner only.
#pragma once

namespace lumenord {

enum class TraceDirection { kSend, kReceive };

// Appends one entry for `bytes[0..length)` to ./logbuf.txt (or the file that the environment
// variable LUMENORD_TRACE_FILE names when the first entry is written) when `enabled`; the first
// entry after the library was loaded starts the file afresh. The key material of a request (see
// frame_secrets.h) is written as '*' in the text and "**" in the bytes, whatever the settings.
void FrameTrace(TraceDirection direction, const char* bytes, int length, bool enabled);

// Appends `note` and an empty line to ./logbuf.txt when `enabled` (why a received frame was
// refused, say), right after the entry it speaks of.
void FrameTraceNote(const char* note, bool enabled);

// Appends the stamp and the message to debugMMDD.log (UTC date) in the time-out log directory,
// when that directory exists. A log that reached 1 MiB gets one note saying so and nothing more.
void TimeoutLog(const char* message, int length);

}  // namespace lumenord
