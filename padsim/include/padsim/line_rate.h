// A serial line's timing for a pseudo-terminal, which has none: a pty carries every byte at once,
// whatever rate and character format the driver set. The pad is told the line's rate and format
// and holds each byte back until a real line would have carried it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace padsim {

inline constexpr int kMinLineRate = 300;
inline constexpr int kMaxLineRate = 921600;

// Rate and character format of the line; a rate of 0 paces nothing.
struct LineFormat {
    int baud = 0;
    int dataBits = 8;   // 7 or 8
    char parity = 'N';  // 'N' none, 'E' even, 'O' odd
    int stopBits = 1;   // 1 or 2

    bool paced() const { return baud > 0; }
    // Start bit, data bits, parity bit and stop bits.
    int bitsPerByte() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
    // "8N1", "7E2", ...
    std::string frameName() const;
    // How long `bytes` bytes take on the line, rounded up to the nanosecond; zero when unpaced.
    std::chrono::nanoseconds WireTime(std::uint64_t bytes) const;
};

// "8N1"-style text: data bits 7 or 8, parity N, E or O (either case), stop bits 1 or 2. Returns
// the format with a rate of 0, or nothing when the text is none of these.
std::optional<LineFormat> ParseFrame(std::string_view text);

// Bytes in transit in one direction of the line. A byte pushed while the line is idle starts at
// once; otherwise it follows the byte ahead of it without a gap. A byte is through once its last
// bit would have been carried: only then may it be taken. Unpaced, every byte is through at once.
class WireQueue {
public:
    using Clock = std::chrono::steady_clock;

    explicit WireQueue(LineFormat format = {}) : m_format(format) {}

    void Push(std::string_view bytes, Clock::time_point now);
    // How many leading bytes are through by `now`.
    std::size_t Through(Clock::time_point now) const;
    // Copies of the first `count` bytes, without taking them.
    std::string Peek(std::size_t count) const;
    // Removes the first `count` bytes.
    void Take(std::size_t count);
    // When the next byte is through; nothing when the queue is empty.
    std::optional<Clock::time_point> NextThrough() const;
    // When the last pushed byte is (or was) through: the line is idle from then on.
    Clock::time_point IdleAt() const { return m_idleAt; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    void Clear();

private:
    struct Run {  // bytes that follow each other on the line without a gap
        Clock::time_point start;
        std::string bytes;
        std::size_t taken = 0;
    };
    Clock::time_point ThroughAt(const Run& run, std::size_t index) const;

    LineFormat m_format;
    std::deque<Run> m_runs;
    std::size_t m_size = 0;
    Clock::time_point m_idleAt{};
};

}  // namespace padsim
