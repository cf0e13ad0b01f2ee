#include "padsim/line_rate.h"

#include <algorithm>
#include <cctype>

namespace padsim {

std::string LineFormat::frameName() const {
    return std::to_string(dataBits) + parity + std::to_string(stopBits);
}

std::chrono::nanoseconds LineFormat::WireTime(std::uint64_t bytes) const {
    if (!paced()) return std::chrono::nanoseconds(0);
    // Rounded up, so that no byte is ever through earlier than the line allows.
    const std::uint64_t bits = bytes * static_cast<std::uint64_t>(bitsPerByte());
    const std::uint64_t rate = static_cast<std::uint64_t>(baud);
    return std::chrono::nanoseconds((bits * 1'000'000'000ull + rate - 1) / rate);
}

std::optional<LineFormat> ParseFrame(std::string_view text) {
    if (text.size() != 3) return std::nullopt;
    LineFormat format;
    format.dataBits = text[0] - '0';
    format.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    format.stopBits = text[2] - '0';
    if (format.dataBits != 7 && format.dataBits != 8) return std::nullopt;
    if (format.parity != 'N' && format.parity != 'E' && format.parity != 'O') return std::nullopt;
    if (format.stopBits != 1 && format.stopBits != 2) return std::nullopt;
    return format;
}

void WireQueue::Push(std::string_view bytes, Clock::time_point now) {
    if (bytes.empty()) return;
    const Clock::time_point start = std::max(now, m_idleAt);
    if (!m_runs.empty() && start == m_idleAt) {
        m_runs.back().bytes.append(bytes);
    } else {
        m_runs.push_back({start, std::string(bytes), 0});
    }
    m_size += bytes.size();
    const Run& last = m_runs.back();
    m_idleAt = last.start + m_format.WireTime(last.bytes.size());
}

WireQueue::Clock::time_point WireQueue::ThroughAt(const Run& run, std::size_t index) const {
    return run.start + m_format.WireTime(index + 1);
}

std::size_t WireQueue::Through(Clock::time_point now) const {
    std::size_t through = 0;
    for (const Run& run : m_runs) {
        const std::size_t left = run.bytes.size() - run.taken;
        if (ThroughAt(run, run.bytes.size() - 1) <= now) {
            through += left;
            continue;
        }
        // Part of this run is through: the bytes whose end lies at or before `now`. The elapsed
        // time is below the run's own length here, so the product cannot overflow.
        const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - run.start);
        if (elapsed.count() > 0) {
            const std::uint64_t done =
                static_cast<std::uint64_t>(elapsed.count()) *
                static_cast<std::uint64_t>(m_format.baud) /
                (static_cast<std::uint64_t>(m_format.bitsPerByte()) * 1'000'000'000ull);
            through += static_cast<std::size_t>(done) > run.taken
                           ? static_cast<std::size_t>(done) - run.taken
                           : 0;
        }
        break;
    }
    return through;
}

std::string WireQueue::Peek(std::size_t count) const {
    std::string out;
    for (const Run& run : m_runs) {
        if (out.size() >= count) break;
        out.append(run.bytes, run.taken, count - out.size());
    }
    return out;
}

void WireQueue::Take(std::size_t count) {
    count = std::min(count, m_size);
    m_size -= count;
    while (count > 0) {
        Run& run = m_runs.front();
        const std::size_t step = std::min(count, run.bytes.size() - run.taken);
        run.taken += step;
        count -= step;
        if (run.taken == run.bytes.size()) m_runs.pop_front();
    }
}

std::optional<WireQueue::Clock::time_point> WireQueue::NextThrough() const {
    if (m_runs.empty()) return std::nullopt;
    const Run& run = m_runs.front();
    return ThroughAt(run, run.taken);
}

void WireQueue::Clear() {
    m_runs.clear();
    m_size = 0;
}

}  // namespace padsim
