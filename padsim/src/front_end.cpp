#include "front_end.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "file_io.h"

namespace padsim {
namespace {

int g_signalWrite = -1;

void OnSignal(int) {
    const char one = 1;
    if (write(g_signalWrite, &one, 1) < 0) {
        // The pipe is full: a wake-up is pending already.
    }
}

// Non-canonical, no echo; signals stay on so that Ctrl-C ends the program.
class RawTerminal {
public:
    RawTerminal() {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &m_saved) != 0) return;
        termios raw = m_saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        m_active = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~RawTerminal() {
        if (m_active) tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

private:
    termios m_saved{};
    bool m_active = false;
};

// A terminal byte as a pad key; 0 for bytes that are no key.
char PadKey(unsigned char c) {
    if (c >= '0' && c <= '9') return static_cast<char>(c);
    if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) return static_cast<char>(toupper(c));
    switch (c) {
        case '\r':
        case '\n':
            return kEnter;
        case 0x1B:
            return kEscape;
        case 0x7F:
        case 0x08:
            return kBackspace;
        case '.':
            return '.';
        default:
            return 0;
    }
}

double Milliseconds(std::chrono::nanoseconds time) { return time.count() / 1e6; }

nlohmann::json NanosecondsOf(const std::optional<std::chrono::steady_clock::time_point>& time) {
    if (!time) return nullptr;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time->time_since_epoch()).count();
}

// What a benchmark sets a run beside: the bytes each way and their time on the line, the pad's
// own time, and the times of the first byte in and the last byte out (CLOCK_MONOTONIC, ns).
std::string StatsJson(const LineStats& stats, const LineFormat& line, std::uint64_t requests) {
    nlohmann::json json;
    json["line"] = line.paced() ? nlohmann::json{{"baud", line.baud},
                                                 {"frame", line.frameName()},
                                                 {"bits_per_byte", line.bitsPerByte()}}
                                : nlohmann::json(nullptr);
    json["requests"] = requests;
    json["bytes_in"] = stats.bytesIn;
    json["bytes_out"] = stats.bytesOut;
    json["wire_ms"] = Milliseconds(line.WireTime(stats.bytesIn + stats.bytesOut));
    json["own_ms"] = Milliseconds(stats.processing + stats.keyWait);
    json["processing_ms"] = Milliseconds(stats.processing);
    json["key_wait_ms"] = Milliseconds(stats.keyWait);
    json["host_wait_ms"] = Milliseconds(stats.hostWait);
    json["first_in_ns"] = NanosecondsOf(stats.firstIn);
    json["last_out_ns"] = NanosecondsOf(stats.lastOut);
    return json.dump(2) + "\n";
}

// The statistics file may be replaced only where a regular file or nothing is.
bool StatsPathUsable(const std::string& path, std::string& error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISREG(st.st_mode)) return true;
    error = path + " is not a regular file";
    return false;
}

bool WriteStats(PtyPad& pad, const FrontEndOptions& options) {
    const std::uint64_t requests = pad.With([](PadSimulator& e) { return e.requestCount(); });
    const platform::WriteResult written = platform::ReplaceWholeFile(
        options.statsPath.c_str(), StatsJson(pad.Stats(), options.pad.line, requests));
    if (written.ok()) return true;
    std::fprintf(stderr, "padsim: %s could not be written: %s\n", options.statsPath.c_str(),
                 written.Reason().c_str());
    return false;
}

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) out += (c == '\n' || (c >= 0x20 && c < 0x7F)) ? char(c) : '.';
    return out;
}

