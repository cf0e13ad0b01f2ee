// padsim's command line, read with CLI11: the options, their checks and the help.
#include <CLI/CLI.hpp>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>
#include <ostream>
#include <string_view>

#include "front_end.h"

namespace padsim {
namespace {

const char kVersion[] = "padsim " LUMENORD_VERSION;

// The command bytes the pad answers, and as the help and the messages list them.
const char kCommandBytes[] = "123456789:;@A";
const char kCommandBytesText[] = "1-9 : ; @ A";

// A mistake on the command line is reported in at most this many characters: a long value is cut.
constexpr std::size_t kMaxReason = 300;

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

bool IsCommandByte(char c) {
    return std::string_view(kCommandBytes).find(c) != std::string_view::npos;
}

// A whole decimal number from `low` to `high`: digits only, no sign, no blanks, no other base.
std::optional<int> DecimalNumber(std::string_view text, int low = 0, int high = INT_MAX) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < low || value > high) return std::nullopt;
    return value;
}

// Why `text` is no number from `low` to `high`; empty when it is one.
std::string NumberProblem(std::string_view text, int low = 0, int high = INT_MAX) {
    if (DecimalNumber(text, low, high)) return {};
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return Quoted(text) + " is not a number (decimal digits only)";
    return Quoted(text) + " is outside " + std::to_string(low) + " to " + std::to_string(high);
}

// Checks a number and rewrites it as its plain decimal digits, since CLI11 reads an integer in the
// base that its prefix names ("010" octal, "0x10" hexadecimal) and padsim's numbers are decimal.
CLI::Validator Number(int low = 0, int high = INT_MAX) {
    return CLI::Validator(
        [low, high](std::string& value) -> std::string {
            const std::optional<int> number = DecimalNumber(value, low, high);
            if (!number) return NumberProblem(value, low, high);
            value = std::to_string(*number);
            return {};
        },
        "");
}

CLI::Validator NotEmpty(const std::string& what) {
    return CLI::Validator(
        [what](const std::string& value) -> std::string {
            return value.empty() ? "needs " + what : std::string();
        },
        "");
}

// A version field of the information area, checked against the field's width.
CLI::Validator VersionField(std::size_t width) {
    return CLI::Validator(
        [width](const std::string& value) -> std::string {
            const std::string problem = VersionFieldProblem(value, width);
            if (problem.empty()) return {};
            return "wants " + std::to_string(width) + " printable characters; the value " + problem;
        },
        "");
}

CLI::Validator CommandByte() {
    return CLI::Validator(
        [](const std::string& value) -> std::string {
            if (value.size() == 1 && IsCommandByte(value[0])) return {};
            return std::string("wants one command byte the pad answers: ") + kCommandBytesText +
                   "; not " + Quoted(value);
        },
        "");
}

CLI::Validator Frame() {
    return CLI::Validator(
        [](const std::string& value) -> std::string {
            if (ParseFrame(value)) return {};
            return "wants data bits 7|8, parity N|E|O, stop bits 1|2, e.g. 8N1; not " +
                   Quoted(value);
        },
        "");
}

// The command byte of "C=VALUE", checked; throws naming `option` and the form it wants.
char CommandOf(const std::string& option, const std::string& text, const std::string& form) {
    if (text.size() < 2 || text[1] != '=' || !IsCommandByte(text[0]))
        throw CLI::ValidationError(option, "wants " + form +
                                               ", C a command byte the pad answers (" +
                                               kCommandBytesText + "); not " + Quoted(text));
    return text[0];
}

// --delay MS (every reply) and --delay C=MS (the replies to command byte C), each once.
void TakeDelays(const std::vector<std::string>& values, Faults& faults) {
    bool delayGiven = false;
    for (const std::string& text : values) {
        const bool perCommand = text.size() > 1 && text[1] == '=';
        const char command = perCommand ? CommandOf("--delay", text, "C=MS") : '\0';
        const std::string ms = perCommand ? text.substr(2) : text;
        const std::optional<int> number = DecimalNumber(ms);
        if (!number) throw CLI::ValidationError("--delay", NumberProblem(ms));
        if (!perCommand) {
            if (delayGiven)
                throw CLI::ValidationError("--delay", "MS for every reply is given twice");
            delayGiven = true;
            faults.delay = std::chrono::milliseconds(*number);
        } else if (!faults.commandDelay.emplace(command, std::chrono::milliseconds(*number))
                        .second) {
            throw CLI::ValidationError(
                "--delay", "command byte " + Quoted(text.substr(0, 1)) + " is given twice");
        }
    }
}

