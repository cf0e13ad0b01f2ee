// One request frame out, one reply frame back: framing, check characters, read time-out, reply
// cutting, and the status rule that turns a reply into a routine result.
#pragma once

#include <cstddef>

namespace lumenord {

class SerialChannel;

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
// Size of the request work area; a frame is payload + 8 bytes.
constexpr int kFrameWorkArea = 4096;
constexpr int kMaxPayload = kFrameWorkArea - 8;

// Builds the request frame for `command` and `payload[0..length)` into `frame` (at least
// length + 8 bytes). Returns the frame length.
int BuildFrame(char command, const char* payload, int length, char* frame);

// The read time-out in seconds that SendCommand uses for a payload of `length` bytes.
int ReadTimeoutFor(int length);

// Exchange results: -3 bad argument (also a payload over kMaxPayload), -4 no reply frame,
// 2 request not written, 3 empty read, otherwise the reply's length field as a number.
// `reply` is zero-filled first; on a result of 1 or more it holds the reply from its STX through
// the last data byte, cut to `replySize` - 1 bytes so that a zero byte always follows. A reply
// that stops before its status byte counts as no reply frame (-4).
int SendCommand(SerialChannel& channel, char command, const char* payload, int length, char* reply,
                std::size_t replySize);
int SendCommandTimed(SerialChannel& channel, char command, const char* payload, int length,
                     int timeoutSeconds, char* reply, std::size_t replySize);

// The status rule: exchange results of 0 or less, 2 and 3 are handed on unchanged; a status
// byte (reply[4]) equal to `successByte` gives 1; any other gives the status byte, 0 to 255.
int ParseStatus(int exchangeResult, const char* reply, char successByte);

}  // namespace lumenord
