#include "step_support.h"

#include <charconv>
#include <cstdio>

#include "hex_text.h"
#include "key_parts.h"
#include "secret_input.h"
#include "secrets.h"

namespace cli {
namespace {

std::string CountText(std::size_t minLength, std::size_t maxLength) {
    if (minLength == maxLength) return std::to_string(minLength);
    if (maxLength == std::numeric_limits<std::size_t>::max())
        return "at least " + std::to_string(minLength);
    return std::to_string(minLength) + " to " + std::to_string(maxLength);
}

std::string DescribeShape(const FieldShape& shape) {
    static const char* const kKinds[] = {"hex characters", "hex characters in whole bytes",
                                         "decimal digits", "printable characters"};
    return CountText(shape.minLength, shape.maxLength) + " " + kKinds[static_cast<int>(shape.kind)];
}

bool HasKind(const std::string& value, FieldKind kind) {
    switch (kind) {
        case FieldKind::Hex:
            return IsHexText(value);
        case FieldKind::HexBytes:
            return IsHexText(value) && value.size() % 2 == 0;
        case FieldKind::Digits:
            return IsDecimalText(value);
        case FieldKind::Text:
            return IsPrintable(value);
    }
    return false;
}

}  // namespace

CLI::Validator HexText(std::initializer_list<std::size_t> lengths, bool secret) {
    std::vector<std::size_t> allowed(lengths);
    return CLI::Validator(
        [allowed, secret](std::string& value) -> std::string {
            if (!IsHexText(value))
                return secret ? "is not hexadecimal text"
                              : Quoted(value) + " is not hexadecimal text";
            if (allowed.empty()) {
                if (value.empty() || value.size() % 2 != 0)
                    return "needs a non-empty, even number of hexadecimal characters";
                return {};
            }
            std::string sizes;
            for (std::size_t n : allowed) {
                if (value.size() == n) return {};
                sizes += (sizes.empty() ? "" : " or ") + std::to_string(n);
            }
            return "needs " + sizes + " hexadecimal characters, not " +
                   std::to_string(value.size());
        },
        "HEX");
}

CLI::Validator HexBlocks(std::size_t maxLength) {
    return CLI::Validator(
        [maxLength](std::string& value) -> std::string {
            if (!IsHexText(value)) return Quoted(value) + " is not hexadecimal text";
            if (value.empty()) return "must not be empty";
            if (value.size() % 16 != 0)
                return "needs whole blocks of 16 hexadecimal characters, not " +
                       std::to_string(value.size());
            if (value.size() > maxLength)
                return "takes at most " + std::to_string(maxLength) + " characters";
            return {};
        },
        "HEX");
}

CLI::Validator KeyIndex(int low, int high) {
    char range[16];
    std::snprintf(range, sizeof range, "%02X-%02X", low, high);
    const std::string rangeText = range;
    return CLI::Validator(
        [low, high, rangeText](std::string& value) -> std::string {
            const bool twoDigits = value.size() == 2 && IsHexText(value);
            const int index = twoDigits ? static_cast<int>(padlogic::HexByteAt(value, 0)) : -1;
            if (index < low || index > high)
                return "key index " + Quoted(value) + " is not two hexadecimal digits in " +
                       rangeText;
            return {};
        },
        "INDEX " + rangeText);
}

void AddIndexArgument(CLI::App& command, const std::string& name, std::string& index,
                      const std::string& description, int low, int high) {
    command.add_option(name, index, description)->required()->check(KeyIndex(low, high));
}

CLI::Option* AddKeyOption(CLI::App& command, const std::string& name, std::string& key,
                          const std::string& description, const std::string& what) {
    return command.add_option(name, key, description)
        ->check(KeyText())
        ->transform(SecretSource(what));
}

CLI::Validator DecimalText(std::size_t minLength, std::size_t maxLength) {
    return CLI::Validator(
        [minLength, maxLength](std::string& value) -> std::string {
            if (!IsDecimalText(value) || value.size() < minLength || value.size() > maxLength)
                return "needs " + CountText(minLength, maxLength) + " decimal digits";
            return {};
        },
        "DIGITS");
}

std::optional<long long> ParseWholeNumber(const std::string& text, long long low, long long high) {
    long long number = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || !IsDecimalText(text)) return std::nullopt;
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || stop != end || number < low || number > high) return std::nullopt;
    return number;
}