// --force C=HH, once for each command byte.
void TakeForcedStatuses(const std::vector<std::string>& values, Faults& faults) {
    for (const std::string& text : values) {
        const char command = CommandOf("--force", text, "C=HH");
        const std::string hex = text.substr(2);
        if (hex.size() != 2 || !isxdigit(static_cast<unsigned char>(hex[0])) ||
            !isxdigit(static_cast<unsigned char>(hex[1])))
            throw CLI::ValidationError("--force",
                                       "wants the status HH as two hexadecimal digits, "
                                       "e.g. 5=E5; not " +
                                           Quoted(text));
        const auto status = static_cast<std::uint8_t>(std::stoi(hex, nullptr, 16));
        if (!faults.forcedStatus.emplace(command, status).second)
            throw CLI::ValidationError(
                "--force", "command byte " + Quoted(text.substr(0, 1)) + " is given twice");
    }
}

// --disappear N[@R].
void TakeDisappearance(const std::string& text, Faults& faults) {
    const std::size_t at = text.find('@');
    const std::optional<int> bytes = DecimalNumber(std::string_view(text).substr(0, at));
    const std::optional<int> request =
        at == std::string::npos ? 0 : DecimalNumber(std::string_view(text).substr(at + 1));
    if (!bytes || !request)
        throw CLI::ValidationError("--disappear",
                                   "wants N[@R], N bytes and request R numbers from 0 to " +
                                       std::to_string(INT_MAX) + ", e.g. 3@2; not " + Quoted(text));
    faults.disappearAfter = *bytes;
    faults.disappearAtRequest = static_cast<std::uint64_t>(*request);
}

// The keys of a --keys or --noise text: "\r" (or "\n", or a newline) Enter, "\e" Escape,
// "\b" Backspace, "\xHH" the byte HH; a backslash before any other character stands for it.
std::string UnescapeKeys(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            out += kEnter;
            continue;
        }
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char e = text[++i];
        switch (e) {
            case 'r':
            case 'n':
                out += kEnter;
                break;
            case 'e':
                out += kEscape;
                break;
            case 'b':
                out += kBackspace;
                break;
            case 'x':
                if (i + 2 < text.size() + 0 && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                    isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                    out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    out += 'x';
                }
                break;
            default:
                out += e;
                break;
        }
    }
    return out;
}

void DeclareGeneralOptions(CLI::App& app, FrontEndOptions& o) {
    app.add_option("--link", o.link, "link the pad's pseudo-terminal at PATH (default ./ttyPAD)")
        ->type_name("PATH")
        ->check(NotEmpty("a path"));
    app.add_option_function<std::string>(
           "--keys", [&o](const std::string& text) { o.pad.scriptedKeys = UnescapeKeys(text); },
           "keys pressed whenever an input mode opens; \\r Enter, \\e Escape,\n"
           "\\b Backspace, \\xHH any byte")
        ->type_name("TEXT");
    app.add_option_function<int>(
           "--key-delay", [&o](int ms) { o.pad.scriptedKeyDelay = std::chrono::milliseconds(ms); },
           "pause before and between scripted keys (default 150)")
        ->type_name("MS")
        ->transform(Number());
    app.add_flag_callback(
        "--no-input", [&o] { o.readInput = false; },
        "do not read the terminal (for runs in the background)");
    app.add_option("--seed", o.pad.seed, "seed for challenges and random fill")
        ->type_name("N")
        ->transform(Number());
    app.add_flag("--no-card", o.noCard, "socket 1 is empty");
    LineFormat& line = o.pad.line;
    CLI::Option* lineRate =
        app.add_option_function<int>(
               "--line-rate", [&line](int baud) { line.baud = baud; },
               "pace the line at BAUD bits per second (" + std::to_string(kMinLineRate) + "-" +
                   std::to_string(kMaxLineRate) +
                   "): replies leave\n"
                   "and requests arrive no faster than a serial line carries them")
            ->type_name("BAUD")
            ->transform(Number(kMinLineRate, kMaxLineRate));
    // Without --frame the line keeps LineFormat's own 8N1.
    app.add_option_function<std::string>(
           "--frame",
           [&line](const std::string& text) {
               const int baud = line.baud;
               line = ParseFrame(text).value_or(LineFormat{});
               line.baud = baud;
           },
           "character format with --line-rate: data bits 7|8, parity N|E|O,\n"
           "stop bits 1|2 (default 8N1)")
        ->option_text("DPS")  // without CLI11's "Needs: --line-rate": the text says so
        ->check(Frame())
        ->needs(lineRate);
    app.add_option("--stats", o.statsPath,
                   "at the end write the bytes each way, the pad's own time and the\n"
                   "first and last byte's times to FILE (JSON; a regular file)")
        ->type_name("FILE")
        ->check(NotEmpty("a file name"));
}

