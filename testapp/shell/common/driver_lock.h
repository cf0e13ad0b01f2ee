// The lock that lets one thread at a time into the driver, with a bounded wait for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace shell {

// A timed lock made of a mutex and a condition variable on the steady clock. std::timed_mutex
// waits in pthread_mutex_clocklock, which ThreadSanitizer does not follow: its runs would see
// every unlock of the driver lock as the unlock of a lock nobody took, and miss the order the
// lock gives to the reader thread and the window thread.
class DriverLock {
public:
    // Takes the lock if it is free within `wait`; false when it is not.
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& wait) {
        std::unique_lock<std::mutex> guard(m_mutex);
        if (!m_freed.wait_for(guard, wait, [this] { return !m_held; })) return false;
        m_held = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_held = false;
        }
        m_freed.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    bool m_held = false;
};

}  // namespace shell
