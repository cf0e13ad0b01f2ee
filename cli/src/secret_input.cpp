#include "secret_input.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "hex_text.h"
#include "pad_input.h"
#include "run_file.h"

namespace cli {
namespace {

std::string g_standardInputReserved;  // why "-" gives no key; empty: it may

[[noreturn]] void Refuse(const std::string& message) { throw CLI::ValidationError(message); }

// Hexadecimal digits and ':' only: nothing of the value can reach a terminal as a control.
bool IsValueText(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF:") == std::string::npos;
}

// Takes one line end off the end of `text`.
void DropLineEnd(std::string& text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::string ReadKeyFile(const std::string& path) {
    const std::string name = Quoted(path);
    if (path.empty()) Refuse("'@' names no key file");
    // Not blocking: a FIFO at the path neither waits for a writer nor is read.
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) Refuse("cannot read key file " + name + ": " + std::strerror(errno));
    struct stat status {};
    if (fstat(file.get(), &status) != 0)
        Refuse("cannot read key file " + name + ": " + std::strerror(errno));
    if (!S_ISREG(status.st_mode)) Refuse("key file " + name + " is not a regular file");
    if (static_cast<std::size_t>(status.st_size) > kMaxKeyFileBytes)
        Refuse("key file " + name + " is larger than " + std::to_string(kMaxKeyFileBytes) +
               " bytes: it holds more than a key");
    // One byte past the bound tells a file that grew since fstat.
    char buffer[kMaxKeyFileBytes + 1];
    std::size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t got = read(file.get(), buffer + size, sizeof buffer - size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Refuse("cannot read key file " + name + ": " + std::strerror(errno));
        if (got == 0) break;
        size += static_cast<std::size_t>(got);
    }
    if (size > kMaxKeyFileBytes)
        Refuse("key file " + name + " is larger than " + std::to_string(kMaxKeyFileBytes) +
               " bytes: it holds more than a key");
    std::string text(buffer, size);
    std::memset(buffer, 0, sizeof buffer);
    DropLineEnd(text);
    if (!IsValueText(text))
        Refuse("key file " + name +
               " does not hold exactly one key in hexadecimal text and an optional line end");
    return text;
}

// Echo off on the terminal at `fd` for as long as it lives; restored however the read ends.
class EchoOff {
public:
    explicit EchoOff(int fd) : m_fd(fd) {
        if (tcgetattr(fd, &m_saved) != 0) return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
        m_active = tcsetattr(fd, TCSANOW, &quiet) == 0;
    }
    ~EchoOff() {
        if (m_active) tcsetattr(m_fd, TCSANOW, &m_saved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

void StopIfInterrupted() {
    if (InterruptRequested()) throw RunFileInterrupted{InterruptSignal()};
}

void WriteToTerminal(const std::string& text) {
    const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
    static_cast<void>(written);
}

// One line of standard input, read a byte at a time so that the next line stays for the next
// value; an interrupt or the deadline ends the wait.
std::string ReadStandardInputLine() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kSecretInputSeconds);
    std::string line;
    for (;;) {
        StopIfInterrupted();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            Refuse("standard input gave no key within " + std::to_string(kSecretInputSeconds) +
                   " s");
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
        const int ready = poll(fds, InterruptFd() >= 0 ? 2 : 1, static_cast<int>(left.count()));
        StopIfInterrupted();
        if (ready <= 0 || fds[0].revents == 0) continue;
        char byte = 0;
        const ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) Refuse(std::string("cannot read standard input: ") + std::strerror(errno));
        if (got == 0) {
            if (line.empty()) Refuse("standard input ended before the key");
            return line;
        }
        if (byte == '\n') return line;
        if (line.size() >= kMaxKeyFileBytes)
            Refuse("the line of standard input is longer than " + std::to_string(kMaxKeyFileBytes) +
                   " characters: it holds more than a key");
        line += byte;
    }
}

std::string ReadStandardInput(const std::string& what) {
    if (!g_standardInputReserved.empty())
        Refuse(g_standardInputReserved + ": give the key with @FILE");
    std::string line;
    if (isatty(STDIN_FILENO)) {
        {
            // Echo goes off before the prompt shows: nothing typed after it is echoed.
            const EchoOff quiet(STDIN_FILENO);
            WriteToTerminal("lumenord: " + what + " (not shown): ");
            try {
                line = ReadStandardInputLine();
            } catch (...) {
                WriteToTerminal("\n");
                throw;
            }
        }
        WriteToTerminal("\n");
    } else {
        line = ReadStandardInputLine();
    }
    DropLineEnd(line);
    if (!IsValueText(line))
        Refuse("standard input does not give one key in hexadecimal text on its line");
    return line;
}

}  // namespace

CLI::Validator SecretSource(const std::string& what, const CLI::Option* numbered) {
    // The values of one option are transformed in order, once per parse: counting the calls
    // numbers them.
    auto seen = std::make_shared<std::size_t>(0);
    return CLI::Validator(
        [what, numbered, seen](std::string& value) -> std::string {
            const std::size_t number = ++*seen;
            if (value == "-") {
                value = ReadStandardInput(numbered == nullptr
                                              ? what
                                              : what + " " + std::to_string(number) + " of " +
                                                    std::to_string(numbered->count()));
            } else if (!value.empty() && value.front() == '@') {
                value = ReadKeyFile(value.substr(1));
            }
            return {};
        },
        "");
}

void ReserveStandardInput(std::string why) { g_standardInputReserved = std::move(why); }

}  // namespace cli