CLI::Validator WholeNumber(long long low, long long high) {
    return CLI::Validator(
        [low, high](std::string& value) -> std::string {
            if (ParseWholeNumber(value, low, high)) return {};
            return Quoted(value) + " is not a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high);
        },
        "NUMBER");
}

CLI::Validator OneOf(const std::vector<std::string>& members, bool ignoreCase) {
    std::string list;
    for (const std::string& member : members) list += (list.empty() ? "" : ", ") + member;
    return CLI::Validator(
        [members, list, ignoreCase](std::string& value) -> std::string {
            const std::string given = ignoreCase ? CLI::detail::to_lower(value) : value;
            for (const std::string& member : members) {
                if (given == (ignoreCase ? CLI::detail::to_lower(member) : member)) return {};
            }
            return Quoted(value) + " is not one of " + list;
        },
        "{" + list + "}");
}

namespace {

// The group of steps given without one of its steps ("key" alone): the parser would say that a
// "subcommand" is required.
const CLI::App* GroupWithoutStep(const CLI::App& app) {
    const CLI::App* command = &app;
    while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
    if (command == &app || command->get_require_subcommand_min() == 0) return nullptr;
    return command;
}

std::string StepsOf(const CLI::App& group) {
    std::string names;
    for (const CLI::App* step : group.get_subcommands(std::function<bool(const CLI::App*)>{}))
        names += (names.empty() ? "" : ", ") + step->get_name();
    return names;
}

}  // namespace

std::string DescribeParseError(const CLI::App& app, const CLI::ParseError& error) {
    if (const CLI::App* group = GroupWithoutStep(app);
        group != nullptr && dynamic_cast<const CLI::RequiredError*>(&error) != nullptr)
        return Quoted(group->get_name()) + " needs one of its steps: " + StepsOf(*group);
    const std::vector<std::string> unknown = app.remaining();
    if (app.get_subcommands().empty() && !unknown.empty())
        return Quoted(unknown.front()) + " is not a step; the steps are listed by --help";
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && !unknown.empty()) {
        std::string message = Quoted(unknown.front()) + " was not expected";
        if (unknown.size() > 1)
            message += " (nor the " + std::to_string(unknown.size() - 1) + " words after it)";
        return message;
    }
    return error.what();
}

void RefuseArgument(const std::string& argument, const std::string& message) {
    throw CLI::ValidationError(argument, message);
}

namespace {

// Fails the step when `value` lacks its shape; `shown` is how the value appears in the message.
bool CheckReplyShape(StepOutcome& outcome, const std::string& name, const std::string& value,
                     FieldShape shape, const std::string& shown) {
    const bool shortValue = value.size() < shape.minLength;
    if (!shortValue && value.size() <= shape.maxLength && HasKind(value, shape.kind)) return true;
    // A reply cut short is no usable answer; a whole one of the wrong form is a wrong answer.
    if (shortValue) outcome.noUsableAnswer = true;
    if (outcome.ok) {
        outcome.message = std::string(shortValue ? "reply too short: " : "reply malformed: ") +
                          name + shown + " (" + std::to_string(value.size()) + " characters, " +
                          DescribeShape(shape) + " expected)";
    }
    outcome.ok = false;
    return false;
}

}  // namespace

bool TakeReplyField(StepOutcome& outcome, const std::string& name, const std::string& value,
                    FieldShape shape) {
    outcome.reply[name] = value;
    return CheckReplyShape(outcome, name, value, shape, " " + Quoted(value));
}

bool TakeSecretReplyField(StepOutcome& outcome, const std::string& name, const std::string& value,
                          FieldShape shape) {
    SetSecretField(outcome, name, value);
    return CheckReplyShape(outcome, name, value, shape, "");
}

}  // namespace cli
