// The tool's global options as the command line gave them, shared by the run of one pad and the
// run of several pads at once (pad_fleet.h), which passes them on to one process per pad.
#pragma once

#include <string>
#include <vector>

#include "key_store.h"
#include "pad_port.h"
#include "run_record.h"

namespace cli {

struct GlobalOptions {
    PortTarget target;
    std::vector<std::string> devices;  // --device, once per pad; one is target.devicePath
    bool json = false;
    std::string runFile;
    bool keepGoing = false;
    bool quiet = false;
    bool version = false;
    bool showSecrets = false;
    std::string keyStore = padlogic::kKeyStoreFile;
    bool noKeyStore = false;
    RecordOptions records;
    int summaryFd = -1;  // a pad's process of a run of several pads: where its summary goes
    // A forked pad's process: readable (its end closed) once every pad has started; the pad
    // opens its port, then waits for it, so that all pads send their first frame together.
    int startGateFd = -1;
};

}  // namespace cli
