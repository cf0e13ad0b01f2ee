#include "frame_feed.h"

#include <algorithm>
#include <utility>

namespace monitor {

void PINPAD_CALL FrameFeed::OnFrame(void* context, const Lumenord_Frame* frame) {
    if (context == nullptr || frame == nullptr) return;
    static_cast<FrameFeed*>(context)->Receive(*frame);
}

void FrameFeed::Receive(const Lumenord_Frame& frame) {
    FrameRecord record;
    record.time = QDateTime::fromMSecsSinceEpoch(frame.timeMicroseconds / 1000);
    record.direction =
        frame.direction == LUMENORD_FRAME_RECEIVED ? Direction::kReceived : Direction::kSent;
    record.length = std::max(frame.length, 0);
    if (frame.bytes != nullptr) {
        record.bytes = QByteArray(reinterpret_cast<const char*>(frame.bytes),
                                  std::min(record.length, kMaxKeptBytes));
    } else {
        record.length = 0;
    }
    record.status = frame.status;
    record.roundTripMicroseconds = frame.roundTripMicroseconds;
    if (record.direction == Direction::kReceived && record.status < 0 && m_lastFailure != nullptr)
        record.failure = m_lastFailure();
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        first = m_pending.empty();
        if (m_pending.size() >= kMaxPending) {
            m_pending.pop_front();
            ++m_lost;
        }
        m_pending.push_back(std::move(record));
    }
    if (first) emit framesPending();
}

std::deque<FrameRecord> FrameFeed::TakePending(std::size_t* lost) {
    std::lock_guard<std::mutex> lock(m_mutex);
    *lost = std::exchange(m_lost, 0);
    return std::exchange(m_pending, {});
}

}  // namespace monitor
