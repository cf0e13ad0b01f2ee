// A program run as a child process with its standard output and error collected, every wait
// bounded by a deadline; killed when the object goes while it still runs. The tests of padsim's
// front end and of the command-line tool drive their programs through it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace padsim::test {

struct ChildOptions {
    std::string workDir;       // "" = the test's own folder
    bool pipeInput = false;    // standard input a pipe the test writes (Write), else /dev/null
    bool mergeErrors = false;  // standard error into standard output
};

class ChildProcess {
public:
    // Starts `argv[0]` with the arguments.
    ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Collects output until standard output holds `text`; false when the time-out passes first
    // or the program closes its output.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // Collects the output until the program exits; its exit status, or -1 after the time-out.
    int WaitForExit(std::chrono::milliseconds timeout);
    void Signal(int signal);
    // Writes to the program's standard input (a pipe); false when not all of it went.
    bool Write(const std::string& text);
    // How many bytes written to standard input the program has not read yet.
    std::size_t UnreadInput() const;
    void CloseInput();

    const std::string& out() const { return m_out; }
    const std::string& err() const { return m_err; }

private:
    // Reads what is there, waiting at most until `deadline`; false once both pipes are closed.
    bool Collect(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_inPipe = -1;
    int m_outPipe = -1;
    int m_errPipe = -1;
    bool m_exited = false;
    std::string m_out;
    std::string m_err;
};

// Runs a program to its end (at most `timeout`).
struct Finished {
    int status;
    std::string out;
    std::string err;
};
Finished RunToEnd(const std::vector<std::string>& argv, const std::string& workDir,
                  std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace padsim::test
