// The certify step: one command that runs a pad through the whole protocol and writes the
// certificate (certify/). Not a run-file step: it owns the pad for its whole run, writes its own
// report, and its exit code is the certificate's verdict.
#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <string>
#include <vector>

#include "tool_options.h"

namespace cli {

struct CertifyOptions {
    bool overwriteKeys = false;
    bool changeSettings = false;
    bool skipTyped = false;
    std::string reportDir;
    std::string pin = "1234";
    std::vector<int> sockets{1};
    std::string station;
    // Where the loaded test keys are recorded: only a key store named with --key-store, never
    // the default one.
    std::string keyStore;
};

CLI::App* AddCertifyCommand(CLI::App& app, CertifyOptions& options);

// Checks what the parser cannot (the keys may be overwritten) and takes the key store when one
// was named; throws CLI::ValidationError naming the option.
void CheckCertifyOptions(const CLI::App& app, const GlobalOptions& global, CertifyOptions& options);

// Runs the certification on the pad of `global`: 0 conforms, 1 does not conform (or the report
// could not be written), 128 + the signal when interrupted.
int RunCertify(const CertifyOptions& options, const GlobalOptions& global, std::ostream& out,
               std::ostream& err);

}  // namespace cli
