// Certifies a pad: runs it through every command the driver sends, checks each answer on the
// host (status, values computed here from test keys, time against the command's time-out) and
// gives the certificate. The command-line tool and the test program both run this, through the
// driver's C interface as an entry table.
#pragma once

#include <pinpad.h>

#include <functional>
#include <string>
#include <vector>

#include "certificate.h"
#include "entry_table.h"

namespace certify {

struct Settings {
    bool changeSettings = false;  // also what cannot be read back or undone on the pad
    bool skipTyped = false;       // leave out the keys typed on the pad (codes 41-43)
    std::string pin = "1234";     // the PIN typed for each PIN format
    std::vector<int> sockets{1};  // card sockets 1-8
    int baud = 9600;
    std::string device;
    std::string unitLabel;
    std::string station;
    std::string operatorName;
    std::string toolVersion;
};

// The one who runs the certification: sees progress, is told what to type on the pad, and may
// stop it.
class Operator {
public:
    virtual ~Operator() = default;
    // `done` of `total` stages are behind; `stage` is the one starting now.
    virtual void Progress(int done, int total, const std::string& stage) = 0;
    // What to type on the pad now, e.g. "type the PIN 1234 on the pad".
    virtual void Prompt(const std::string& text) = 0;
    // A result just judged.
    virtual void Checked(const CheckResult& check) = 0;
    // The certification is to stop: the driver's waits were cancelled for it.
    virtual bool Interrupted() = 0;
    // Called once after an interruption: runs `work` (closing the pad's input, putting back what
    // the certification changed) with the driver's waits allowed again for a short while.
    virtual void AfterInterrupt(const std::function<void()>& work) = 0;
};

// How the port is opened: `open` once at the start, `reopen` after the pad's line speed changed.
// Each returns the driver's result (0 opened).
struct Line {
    std::function<int()> open;
    std::function<int(int baud)> reopen;
    // Why the port did not open, for a result of `open` (optional).
    std::function<std::string(int result)> describeOpenFailure;
};

using LastFailureFunction = decltype(&::Lumenord_LastFailure);

// Runs every check in order and returns the certificate; nothing is thrown for what the pad
// does. `lastFailure` may be null (a driver that does not tell why a call failed).
Certificate Certify(const shell::DriverEntries& driver, LastFailureFunction lastFailure,
                    const Line& line, const Settings& settings, Operator& person);

// The time-out in milliseconds of a command whose payload is `payloadLength` bytes: 4 s up to
// 66 bytes, 2 s more for every further 64.
long long CommandTimeoutMs(std::size_t payloadLength);

}  // namespace certify
