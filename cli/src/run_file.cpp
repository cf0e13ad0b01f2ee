#include "run_file.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "hex_text.h"
#include "pad_input.h"
#include "step_commands.h"
#include "tool_help.h"

namespace cli {
namespace {

[[noreturn]] void RefuseFile(const std::string& message) {
    throw CLI::ValidationError("FILE", message);
}

[[noreturn]] void RefuseLine(const std::string& name, int line, const std::string& message) {
    throw CLI::ParseError(name + ":" + std::to_string(line) + ": " + message,
                          CLI::ExitCodes::ValidationError);
}

void StopIfInterrupted() {
    if (InterruptRequested()) throw RunFileInterrupted{InterruptSignal()};
}

// The run file's descriptor, closed when it was opened here.
class RunFileSource {
public:
    explicit RunFileSource(const std::string& name) {
        if (name == "-") {
            m_fd = STDIN_FILENO;
            return;
        }
        // Not blocking: opening a FIFO waits for no writer; the reads wait in poll().
        m_fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) RefuseFile("cannot read " + Quoted(name) + ": " + std::strerror(errno));
        m_owned = true;
    }
    ~RunFileSource() {
        if (m_owned) close(m_fd);
    }
    RunFileSource(const RunFileSource&) = delete;
    RunFileSource& operator=(const RunFileSource&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    bool m_owned = false;
};

// Waits until `fd` has bytes or an end to report, at most `limit`; an interrupt ends the wait at
// once.
void WaitReadable(int fd, const std::string& name, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        StopIfInterrupted();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            RefuseFile(
                Quoted(name) + " sent nothing for " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) +
                " s; a run file is read whole before its first step");
        pollfd fds[2] = {{fd, POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
        const int ready = poll(fds, InterruptFd() >= 0 ? 2 : 1, static_cast<int>(left.count()));
        StopIfInterrupted();
        if (ready > 0 && fds[0].revents != 0) return;
        if (ready < 0 && errno != EINTR)
            RefuseFile("cannot read " + Quoted(name) + ": " + std::strerror(errno));
    }
}

// Checks the bytes just read: no NUL, no line over its bound. `line` and `lineLength` carry
// the position on from one piece to the next.
void CheckPiece(std::string_view piece, const std::string& name, int& line,
                std::size_t& lineLength) {
    for (const char c : piece) {
        if (c == '\0')
            RefuseLine(name, line, "holds a NUL byte; a run file is text, one step a line");
        if (c == '\n') {
            ++line;
            lineLength = 0;
        } else if (c != '\r' && ++lineLength > kMaxRunFileLine) {
            RefuseLine(name, line,
                       "is longer than " + std::to_string(kMaxRunFileLine) +
                           " characters, the most a run-file line may have");
        }
    }
}

std::string TooLarge(const std::string& name) {
    return Quoted(name) + " is larger than " + std::to_string(kMaxRunFileBytes) +
           " bytes (1 MiB), the most a run file may hold";
}

// Whether a word of `line` before its comment opens a quote that the line does not close. The
// splitter below would take the rest of the line as the word and send it.
bool HasUnterminatedQuote(std::string_view line) {
    constexpr std::string_view kQuotes = "'\"`";
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    std::size_t at = line.find_first_not_of(kBlanks);
    while (at != std::string_view::npos) {
        const char first = line[at];
        if (first == '#') return false;
        std::size_t end;
        if (kQuotes.find(first) != std::string_view::npos) {
            end = line.find(first, at + 1);
            while (end != std::string_view::npos && line[end - 1] == '\\')
                end = line.find(first, end + 1);
            if (end == std::string_view::npos) return true;
            ++end;
        } else {
            end = line.find_first_of(kBlanks, at);
        }
        at = end == std::string_view::npos ? end : line.find_first_not_of(kBlanks, end);
    }
    return false;
}

std::vector<std::string> WordsOf(const std::string& line) {
    if (HasUnterminatedQuote(line))
        throw CLI::ParseError("a quote is not closed on this line",
                              CLI::ExitCodes::ValidationError);
    std::vector<std::string> words = CLI::detail::split_up(line);
    const auto comment = std::find_if(
        words.begin(), words.end(), [](const std::string& w) { return !w.empty() && w[0] == '#'; });
    words.erase(comment, words.end());
    return words;
}

Step ParseLine(std::vector<std::string> words) {
    CLI::App app{"run-file step", "step"};
    app.require_subcommand(1);
    StepSlot slot;
    AddStepCommands(app, slot);
    const std::vector<std::string> lineWords = words;
    std::reverse(words.begin(), words.end());  // the parser takes its words last first
    try {
        app.parse(words);
    } catch (const CLI::Success&) {
        // --help: a run file prints no help, and the parser's own text is not for the user.
        throw CLI::ParseError(HelpInRunFileMessage(lineWords), CLI::ExitCodes::ValidationError);
    } catch (const CLI::ParseError& error) {
        throw CLI::ParseError(DescribeParseError(app, error), error.get_exit_code());
    }
    return std::move(*slot);
}

}  // namespace

std::string ReadRunFile(const std::string& name, std::chrono::milliseconds idleLimit) {
    const RunFileSource source(name);
    struct stat status {};
    if (fstat(source.fd(), &status) != 0)
        RefuseFile("cannot read " + Quoted(name) + ": " + std::strerror(errno));
    if (S_ISDIR(status.st_mode)) RefuseFile(Quoted(name) + " is a directory, not a run file");
    if (S_ISREG(status.st_mode) && static_cast<std::size_t>(status.st_size) > kMaxRunFileBytes)
        RefuseFile(TooLarge(name));

    std::string text;
    int line = 1;
    std::size_t lineLength = 0;
    char buffer[64 * 1024];
    for (;;) {
        WaitReadable(source.fd(), name, idleLimit);
        // One byte past the bound is enough to know the file is over it.
        const std::size_t room = std::min(sizeof buffer, kMaxRunFileBytes + 1 - text.size());
        const ssize_t got = read(source.fd(), buffer, room);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            RefuseFile("cannot read " + Quoted(name) + ": " + std::strerror(errno));
        }
        if (got == 0) break;
        const std::string_view piece(buffer, static_cast<std::size_t>(got));
        CheckPiece(piece, name, line, lineLength);
        text.append(piece);
        if (text.size() > kMaxRunFileBytes) RefuseFile(TooLarge(name));
    }
    return text;
}

std::vector<PlannedStep> ParseRunFile(const std::string& text, const std::string& name) {
    std::vector<PlannedStep> steps;
    // A UTF-8 byte order mark that an editor put at the start is no part of the first step.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::istringstream in(text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size())
                                                           : text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        StopIfInterrupted();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> words;
        try {
            words = WordsOf(line);
            if (words.empty()) continue;
            steps.push_back({ParseLine(std::move(words)), number});
        } catch (const CLI::ParseError& error) {
            throw CLI::ParseError(name + ":" + std::to_string(number) + ": " + error.what(),
                                  error.get_exit_code());
        }
    }
    StopIfInterrupted();
    return steps;
}

}  // namespace cli
