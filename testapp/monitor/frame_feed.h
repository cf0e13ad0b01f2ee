// The bridge from the driver's frame monitor hook to the window: copies each reported frame on
// whatever thread makes the driver call and hands the copies to the window thread.
#pragma once

#include <pinpad.h>

#include <QObject>
#include <cstddef>
#include <deque>
#include <mutex>

#include "frame_log.h"

namespace monitor {

class FrameFeed : public QObject {
    Q_OBJECT
public:
    // Frames waiting for the window thread beyond this many are let go (and counted).
    static constexpr std::size_t kMaxPending = FrameLog::kCapacity;

    explicit FrameFeed(QObject* parent = nullptr) : QObject(parent) {}

    // The hook for Lumenord_SetFrameMonitor, with the feed as its context.
    static void PINPAD_CALL OnFrame(void* context, const Lumenord_Frame* frame);
    // The driver's Lumenord_LastFailure, asked while a reply that is not sound is reported (on
    // the thread of the call, whose reason it is); null: such replies name no reason. Set it
    // before the hook is installed.
    void SetLastFailureEntry(decltype(&::Lumenord_LastFailure) entry) { m_lastFailure = entry; }

    // The frames reported since the last call, oldest first, and how many were let go.
    std::deque<FrameRecord> TakePending(std::size_t* lost);

signals:
    // Frames wait to be taken; emitted once per batch, from the reporting thread.
    void framesPending();

private:
    void Receive(const Lumenord_Frame& frame);

    decltype(&::Lumenord_LastFailure) m_lastFailure = nullptr;
    std::mutex m_mutex;
    // A deque: the oldest goes at the cap without moving the rest.
    std::deque<FrameRecord> m_pending;
    std::size_t m_lost = 0;
};

}  // namespace monitor
