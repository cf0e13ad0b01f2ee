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
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

#include "file_io.h"

namespace padsim {
namespace {

const char kVersion[] = "padsim " LUMENORD_VERSION "\n";

const char kUsage[] =
    "usage: padsim [options]\n"
    "  --help, -h           print this text and exit\n"
    "  --version            print the version and exit\n"
    "  --link PATH          link the pad's pseudo-terminal at PATH (default ./ttyPAD)\n"
    "  --keys TEXT          keys pressed whenever an input mode opens; \\r Enter, \\e Escape,\n"
    "                       \\b Backspace, \\xHH any byte\n"
    "  --key-delay MS       pause before and between scripted keys (default 150)\n"
    "  --no-input           do not read the terminal (for runs in the background)\n"
    "  --seed N             seed for challenges and random fill\n"
    "  --no-card            socket 1 is empty\n"
    "  --line-rate BAUD     pace the line at BAUD bits per second (300-921600): replies leave\n"
    "                       and requests arrive no faster than a serial line carries them\n"
    "  --frame DPS          character format with --line-rate: data bits 7|8, parity N|E|O,\n"
    "                       stop bits 1|2 (default 8N1)\n"
    "  --stats FILE         at the end write the bytes each way, the pad's own time and the\n"
    "                       first and last byte's times to FILE (JSON; a regular file)\n"
    "unit (version fields of the information area, each filled whole):\n"
    "  --serial TEXT        serial number, 4 printable characters (default 0001)\n"
    "  --firmware TEXT      firmware version, 3 printable characters (default 110)\n"
    "  --date-code TEXT     date code, 4 printable characters (default 2612)\n"
    "faults:\n"
    "  --silent             answer nothing\n"
    "  --noise TEXT         send TEXT ahead of every reply\n"
    "  --cut N              send only the first N bytes of every reply\n"
    "  --wrong-check        every reply carries a wrong check\n"
    "  --oversize N         pad every reply's data to N bytes\n"
    "  --delay MS           hold every reply MS milliseconds\n"
    "  --delay C=MS         hold the replies to command byte C MS milliseconds (repeatable)\n"
    "  --force C=HH         answer command byte C with status HH (hex), e.g. --force 5=E5\n"
    "  --wrong-data C       the success reply to command byte C (1-9 : ; @ A) carries altered\n"
    "                       data in a sound frame: same length, correct check; repeatable\n"
    "  --low-battery        status 224 on the information read and on display\n"
    "  --disappear N[@R]    at request R (default the first) send N bytes of the reply and\n"
    "                       close the line\n";

// The command bytes the pad answers.
const char kCommandBytes[] = "123456789:;@A";

int g_signalWrite = -1;

void OnSignal(int) {
    const char one = 1;
    if (write(g_signalWrite, &one, 1) < 0) {
        // The pipe is full: a wake-up is pending already.
    }
}

long Number(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < 0 || v > INT_MAX)
        throw std::invalid_argument("not a number: " + text);
    return v;
}

// The value of a version field option, checked against the field's width in the information area.
std::string VersionField(const std::string& option, const std::string& value, std::size_t width) {
    const std::string problem = VersionFieldProblem(value, width);
    if (!problem.empty())
        throw std::invalid_argument(option + " wants " + std::to_string(width) +
                                    " printable characters; the value " + problem);
    return value;
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

// The line's rate and format from --line-rate and --frame.
LineFormat LineOf(const std::string& rate, const std::string& frame) {
    if (rate.empty()) {
        if (!frame.empty()) throw std::invalid_argument("--frame needs --line-rate");
        return {};
    }
    const long baud = Number(rate);
    if (baud < kMinLineRate || baud > kMaxLineRate)
        throw std::invalid_argument("--line-rate wants 300 to 921600 bits per second");
    std::optional<LineFormat> format = ParseFrame(frame.empty() ? "8N1" : frame);
    if (!format)
        throw std::invalid_argument(
            "--frame wants data bits 7|8, parity N|E|O, stop bits 1|2, "
            "e.g. 8N1");
    format->baud = static_cast<int>(baud);
    return *format;
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

std::string UnescapeKeys(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            out += kEnter;
            continue;
        }
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char e = text[++i];
        switch (e) {
            case 'r':
            case 'n':
                out += kEnter;
                break;
            case 'e':
                out += kEscape;
                break;
            case 'b':
                out += kBackspace;
                break;
            case 'x':
                if (i + 2 < text.size() + 0 && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                    isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                    out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    out += 'x';
                }
                break;
            default:
                out += e;
                break;
        }
    }
    return out;
}

bool IsInformation(const std::string& message) { return message == kUsage || message == kVersion; }

std::optional<FrontEndOptions> ParseOptions(const std::vector<std::string>& args,
                                            std::string& message) {
    FrontEndOptions o;
    Faults& f = o.pad.faults;
    std::string lineRate, frame;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            auto value = [&]() -> const std::string& {
                if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
                return args[++i];
            };
            if (a == "--help" || a == "-h") {
                message = kUsage;
                return std::nullopt;
            } else if (a == "--version") {
                message = kVersion;
                return std::nullopt;
            } else if (a == "--link") {
                o.link = value();
            } else if (a == "--keys") {
                o.pad.scriptedKeys = UnescapeKeys(value());
            } else if (a == "--key-delay") {
                o.pad.scriptedKeyDelay = std::chrono::milliseconds(Number(value()));
            } else if (a == "--no-input") {
                o.readInput = false;
            } else if (a == "--seed") {
                o.pad.seed = static_cast<std::uint32_t>(Number(value()));
            } else if (a == "--no-card") {
                o.noCard = true;
            } else if (a == "--line-rate") {
                lineRate = value();
            } else if (a == "--frame") {
                frame = value();
            } else if (a == "--stats") {
                o.statsPath = value();
                if (o.statsPath.empty()) throw std::invalid_argument("--stats needs a file name");
            } else if (a == "--silent") {
                f.silent = true;
            } else if (a == "--noise") {
                f.noise = UnescapeKeys(value());
            } else if (a == "--cut") {
                f.cutReplyAfter = static_cast<int>(Number(value()));
            } else if (a == "--wrong-check") {
                f.wrongCheck = true;
            } else if (a == "--oversize") {
                f.oversizeData = static_cast<std::size_t>(Number(value()));
            } else if (a == "--delay") {
                const std::string& v = value();
                if (v.size() > 2 && v[1] == '=') {
                    if (std::string_view(kCommandBytes).find(v[0]) == std::string_view::npos)
                        throw std::invalid_argument(
                            "--delay C=MS wants one command byte the pad answers: 1-9 : ; @ A");
                    f.commandDelay[v[0]] = std::chrono::milliseconds(Number(v.substr(2)));
                } else {
                    f.delay = std::chrono::milliseconds(Number(v));
                }
            } else if (a == "--force") {
                const std::string& v = value();
                if (v.size() != 4 || v[1] != '=' || !isxdigit(static_cast<unsigned char>(v[2])) ||
                    !isxdigit(static_cast<unsigned char>(v[3])))
                    throw std::invalid_argument("--force wants C=HH, e.g. 5=E5");
                f.forcedStatus[v[0]] =
                    static_cast<std::uint8_t>(std::stoi(v.substr(2), nullptr, 16));
            } else if (a == "--wrong-data") {
                const std::string& v = value();
                if (v.size() != 1 ||
                    std::string_view(kCommandBytes).find(v[0]) == std::string_view::npos)
                    throw std::invalid_argument(
                        "--wrong-data wants one command byte the pad answers: 1-9 : ; @ A");
                f.wrongData.insert(v[0]);
            } else if (a == "--serial") {
                o.pad.identity.serialNumber = VersionField(a, value(), UnitIdentity::kSerialWidth);
            } else if (a == "--firmware") {
                o.pad.identity.firmwareVersion =
                    VersionField(a, value(), UnitIdentity::kFirmwareWidth);
            } else if (a == "--date-code") {
                o.pad.identity.dateCode = VersionField(a, value(), UnitIdentity::kDateCodeWidth);
            } else if (a == "--low-battery") {
                f.lowBattery = true;
            } else if (a == "--disappear") {
                const std::string& v = value();
                const auto at = v.find('@');
                f.disappearAfter = static_cast<int>(Number(v.substr(0, at)));
                f.disappearAtRequest = at == std::string::npos
                                           ? 0
                                           : static_cast<std::uint64_t>(Number(v.substr(at + 1)));
            } else {
                throw std::invalid_argument("unknown option " + a);
            }
        }
        o.pad.line = LineOf(lineRate, frame);
    } catch (const std::exception& e) {
        message = std::string("padsim: ") + e.what() + "\n" + kUsage;
        return std::nullopt;
    }
    return o;
}

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
