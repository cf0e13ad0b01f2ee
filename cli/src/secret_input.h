// Key material from where `ps` and the shell history do not see it: "@FILE" reads the value from
// a file, "-" from one line of standard input, typed without echo when that is a terminal.
// Any other text is the value itself, as before.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>

namespace cli {

// The most a key file may hold: a triple-length key with a check value, and room to spare.
inline constexpr std::size_t kMaxKeyFileBytes = 256;
// How long a prompt or a pipe may take to give a key.
inline constexpr int kSecretInputSeconds = 300;

// Replaces "@FILE" and "-" by the value they give, before the option's own checks. A file must
// be a regular file (a link to one is fine) of at most kMaxKeyFileBytes holding one value of
// hexadecimal text (':' allowed, for a check value after a part) and at most one line end. The
// value is never repeated in a message. `what` names the value in the prompt; for an option
// given several times (`numbered`), with its place among them ("key part 2 of 3").
CLI::Validator SecretSource(const std::string& what, const CLI::Option* numbered = nullptr);

// Standard input gives no key: "-" is refused with `why` (standard input holds the run file, or
// several pads run it).
void ReserveStandardInput(std::string why = "standard input holds the run file");

}  // namespace cli
