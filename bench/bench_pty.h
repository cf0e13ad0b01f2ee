// The in-process responder for the benchmarks: the master side of a pseudo-terminal that answers
// each request frame with one fixed reply, or stays silent, or sends single key bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "bench_table.h"

namespace bench {

class Responder {
public:
    Responder();
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }

    // Answer every complete request frame with `reply`; an empty reply keeps the pad silent.
    void SetReply(std::string reply);
    // Writes one byte now and returns the time it was written.
    std::uint64_t SendByte(char byte);

private:
    void Serve();

    int m_master = -1;
    int m_wake[2] = {-1, -1};
    std::string m_slavePath;
    std::mutex m_mutex;
    std::string m_reply;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A plain client on the slave side: writes a request and reads until ETX and two more bytes.
class RawClient {
public:
    explicit RawClient(const std::string& path);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    // Returns the reply's length in bytes, 0 when it did not complete within a second.
    std::size_t RoundTrip(std::string_view request);

private:
    int m_fd = -1;
};

}  // namespace bench
