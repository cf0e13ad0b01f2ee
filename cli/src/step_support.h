// What the step commands share: argument checks that name the argument at fault, and the
// small helpers that turn driver replies into reply fields.
#pragma once

#include <CLI/CLI.hpp>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "step.h"
#include "verdicts.h"

namespace cli {

// Where a parsed subcommand leaves its step.
using StepSlot = std::optional<Step>;

// Hexadecimal text of one of the given lengths (any non-empty even length when none is given).
// A `secret` text (a key) is never repeated in the message.
CLI::Validator HexText(std::initializer_list<std::size_t> lengths = {}, bool secret = false);
// A key in clear: 16, 32 or 48 hexadecimal characters, never repeated in a message.
inline CLI::Validator KeyText() { return HexText({16, 32, 48}, true); }
// Adds the option or argument `name` that takes a key in clear (KeyText), given on the command
// line or read from @FILE or standard input (-) under the prompt `what`.
CLI::Option* AddKeyOption(CLI::App& command, const std::string& name, std::string& key,
                          const std::string& description, const std::string& what);
// Hexadecimal text, a whole number of 16-character blocks (at least one), at most `maxLength`
// characters.
CLI::Validator HexBlocks(std::size_t maxLength);
// Two hexadecimal digits from `low` to `high`.
CLI::Validator KeyIndex(int low, int high);
// Adds the required argument `name`: a key index (two hexadecimal digits) from `low` to `high`.
void AddIndexArgument(CLI::App& command, const std::string& name, std::string& index,
                      const std::string& description, int low, int high);
// Decimal digits, between `minLength` and `maxLength` of them.
CLI::Validator DecimalText(std::size_t minLength, std::size_t maxLength);
// Decimal digits only (no sign, no other base) for a number from `low` to `high`; checked before
// the text is converted, so that no conversion can overflow.
CLI::Validator WholeNumber(long long low, long long high);
// One of the given words.
CLI::Validator OneOf(const std::vector<std::string>& words, bool ignoreCase = false);

// The whole number of decimal text, when it is one from `low` to `high`.
std::optional<long long> ParseWholeNumber(const std::string& text, long long low, long long high);

// The parser's message, or for words that no step takes, a message that names them.
std::string DescribeParseError(const CLI::App& app, const CLI::ParseError& error);

// A usage error raised after parsing, naming the argument at fault.
[[noreturn]] void RefuseArgument(const std::string& argument, const std::string& message);

// Adds a subcommand whose options live in a `State`, which starts as `initial` and is kept alive
// by the subcommand's callback: `declare` adds the options, `build` makes the step once parsing
// has succeeded (or refuses an argument). Every step takes --expect FIELD=VALUE.
template <typename State>
CLI::App* AddStepCommand(CLI::App& parent, StepSlot& slot, const std::string& name,
                         const std::string& description, void (*declare)(CLI::App&, State&),
                         Step (*build)(const State&), std::type_identity_t<State> initial = {}) {
    auto state = std::make_shared<State>(std::move(initial));
    auto expects = std::make_shared<std::vector<std::string>>();
    CLI::App* command = parent.add_subcommand(name, description);
    declare(*command, *state);
    AddExpectOption(*command, *expects);
    command->callback([state, expects, build, &slot] {
        slot = build(*state);
        slot->expectations = ParseExpectations(slot->operation, *expects);
    });
    return command;
}

// The state of a step that takes no arguments.
struct NoArguments {};
inline void DeclareNoArguments(CLI::App&, NoArguments&) {}

// What a reply field holds when the pad sent the whole of it.
enum class FieldKind {
    Hex,       // hexadecimal characters
    HexBytes,  // hexadecimal characters, two a byte
    Digits,    // decimal digits
    Text,      // printable ASCII
};
struct FieldShape {
    FieldKind kind;
    std::size_t minLength;
    std::size_t maxLength = std::numeric_limits<std::size_t>::max();
};
inline FieldShape Exactly(FieldKind kind, std::size_t length) { return {kind, length, length}; }

// Records `value` as the reply field `name`. When the value lacks its shape the step fails:
// "reply too short: ..." with fewer characters than the shape takes, else "reply malformed:
// ...". The first failing field's message is kept. True when the field has its shape.
bool TakeReplyField(StepOutcome& outcome, const std::string& name, const std::string& value,
                    FieldShape shape);
// The same for a secret the pad sends: the field is masked (its value kept in the step's
// secrets), and a message about its shape names its length, never its characters.
bool TakeSecretReplyField(StepOutcome& outcome, const std::string& name, const std::string& value,
                          FieldShape shape);

}  // namespace cli
