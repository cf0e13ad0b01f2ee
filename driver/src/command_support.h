// What the key, PIN, MAC, data, card and display exports share: the request buffer that each
// copies its payload into, the check that a reply's data reached the export whole, and bounded
// copies of reply data out of the cut reply.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "driver_context.h"
#include "frame_exchange.h"
#include "pinpad.h"
#include "trace.h"

namespace lumenord {

// Index of the first data byte in a cut reply: STX, three length digits, status byte.
constexpr std::size_t kReplyData = 5;

// The exports' reply buffers: the reply's head, its data and a terminating zero. An export that
// hands on the reply's data as long as they come reads into a buffer no larger than the output
// it fills, so that data that fit the one fit the other.
constexpr std::size_t kSmallReplyBuffer = 256;
constexpr std::size_t kPinReplyBuffer = 128;
constexpr std::size_t kCardReplyBuffer = PINPAD_CARD_REPLY_SIZE;
constexpr std::size_t kLargeReplyBuffer = PINPAD_DATA_REPLY_SIZE;
static_assert(kSmallReplyBuffer <= PINPAD_CUST_INFO_SIZE);
static_assert(kPinReplyBuffer <= PINPAD_PIN_VALUE_SIZE);
// The longest request that a frame carries is the longest that an export takes.
static_assert(kMaxPayload == PINPAD_DATA_REQUEST_MAX);

// A request payload in the export's own buffer; appends that would not fit are refused whole.
template <std::size_t Size>
class RequestBuffer {
public:
    bool Append(const void* bytes, std::size_t count) {
        if (count > Size - m_length) return false;
        if (count > 0) std::memcpy(m_bytes + m_length, bytes, count);
        m_length += count;
        return true;
    }
    const char* Bytes() const { return m_bytes; }
    int Length() const { return static_cast<int>(m_length); }

private:
    char m_bytes[Size];
    std::size_t m_length = 0;
};

// Reply data bytes that a reply buffer of `replySize` bytes can hold after the reply's head
// (its last byte is always the terminating zero).
constexpr std::size_t ReplyDataCapacity(std::size_t replySize) {
    return replySize - 1 - kReplyData;
}

// Whether the reply buffer of `replySize` bytes holds every data byte of the reply. An export
// that hands on the reply's data as long as they come refuses a reply that it would have to cut
// (PINPAD_ERR_NO_REPLY: a cut answer must never pass for the whole one); the frame trace then says
// why, right after the received frame, and the reason is noted.
inline bool ReplyDataWhole(const ExchangeResult& exchange, std::size_t replySize) {
    const std::size_t capacity = ReplyDataCapacity(replySize);
    const auto dataLength = static_cast<std::size_t>(exchange.dataLength);
    if (dataLength <= capacity) return true;
    NoteFailure(LUMENORD_FAILURE_REPLY_TOO_LONG);
    char note[96];
    std::snprintf(note, sizeof note, "Reply refused: %zu data bytes, more than the %zu it can take",
                  dataLength, capacity);
    FrameTraceNote(note, Context().channel.TraceEnabled());
    return false;
}

// Copies at most `count` reply data bytes from data offset `skip` into `output` and terminates
// them; never reads past the reply buffer. Returns the number of bytes copied.
inline std::size_t CopyReplyData(const char* reply, std::size_t replySize, std::size_t skip,
                                 std::size_t count, char* output) {
    const std::size_t capacity = ReplyDataCapacity(replySize);
    const std::size_t n = skip >= capacity ? 0 : std::min(count, capacity - skip);
    std::memcpy(output, reply + kReplyData + skip, n);
    output[n] = '\0';
    return n;
}

// Sends one request with the computed read time-out; `reply` receives the cut reply.
template <std::size_t ReplySize>
ExchangeResult Transact(char command, const char* payload, int length, char (&reply)[ReplySize]) {
    return SendCommand(Context().channel, command, payload, length, reply, ReplySize);
}

}  // namespace lumenord
