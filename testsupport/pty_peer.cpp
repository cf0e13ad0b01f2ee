#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "reference_crypto.h"

namespace lumenord::test {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

// A reply has the layout of a request, its status byte where the request has its command.
std::string ReplyFrameWithLength(std::string_view lengthField, char status, std::string_view data) {
    return padsim::test::RequestFrameWithLength(lengthField, status, data);
}

std::string ReplyFrame(char status, std::string_view data) {
    return padsim::test::RequestFrame(status, data);
}

std::string Hex(std::string_view bytes) { return padsim::test::Hex(bytes, " "); }

PtyPeer::PtyPeer() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
    m_slavePath = name;
    m_slaveKeepAlive = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveKeepAlive < 0) throw std::runtime_error("cannot open the pty's slave side");
    termios raw{};
    tcgetattr(m_slaveKeepAlive, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slaveKeepAlive, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() {
    if (m_server.joinable()) m_server.join();
    if (m_master >= 0) close(m_master);
    if (m_slaveKeepAlive >= 0) close(m_slaveKeepAlive);
}

std::string PtyPeer::Read(std::size_t count, int timeoutMs) {
    std::string got;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && m_master >= 0) {
        pollfd p{m_master, POLLIN, 0};
        int ready = poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[4096];
        std::size_t want = std::min(sizeof buffer, count - got.size());
        ssize_t n = read(m_master, buffer, want);
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            break;  // EIO: no slave open at the moment
        }
    }
    return got;
}

std::string PtyPeer::ReadFrame(int timeoutMs) {
    std::string got;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t etx = std::string::npos;
    while (etx == std::string::npos || got.size() < etx + 3) {
        std::string byte = Read(1, RemainingMs(deadline));
        if (byte.empty()) break;
        got += byte;
        if (etx == std::string::npos && byte[0] == '\x03') etx = got.size() - 1;
    }
    return got;
}

void PtyPeer::Write(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && m_master >= 0) {
        ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{m_master, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            break;
        }
    }
}

void PtyPeer::CloseMaster() {
    if (m_server.joinable()) m_server.join();
    if (m_master >= 0) close(m_master);
    m_master = -1;
    if (m_slaveKeepAlive >= 0) close(m_slaveKeepAlive);
    m_slaveKeepAlive = -1;
}

termios PtyPeer::Settings() const {
    termios t{};
    tcgetattr(m_slaveKeepAlive >= 0 ? m_slaveKeepAlive : m_master, &t);
    return t;
}

bool PtyPeer::WaitQueuedForDriver(int count, int timeoutMs) const {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int queued = 0;
        // The keep-alive descriptor is the driver's tty, so it sees the driver's input queue.
        if (ioctl(m_slaveKeepAlive, FIONREAD, &queued) == 0 && queued >= count) return true;
        if (Clock::now() >= deadline) return false;
        poll(nullptr, 0, 1);
    }
}

void PtyPeer::Serve(std::vector<std::string> replies, int frameTimeoutMs, int replyDelayMs) {
    if (m_server.joinable()) m_server.join();
    m_requests.clear();
    m_server = std::thread([this, replies = std::move(replies), frameTimeoutMs, replyDelayMs] {
        for (const std::string& reply : replies) {
            std::string request = ReadFrame(frameTimeoutMs);
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            if (request.empty()) return;
            if (replyDelayMs > 0) poll(nullptr, 0, replyDelayMs);  // a slow pad, on purpose
            if (!reply.empty()) Write(reply);
        }
    });
}

std::vector<std::string> PtyPeer::Requests() {
    if (m_server.joinable()) m_server.join();
    std::lock_guard lock(m_mutex);
    return m_requests;
}

TempWorkDir::TempWorkDir() {
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr) throw std::runtime_error("no working dir");
    m_previous = previous;
    std::string pattern = (std::filesystem::temp_directory_path() / "lumenord-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary directory");
    m_path = pattern;
    if (chdir(m_path.c_str()) != 0) throw std::runtime_error("cannot enter " + m_path);
}

TempWorkDir::~TempWorkDir() {
    if (chdir(m_previous.c_str()) != 0) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ReadFileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteSysconfig(int port, const std::string& device, const std::string& extraLines) {
    std::ofstream ini("sysconfig.ini");
    ini << "[SYSTEM]\n" << extraLines << "[PORTS]\nCOM" << port << "=" << device << "\n";
}

}  // namespace lumenord::test