void DeclareUnitOptions(CLI::App& app, UnitIdentity& identity) {
    const struct {
        const char* name;
        std::string& value;
        std::size_t width;
        const char* what;
    } fields[] = {
        {"--serial", identity.serialNumber, UnitIdentity::kSerialWidth, "serial number"},
        {"--firmware", identity.firmwareVersion, UnitIdentity::kFirmwareWidth, "firmware version"},
        {"--date-code", identity.dateCode, UnitIdentity::kDateCodeWidth, "date code"},
    };
    for (const auto& field : fields) {
        app.add_option(field.name, field.value,
                       std::string(field.what) + ", " + std::to_string(field.width) +
                           " printable characters (default " + field.value + ")")
            ->type_name("TEXT")
            ->check(VersionField(field.width))
            ->group("unit (version fields of the information area, each filled whole)");
    }
}

void DeclareFaultOptions(CLI::App& app, Faults& f) {
    const std::string group = "faults";
    app.add_flag("--silent", f.silent, "answer nothing")->group(group);
    app.add_option_function<std::string>(
           "--noise", [&f](const std::string& text) { f.noise = UnescapeKeys(text); },
           "send TEXT ahead of every reply")
        ->type_name("TEXT")
        ->group(group);
    app.add_option("--cut", f.cutReplyAfter, "send only the first N bytes of every reply")
        ->type_name("N")
        ->transform(Number())
        ->group(group);
    app.add_flag("--wrong-check", f.wrongCheck, "every reply carries a wrong check")->group(group);
    app.add_option("--oversize", f.oversizeData, "pad every reply's data to N bytes")
        ->type_name("N")
        ->transform(Number())
        ->group(group);
    app.add_option_function<std::vector<std::string>>(
           "--delay", [&f](const std::vector<std::string>& values) { TakeDelays(values, f); },
           "hold every reply MS milliseconds; with C=, only the replies to\n"
           "command byte C (repeatable)")
        ->option_text("[C=]MS")
        ->allow_extra_args(false)
        ->group(group);
    app.add_option_function<std::vector<std::string>>(
           "--force",
           [&f](const std::vector<std::string>& values) { TakeForcedStatuses(values, f); },
           "answer command byte C with status HH (hex), e.g. --force 5=E5\n"
           "(repeatable)")
        ->option_text("C=HH")
        ->allow_extra_args(false)
        ->group(group);
    app.add_option("--wrong-data", f.wrongData,
                   std::string("the success reply to command byte C (") + kCommandBytesText +
                       ") carries altered\n"
                       "data in a sound frame: same length, correct check; repeatable")
        ->option_text("C")
        ->allow_extra_args(false)
        ->check(CommandByte())
        ->group(group);
    app.add_flag("--low-battery", f.lowBattery, "status 224 on the information read and on display")
        ->group(group);
    app.add_option_function<std::string>(
           "--disappear", [&f](const std::string& text) { TakeDisappearance(text, f); },
           "at request R (default the first) send N bytes of the reply and\n"
           "close the line")
        ->option_text("N[@R]")
        ->group(group);
}

// A mistake as one line of printable characters, at most kMaxReason of them.
std::string Reason(const CLI::ParseError& error) {
    std::string reason = error.what();
    if (reason.size() > kMaxReason) reason = reason.substr(0, kMaxReason) + "...";
    for (char& c : reason) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '.';
    }
    return reason;
}

}  // namespace

std::optional<int> ParseOptions(int argc, const char* const* argv, FrontEndOptions& options,
                                std::ostream& out, std::ostream& err) {
    CLI::App app{"", "padsim"};
    app.get_formatter()->label("Usage", "usage");
    app.get_formatter()->label("OPTIONS", "options");
    app.get_formatter()->column_width(23);
    app.option_defaults()->group("options");
    app.set_help_flag("--help,-h", "print this text and exit");
    app.set_version_flag("--version", kVersion, "print the version and exit");
    FrontEndOptions o;
    DeclareGeneralOptions(app, o);
    DeclareUnitOptions(app, o.pad.identity);
    DeclareFaultOptions(app, o.pad.faults);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& error) {
        err << "padsim: " << Reason(error)
            << "\nusage: padsim [options]; padsim --help lists them\n";
        return 2;
    }
    options = std::move(o);
    return std::nullopt;
}

}  // namespace padsim
