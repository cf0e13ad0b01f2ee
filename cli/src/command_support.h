// What the step commands share: argument checks that name the argument at fault, and the
// small helpers that turn driver replies into reply fields.
#pragma once

#include <CLI/CLI.hpp>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "step.h"

namespace cli {

// Where a parsed subcommand leaves its step.
using StepSlot = std::optional<Step>;

// Hexadecimal text of one of the given lengths (any non-empty even length when none is given).
CLI::Validator HexText(std::initializer_list<std::size_t> lengths = {});
// Hexadecimal text, a whole number of 16-character blocks, at most `maxLength` characters
// (`allowEmpty`: the empty text passes too).
CLI::Validator HexBlocks(std::size_t maxLength, bool allowEmpty = false);
// Two hexadecimal digits from `low` to `high`.
CLI::Validator KeyIndex(int low, int high);
// Decimal digits, between `minLength` and `maxLength` of them.
CLI::Validator DecimalText(std::size_t minLength, std::size_t maxLength);

// The parser's message, or for words that no step takes, a message that names them.
std::string DescribeParseError(const CLI::App& app, const CLI::ParseError& error);

// A usage error raised after parsing, naming the argument at fault.
[[noreturn]] void RefuseArgument(const std::string& argument, const std::string& message);

// Adds a subcommand whose options live in a `State` kept alive by the subcommand's callback;
// `build(state)` makes the step once parsing has succeeded.
template <typename State, typename Declare, typename Build>
CLI::App* AddStepCommand(CLI::App& parent, StepSlot& slot, const std::string& name,
                         const std::string& description, Declare declare, Build build) {
    auto state = std::make_shared<State>();
    CLI::App* command = parent.add_subcommand(name, description);
    declare(*command, *state);
    command->callback([state, build, &slot] { slot = build(*state); });
    return command;
}

}  // namespace cli
