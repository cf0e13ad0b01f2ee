// A scripted peer on the master side of a pseudo-terminal: the stand-in pad for the byte-exact
// tests. It reads what the driver wrote and answers with the bytes the test chose.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace lumenord::test {

// A reply frame with a correct length field and check: STX, len, status, data, ETX, check.
std::string ReplyFrame(char status, std::string_view data);
// The same with the length field given as it is to appear ("000", say).
std::string ReplyFrameWithLength(std::string_view lengthField, char status, std::string_view data);
// Bytes as "02 30 30 ..." for readable failure messages.
std::string Hex(std::string_view bytes);

class PtyPeer {
public:
    PtyPeer();  // throws std::runtime_error when no pty can be had
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }

    // Reads until `count` bytes have arrived or `timeoutMs` has passed.
    std::string Read(std::size_t count, int timeoutMs);
    // Reads one frame: through its ETX and the two check characters, or until the time-out.
    std::string ReadFrame(int timeoutMs);
    void Write(std::string_view bytes);
    // The pad vanishes: the master side is closed (a serving thread is stopped first).
    void CloseMaster();
    // The line settings as the driver left them.
    termios Settings() const;
    // Waits until at least `count` bytes wait in the driver's input queue; false on time-out.
    bool WaitQueuedForDriver(int count, int timeoutMs) const;

    // Answers requests on a thread of its own: for each entry, read one frame, then write the
    // entry `replyDelayMs` later (an empty entry answers nothing). Requests() joins and returns
    // what was read.
    void Serve(std::vector<std::string> replies, int frameTimeoutMs = 10000, int replyDelayMs = 0);
    std::vector<std::string> Requests();

private:
    int m_master = -1;
    int m_slaveKeepAlive = -1;  // keeps the line up while the driver closes and reopens it
    std::string m_slavePath;
    std::thread m_server;
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

// A fresh temporary directory that is the working directory while the object lives (the driver
// reads ./sysconfig.ini and writes ./logbuf.txt); removed with its content afterwards.
class TempWorkDir {
public:
    TempWorkDir();  // throws std::runtime_error when no directory can be made
    ~TempWorkDir();
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_previous;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadFileText(const std::string& path);

// Writes ./sysconfig.ini mapping COM`port` to `device`, with DEBUG and further lines as given.
void WriteSysconfig(int port, const std::string& device, const std::string& extraLines = "");

// Milliseconds since `start` on the steady clock.
inline long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace lumenord::test