bool MakeLink(const std::string& target, const std::string& link, std::string& error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a symbolic link";
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        error = "cannot link " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

struct Shown {
    Mode mode = Mode::Idle;
    std::string display;
    bool gone = false;
    bool first = true;
};

void ShowState(PtyPad& pad, Shown& shown) {
    Shown now = pad.With([](PadSimulator& engine) {
        Shown s;
        s.mode = engine.mode();
        s.display = engine.displayText();
        return s;
    });
    now.gone = pad.Disappeared();
    now.first = false;
    if (!shown.first && now.mode == shown.mode && now.display == shown.display &&
        now.gone == shown.gone)
        return;
    std::string display = Printable(now.display);
    for (std::size_t at = 0; (at = display.find('\n', at)) != std::string::npos; at += 3)
        display.replace(at, 1, " | ");
    std::printf("[pad] mode: %s   display: \"%s\"%s\r\n", ModeName(now.mode), display.c_str(),
                now.gone ? "   (line closed)" : "");
    std::fflush(stdout);
    shown = now;
}

}  // namespace

int RunFrontEnd(const FrontEndOptions& options) {
    int signalPipe[2], changePipe[2];
    if (pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0 ||
        pipe2(changePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::perror("padsim: pipe");
        return 1;
    }
    g_signalWrite = signalPipe[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    PadOptions padOptions = options.pad;
    const int changeWrite = changePipe[1];
    padOptions.onChange = [changeWrite] {
        const char one = 1;
        if (write(changeWrite, &one, 1) < 0) {
            // Full: the main loop has a wake-up pending already.
        }
    };
    std::string error;
    if (!options.statsPath.empty() && !StatsPathUsable(options.statsPath, error)) {
        std::fprintf(stderr, "padsim: %s\n", error.c_str());
        return 1;
    }
    std::optional<PtyPad> pad;
    try {
        pad.emplace(std::move(padOptions));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "padsim: %s\n", e.what());
        return 1;
    }
    if (options.noCard) pad->With([](PadSimulator& e) { e.SetCardInserted(false); });
    if (!MakeLink(pad->DevicePath(), options.link, error)) {
        std::fprintf(stderr, "padsim: %s\n", error.c_str());
        return 1;
    }
    const std::string linkPath = AbsolutePath(options.link);
    std::printf("padsim: pad on %s, linked at %s\n", pad->DevicePath().c_str(), linkPath.c_str());
    std::printf("sysconfig.ini:\n[PORTS]\nCOM1=%s\n", linkPath.c_str());
    std::printf(options.readInput
                    ? "keys: 0-9 A-F . Enter Escape Backspace; Ctrl-C or Ctrl-D ends\n"
                    : "running without input; SIGINT or SIGTERM ends\n");
    std::fflush(stdout);

    int status = 0;
    {
        RawTerminal terminal;
        Shown shown;
        ShowState(*pad, shown);
        bool running = true;
        while (running) {
            pollfd fds[3] = {
                {signalPipe[0], POLLIN, 0}, {changePipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
            const int ready = poll(fds, options.readInput ? 3 : 2, -1);
            if (ready < 0 && errno != EINTR) {
                status = 1;
                break;
            }
            char drain[256];
            if (fds[0].revents & POLLIN) running = false;
            if (fds[1].revents & POLLIN)
                while (read(changePipe[0], drain, sizeof drain) > 0) {
                }
            if (options.readInput && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = read(STDIN_FILENO, drain, sizeof drain);
                if (n <= 0) running = false;  // end of input
                std::string keys;
                for (ssize_t i = 0; i < n; ++i) {
                    if (drain[i] == 0x04) running = false;  // Ctrl-D in non-canonical mode
                    if (char k = PadKey(static_cast<unsigned char>(drain[i]))) keys += k;
                }
                if (!keys.empty()) pad->PressKeys(keys);
            }
            ShowState(*pad, shown);
        }
    }
    pad->Stop();
    if (!options.statsPath.empty() && !WriteStats(*pad, options)) status = 1;
    unlink(options.link.c_str());
    std::printf("padsim: stopped\n");
    std::fflush(stdout);
    for (int fd : {signalPipe[0], signalPipe[1], changePipe[0], changePipe[1]}) close(fd);
    return status;
}

}  // namespace padsim
