#include "command_support.h"

#include <cstdio>

#include "hex_text.h"
#include "key_parts.h"

namespace cli {

CLI::Validator HexText(std::initializer_list<std::size_t> lengths) {
    std::string description = "HEX";
    std::vector<std::size_t> allowed(lengths);
    return CLI::Validator(
        [allowed](std::string& value) -> std::string {
            if (!IsHexText(value)) return "'" + value + "' is not hexadecimal text";
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
        description);
}

CLI::Validator HexBlocks(std::size_t maxLength, bool allowEmpty) {
    return CLI::Validator(
        [maxLength, allowEmpty](std::string& value) -> std::string {
            if (!IsHexText(value)) return "'" + value + "' is not hexadecimal text";
            if (value.empty() && !allowEmpty) return "must not be empty";
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
                return "key index '" + value + "' is not two hexadecimal digits in " + rangeText;
            return {};
        },
        "INDEX " + rangeText);
}

CLI::Validator DecimalText(std::size_t minLength, std::size_t maxLength) {
    return CLI::Validator(
        [minLength, maxLength](std::string& value) -> std::string {
            const bool digits = value.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || value.size() < minLength || value.size() > maxLength) {
                return "needs " + std::to_string(minLength) +
                       (minLength == maxLength ? "" : " to " + std::to_string(maxLength)) +
                       " decimal digits";
            }
            return {};
        },
        "DIGITS");
}

std::string DescribeParseError(const CLI::App& app, const CLI::ParseError& error) {
    const std::vector<std::string> unknown = app.remaining();
    if (app.get_subcommands().empty() && !unknown.empty())
        return "'" + unknown.front() + "' is not a step; the steps are listed by --help";
    return error.what();
}

void RefuseArgument(const std::string& argument, const std::string& message) {
    throw CLI::ValidationError(argument, message);
}

}  // namespace cli
