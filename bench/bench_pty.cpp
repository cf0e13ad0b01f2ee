#include "bench_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace bench {
namespace {

void MakeRaw(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &t);
}

void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

// True once `frame` holds an ETX followed by its two check characters.
bool FrameComplete(const std::string& frame) {
    auto etx = frame.find('\x03');
    return etx != std::string::npos && frame.size() >= etx + 3;
}

}  // namespace

Responder::Responder() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("no pty name");
    m_slavePath = name;
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("no pipe");
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_thread = std::thread([this] { Serve(); });
}

Responder::~Responder() {
    m_stop = true;
    char b = 0;
    (void)!write(m_wake[1], &b, 1);
    m_thread.join();
    close(m_master);
    close(m_wake[0]);
    close(m_wake[1]);
}

void Responder::SetReply(std::string reply) {
    std::lock_guard lock(m_mutex);
    m_reply = std::move(reply);
}

std::uint64_t Responder::SendByte(char byte) {
    std::uint64_t at = NowNs();
    WriteAll(m_master, std::string_view(&byte, 1));
    return at;
}

void Responder::Serve() {
    std::string frame;
    while (!m_stop) {
        pollfd p[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(p, 2, 1000) <= 0) continue;
        if (p[1].revents) break;
        if (p[0].revents & POLLHUP) {
            // No slave open at the moment: wait for the next open without spinning.
            poll(p + 1, 1, 5);
            continue;
        }
        char buffer[4096];
        ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n <= 0) continue;
        frame.append(buffer, static_cast<std::size_t>(n));
        if (!FrameComplete(frame)) continue;
        frame.clear();
        std::string reply;
        {
            std::lock_guard lock(m_mutex);
            reply = m_reply;
        }
        WriteAll(m_master, reply);
    }
}

RawClient::RawClient(const std::string& path) {
    m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) throw std::runtime_error("cannot open " + path);
    MakeRaw(m_fd);
}

RawClient::~RawClient() { close(m_fd); }

std::size_t RawClient::RoundTrip(std::string_view request) {
    WriteAll(m_fd, request);
    std::string reply;
    std::uint64_t deadline = NowNs() + 1'000'000'000ull;
    while (!FrameComplete(reply)) {
        std::uint64_t now = NowNs();
        if (now >= deadline) return 0;
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>((deadline - now) / 1'000'000 + 1)) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n > 0) reply.append(buffer, static_cast<std::size_t>(n));
    }
    return reply.size();
}

}  // namespace bench
