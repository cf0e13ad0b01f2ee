// Running the Windows build under wine for the checks: one wine prefix per bitness whose COM1 is
// a link that the tests point at a pty, and the console bridge (wine_bridge.exe) as a child
// process that takes one request line and gives one answer line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace wine {

// One bitness of the Windows build and the wine that runs it.
struct Architecture {
    std::string name;      // "x86" or "x64", as in build-windows/
    std::string bitness;   // "32-bit" or "64-bit"
    std::string loader;    // wine's loader for programs of this bitness
    std::string wineArch;  // WINEARCH of its prefix
    std::string binaries;  // the folder with Lumenord.dll and the test programs of this bitness
};

// The architecture named "x86" or "x64"; throws for any other name.
Architecture ArchitectureNamed(const std::string& name);
// Chooses the architecture that the prefix and the programs below use; call once, first.
void UseArchitecture(const Architecture& architecture);
const Architecture& CurrentArchitecture();

// Why programs of `architecture` cannot run on this machine (its wine loader is missing, or the
// kernel refuses to start it), or "" when they can.
std::string WhyCannotRun(const Architecture& architecture);

// The prefix of the current architecture, made on first use: COM1 reaches whatever PointCom1At
// names last; C:\ is drive_c.
class Prefix {
public:
    static Prefix& Instance();
    // Prepares the prefix and keeps its wine server running until Stop().
    void Start();
    void Stop();
    void PointCom1At(const std::string& device);
    std::string DriveC() const { return m_path + "/drive_c"; }
    const std::string& Path() const { return m_path; }
    // The environment of a wine process in this prefix.
    std::vector<std::string> Environment() const;

private:
    Prefix();
    std::string m_path;
    std::string m_com1Link;
};

// Runs `argv` with the prefix's environment in `directory`, output to `logFile`; waits at most
// `timeoutMs` and returns the exit status (-1 when it had to be killed).
int RunToEnd(const std::vector<std::string>& argv, const std::string& directory,
             const std::string& logFile, int timeoutMs);

// Starts the program `argv` (argv[0] a Windows program) under wine in `directory`; standard
// output and error go to `logFile`. Returns its process id, for WaitForExit.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& directory,
                   const std::string& logFile);
// Waits for `pid` to end within `timeoutMs`, killing it after that; its exit status or -1.
int WaitForExit(pid_t pid, int timeoutMs);

// The console bridge in `directory`, which holds wine_bridge.exe (and the DLL, or not); or
// another console program there that answers each request line with one line (`argv`, argv[0]
// a Windows program in `directory`).
class Bridge {
public:
    explicit Bridge(const std::string& directory,
                    const std::vector<std::string>& argv = {"wine_bridge.exe"});
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Sends one request line and returns the answer line; "" when none came within `timeoutMs`.
    std::string Request(const std::string& line, int timeoutMs = 20000);
    // What wine wrote to stderr so far, for failure messages.
    std::string Log() const;

private:
    pid_t m_pid = -1;
    int m_toBridge = -1;
    int m_fromBridge = -1;
    std::string m_pending;
    std::string m_logFile;
};

}  // namespace wine
