// One request frame out, one reply frame back: framing, check characters, read time-out, where a
// reply ends, how it is judged and cut, and the status rule that turns it into a result.
#pragma once

#include <cstddef>

#include "pinpad.h"

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

// Where the first reply frame among `bytes` ends (after its second check character), or 0 while
// more must come. The length field places the ETX; a "000" field, or one that does not place
// an ETX, leaves it to the first ETX after the status byte.
int ReplyFrameEnd(const char* bytes, int count);

// What one exchange gave: a sound reply frame, or the failure that kept it from coming.
struct ExchangeResult {
    // PINPAD_OK when a sound reply came back; otherwise the result code of the failure:
    // PINPAD_ERR_ARGUMENT (also a payload over kMaxPayload), PINPAD_ERR_NO_REPLY,
    // PINPAD_ERR_NOT_WRITTEN or PINPAD_ERR_EMPTY_READ. Its reason is noted (NoteFailure) before
    // the frame monitor hears of the reply.
    int failure = PINPAD_OK;
    unsigned char status = 0;  // the reply's status byte
    int dataLength = 0;        // its data bytes, also those that the destination could not hold
};

// Sends the request and judges the reply. A reply is sound when its length field is three
// digits that place the ETX (or "000": data up to the first ETX), two check characters follow
// the ETX and, unless the channel's check verification is off, they are the XOR of the bytes
// from the length field through the ETX in hexadecimal (either case). Line noise before the STX
// is skipped. `reply` is zero-filled first; on success it holds the reply from its STX through
// the last data byte, cut to `replySize` - 1 bytes so that a zero byte always follows.
ExchangeResult SendCommand(SerialChannel& channel, char command, const char* payload, int length,
                           char* reply, std::size_t replySize);
// The same with the caller's read time-out in seconds instead of the computed one.
ExchangeResult SendCommandTimed(SerialChannel& channel, char command, const char* payload,
                                int length, int timeoutSeconds, char* reply, std::size_t replySize);

// The status rule: PINPAD_OK when the reply's status byte is `successByte`; otherwise the result
// for the caller: the exchange's failure code, or the status byte as 1 to 255. A status byte 0,
// which would read as success, is no sound reply (PINPAD_ERR_NO_REPLY, a malformed reply).
int ParseStatus(const ExchangeResult& exchange, char successByte);

}  // namespace lumenord
