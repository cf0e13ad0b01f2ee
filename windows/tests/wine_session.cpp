#include "wine_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace wine {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kPrefixSetupMs = 300000;  // a new prefix copies its system files once
constexpr int kToolMs = 120000;
constexpr int kBridgeExitMs = 10000;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts `argv` in `directory` with the prefix's environment; standard input and output as given
// (-1: /dev/null), standard error appended to `logFile`.
pid_t Spawn(std::vector<std::string> argv, const std::string& directory, int input, int output,
            const std::string& logFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    if (input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    std::vector<std::string> environment = Prefix::Instance().Environment();
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> env = Pointers(environment);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(error));
    return pid;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Architecture g_architecture;

}  // namespace

Architecture ArchitectureNamed(const std::string& name) {
    const std::string binaries = std::string(LUMENORD_WINDOWS_BUILD) + "/build-" + name + "/bin";
    if (name == "x64") return {name, "64-bit", LUMENORD_WINE64_LOADER, "win64", binaries};
    if (name == "x86") return {name, "32-bit", LUMENORD_WINE32_LOADER, "win32", binaries};
    throw std::invalid_argument("no architecture " + name + " (x86 or x64)");
}

void UseArchitecture(const Architecture& architecture) { g_architecture = architecture; }

const Architecture& CurrentArchitecture() { return g_architecture; }

std::string WhyCannotRun(const Architecture& architecture) {
    const std::string& loader = architecture.loader;
    if (access(loader.c_str(), X_OK) != 0) {
        return "wine's loader for " + architecture.bitness + " programs (" + loader +
               ") is not installed; scripts/setup wine installs it";
    }
    // The loader is itself a program of that bitness: a kernel without support for it refuses
    // to start it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> argv{loader, "--version"};
    std::vector<char*> args = Pointers(argv);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return "this machine cannot run " + architecture.bitness + " programs: starting " + loader +
               " fails with \"" + strerror(error) + "\"";
    }
    const int status = WaitForExit(pid, kToolMs);
    if (status != 0) {
        return "this machine cannot run " + architecture.bitness + " programs: " + loader +
               " --version ends with status " + std::to_string(status);
    }
    return "";
}

int WaitForExit(pid_t pid, int timeoutMs) {
    const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (handle >= 0) {
        pollfd p{handle, POLLIN, 0};
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (poll(&p, 1, RemainingMs(deadline)) < 0 && errno == EINTR) {
        }
        close(handle);
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

Prefix& Prefix::Instance() {
    static Prefix prefix;
    return prefix;
}

Prefix::Prefix()
    : m_path(std::string(LUMENORD_WINE_PREFIX_BASE) + "-" + CurrentArchitecture().name),
      m_com1Link(m_path + "/com1-device") {}

std::vector<std::string> Prefix::Environment() const {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        // No display: wine runs headless, whatever the desktop of the machine.
        if (name == "WINEPREFIX" || name == "WINEDEBUG" || name == "WINEDLLOVERRIDES" ||
            name == "WINEARCH" || name == "WINELOADER" || name == "DISPLAY" ||
            name == "WAYLAND_DISPLAY")
            continue;
        environment.push_back(entry);
    }
    environment.push_back("WINEPREFIX=" + m_path);
    environment.push_back("WINEARCH=" + CurrentArchitecture().wineArch);
    // The loader of this bitness, also for the processes that wine starts itself: Debian's
    // "wine" script would take the 32-bit one whenever it is installed, runnable or not.
    environment.push_back("WINELOADER=" + CurrentArchitecture().loader);
    environment.push_back("WINEDEBUG=-all");
    // No dialogs offering to install .NET or a browser engine into a new prefix.
    environment.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
    return environment;
}

void Prefix::Start() {
    const std::string parent = fs::path(m_path).parent_path().string();
    const std::string log = m_path + ".log";
    std::error_code ignored;
    fs::remove(log, ignored);  // the wine server's notes of the last run only
    if (!fs::exists(m_path + "/system.reg") &&
        RunToEnd({CurrentArchitecture().loader, "wineboot", "-i"}, parent, log, kPrefixSetupMs) !=
            0)
        throw std::runtime_error("wineboot failed; see " + log);
    // COM1 is the link that PointCom1At sets; wine's mount manager keeps dosdevices/com1 on it.
    if (ReadText(m_path + "/system.reg").find("\"COM1\"=\"" + m_com1Link + "\"") ==
            std::string::npos &&
        RunToEnd({CurrentArchitecture().loader, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v",
                  "COM1", "/t", "REG_SZ", "/d", m_com1Link, "/f"},
                 parent, log, kToolMs) != 0)
        throw std::runtime_error("cannot map COM1; see " + log);
    // A server that outlives each bridge, and the prefix's services started once, here, so
    // that none of them holds a bridge's pipes.
    RunToEnd({LUMENORD_WINESERVER, "-p60"}, parent, log, kToolMs);
    RunToEnd({CurrentArchitecture().loader, "cmd", "/c", "exit"}, parent, log, kToolMs);
}

void Prefix::Stop() {
    const std::string parent = fs::path(m_path).parent_path().string();
    RunToEnd({LUMENORD_WINESERVER, "-k"}, parent, m_path + ".log", kToolMs);
}

void Prefix::PointCom1At(const std::string& device) {
    std::error_code ignored;
    for (const std::string& link : {m_com1Link, m_path + "/dosdevices/com1"}) {
        fs::remove(link, ignored);
        fs::create_symlink(link == m_com1Link ? device : m_com1Link, link);
    }
}

int RunToEnd(const std::vector<std::string>& argv, const std::string& directory,
             const std::string& logFile, int timeoutMs) {
    return WaitForExit(Spawn(argv, directory, -1, -1, logFile), timeoutMs);
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::string& directory,
                   const std::string& logFile) {
    std::vector<std::string> command{CurrentArchitecture().loader};
    command.insert(command.end(), argv.begin(), argv.end());
    return Spawn(command, directory, -1, -1, logFile);
}

Bridge::Bridge(const std::string& directory, const std::vector<std::string>& argv)
    : m_logFile(directory + "/wine.log") {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    std::vector<std::string> command{CurrentArchitecture().loader};
    command.insert(command.end(), argv.begin(), argv.end());
    m_pid = Spawn(command, directory, in[0], out[1], m_logFile);
    close(in[0]);
    close(out[1]);
    m_toBridge = in[1];
    m_fromBridge = out[0];
}

Bridge::~Bridge() {
    static const char kExit[] = "exit\n";
    if (write(m_toBridge, kExit, sizeof kExit - 1) < 0) {
        // gone already; the wait below collects it
    }
    close(m_toBridge);
    WaitForExit(m_pid, kBridgeExitMs);
    close(m_fromBridge);
}

std::string Bridge::Request(const std::string& line, int timeoutMs) {
    const std::string request = line + "\n";
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = write(m_toBridge, request.data() + sent, request.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return "";
        sent += static_cast<std::size_t>(n);
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::string answer = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            if (!answer.empty() && answer.back() == '\r') answer.pop_back();
            return answer;
        }
        pollfd p{m_fromBridge, POLLIN, 0};
        const int ready = poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return "";
        char chunk[65536];
        const ssize_t n = read(m_fromBridge, chunk, sizeof chunk);
        if (n <= 0) return "";
        m_pending.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string Bridge::Log() const { return ReadText(m_logFile); }

}  // namespace wine
