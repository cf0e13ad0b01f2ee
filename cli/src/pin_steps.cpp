// PIN entry with its star echo, PIN block read and decoding, PIN renew and verify, MAC, data
// encryption and decryption.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <ostream>

#include "hex_text.h"
#include "host_crypto.h"
#include "key_parts.h"
#include "pad_input.h"
#include "pin_reading.h"
#include "pinpad.h"
#include "step_commands.h"
#include "tool_key_store.h"
#include "verdicts.h"

namespace cli {
namespace {

constexpr std::size_t kPinReplySize = PINPAD_PIN_VALUE_SIZE;
constexpr std::size_t kDataReplySize = PINPAD_DATA_REPLY_SIZE;
// Room to spare over the MAC the driver writes.
constexpr std::size_t kMacReplySize = 128;
static_assert(kMacReplySize >= PINPAD_MAC_SIZE);
constexpr std::size_t kMacLength = 16;
constexpr std::size_t kPinBlockLength = 16;

// How a backspace acts on the echo: one star, or all of them (clear codes 2 and 6 of the short
// start).
enum class Backspace { RemovesOne, ClearsAll };

// A PIN entry as the pad is asked to start it, and how its echo goes.
struct PinEntryPlan {
    std::string request;
    int expectedLength;  // the entry ends after this many digits (0: at Enter)
    Backspace backspace;
    int seconds;  // the tool's own deadline
};

// The echo of a PIN entry: a star for each digit; Enter, the stated length, Escape or the pad's
// time-out end it.
struct PinEntryEcho {
    std::ostream& echo;
    const PinEntryPlan& plan;
    int digits = 0;
    std::string end{};

    bool Take(unsigned char byte) {
        if (const char* ending = EntryEndOf(byte)) {
            end = ending;
            return true;
        }
        if (byte == kBackspaceByte) {
            Erase();
            return false;
        }
        if (byte == kDigitByte) {
            ++digits;
            echo << '*' << std::flush;
        }
        if (plan.expectedLength > 0 && digits >= plan.expectedLength) {
            end = "length";
            return true;
        }
        return false;
    }

    void Erase() {
        const int removed = plan.backspace == Backspace::ClearsAll ? digits : std::min(digits, 1);
        for (int i = 0; i < removed; ++i) echo << "\b \b";
        digits -= removed;
        echo << std::flush;
    }
};

// Echoes the pad's PIN entry until it ends: Enter, the stated length, Escape, the pad's
// time-out or the tool's own deadline.
StepOutcome EchoPinEntry(StepOutcome outcome, StepContext& context, const PinEntryPlan& plan) {
    PinEntryEcho entry{.echo = context.echo, .plan = plan};
    const bool ended =
        CollectPadBytes(plan.seconds, [&entry](unsigned char byte) { return entry.Take(byte); });
    context.echo << '\n' << std::flush;
    outcome.reply["digits"] = entry.digits;
    if (!ended) {
        EndPadInput();
        outcome.reply["end"] = "deadline";
        outcome.ok = false;
        outcome.message = "the PIN entry did not end within " + std::to_string(plan.seconds) + " s";
        return outcome;
    }
    outcome.reply["end"] = entry.end;
    if (entry.end == "escape" || entry.end == "pad time-out") {
        outcome.ok = false;
        outcome.message = entry.end == "escape" ? "the customer cancelled the PIN entry"
                                                : "the pad ended the PIN entry: time-out";
    }
    return outcome;
}

StepOutcome RunPinEntry(const PinEntryPlan& plan, StepContext& context) {
    StepOutcome outcome = DriverOutcome(
        plan.request,
        PinPad_EnablePin(plan.request.c_str(), static_cast<unsigned>(plan.request.size())));
    if (!outcome.ok) return outcome;
    return EchoPinEntry(std::move(outcome), context, plan);
}

// The entry settings both PIN starts take.
void AddSoundAndLengthOptions(CLI::App& command, std::string& sound, std::string& length) {
    command.add_option("--sound", sound, "sound setting 0-2")
        ->check(OneOf({"0", "1", "2"}))
        ->capture_default_str();
    command
        .add_option("--length", length,
                    "PIN length, two decimal digits; 00: no length (ascii up to 08, iso up to 12, "
                    "ibm3624 up to 16)")
        ->check(DecimalText(2, 2))
        ->capture_default_str();
}

void AddEntryTimeoutOption(CLI::App& command, int& seconds) {
    command.add_option("--entry-timeout", seconds, "seconds the tool waits for the entry")
        ->check(WholeNumber(1, 3600))
        ->capture_default_str();
}

// The stated PIN length as a number, refused when the pad takes no PIN that long in `format`
// ("": whichever format the read names).
int PinLengthFor(const std::string& length, int maxLength, const std::string& format) {
    const std::optional<long long> digits = ParseWholeNumber(length, 0, maxLength);
    if (!digits) {
        char range[16];
        std::snprintf(range, sizeof range, "00 to %02d", maxLength);
        RefuseArgument("--length", (format.empty() ? "the pad takes" : format + " takes") +
                                       std::string(" PIN lengths ") + range + ", not " +
                                       Quoted(length));
    }
    return static_cast<int>(*digits);
}

struct PinStart {
    std::string index, format = "iso0", account, sound = "0", length = "06";
    int seconds = 60;
};

void DeclarePinStart(CLI::App& command, PinStart& s) {
    AddIndexArgument(command, "INDEX", s.index, "PIN key index 30-7F", 0x30, 0x7F);
    AddPinFormatOption(command, s.format, true);
    AddAccountOption(command, s.account);
    AddSoundAndLengthOptions(command, s.sound, s.length);
    AddEntryTimeoutOption(command, s.seconds);
}

Step BuildPinStart(const PinStart& s) {
    const PinFormat format = PinFormatNamed(s.format);
    CheckAccount(format, s.account);
    const int length = PinLengthFor(s.length, format.maxPinLength, format.name);
    const std::string request = padlogic::ToUpper(s.index) + format.typeCharacter + s.sound +
                                s.length + (format.sendsAccount ? s.account : std::string());
    return MakeStep("pin start", RunPinEntry, {request, length, Backspace::RemovesOne, s.seconds});
}

struct ShortStart {
    std::string sound = "0", length = "06", enter = "0", clear = "0";
    int seconds = 60;
};

void DeclareShortStart(CLI::App& command, ShortStart& s) {
    AddSoundAndLengthOptions(command, s.sound, s.length);
    command.add_option("--enter-code", s.enter, "enter-key code 0-2")
        ->check(OneOf({"0", "1", "2"}))
        ->capture_default_str();
    command
        .add_option("--clear-code", s.clear,
                    "clear-key code 0, 1, 2, 4, 5, 6 (2 and 6: backspace clears all)")
        ->check(OneOf({"0", "1", "2", "4", "5", "6"}))
        ->capture_default_str();
    AddEntryTimeoutOption(command, s.seconds);
}

Step BuildShortStart(const ShortStart& s) {
    // The format comes with the read: any length some format takes.
    const int length = PinLengthFor(s.length, kMaxPinLength, "");
    const Backspace backspace =
        s.clear == "2" || s.clear == "6" ? Backspace::ClearsAll : Backspace::RemovesOne;
    return MakeStep("pin start-short", RunPinEntry,
                    {s.sound + s.length + s.enter + s.clear, length, backspace, s.seconds});
}

// A request for a PIN reply, and how long the pad may take to give it.
struct PinReplyPlan {
    std::string request;
    int wait;
};

// Asks the pad for the PIN reply (waiting at most the plan's seconds) and records the two-digit
// track and length fields every PIN reply starts with; `rest` receives what follows them. Not
// ok when the reply fails, or when either field is short or no number.
StepOutcome ReadPinReply(const PinReplyPlan& plan, std::string& rest) {
    char reply[kPinReplySize] = {};
    StepOutcome outcome =
        DriverOutcome(plan.request, PinPad_GetPinValue(plan.request.c_str(),
                                                       static_cast<unsigned>(plan.request.size()),
                                                       plan.wait, reply));
    if (!outcome.ok) return outcome;
    const std::string text(reply, strnlen(reply, sizeof reply));
    TakeReplyField(outcome, "track", text.substr(0, 2), Exactly(FieldKind::Digits, 2));
    TakeReplyField(outcome, "length", text.size() > 2 ? text.substr(2, 2) : "",
                   Exactly(FieldKind::Digits, 2));
    rest = text.size() > 4 ? text.substr(4) : "";
    return outcome;
}

void AddWaitOption(CLI::App& command, int& wait) {
    command.add_option("--wait", wait, "seconds to wait for the pad's reply (1-255)")
        ->check(WholeNumber(1, 255))
        ->capture_default_str();
}

struct PinRead {
    std::string index, format, account, key, keyIndex;
    int wait = 5;
};

void DeclarePinRead(CLI::App& command, PinRead& s) {
    command
        .add_option("--index", s.index,
                    "send key index, format and account with the read (after 'pin start-short')")
        ->check(KeyIndex(0x30, 0x7F));
    AddPinFormatOption(command, s.format, false);
    AddAccountOption(command, s.account);
    CLI::Option* key = AddKeyOption(
        command, "--key", s.key,
        "the PIN key in clear, to decipher the block (@FILE: from a file, -: from standard input)",
        "PIN key");
    command
        .add_option("--key-index", s.keyIndex,
                    "decipher the block with the key the key store holds at this index")
        ->check(KeyIndex(0x30, 0x7F))
        ->excludes(key);
    AddWaitOption(command, s.wait);
}

struct PinReadPlan {
    PinReplyPlan reply;
    PinDecoding decoding;
    std::string keyIndex;  // the key store's key at this index deciphers the block
};

// The key to decipher the block with: the one given, or the key store's at the key index;
// "" when none is asked for. nullopt, the step failed, when the store holds none.
std::optional<std::string> PinKeyOf(const PinReadPlan& plan, StepOutcome& outcome,
                                    const ToolKeyStore& keys) {
    if (plan.keyIndex.empty()) return plan.decoding.key;
    std::optional<std::string> key = keys.KeyValue(outcome, plan.keyIndex, true, "--key");
    if (!key) outcome.ok = false;
    return key;
}

StepOutcome RunPinRead(const PinReadPlan& plan, StepContext& context) {
    std::string rest;
    StepOutcome outcome = ReadPinReply(plan.reply, rest);
    if (!outcome.ok ||
        !TakeReplyField(outcome, "pin_block", rest, Exactly(FieldKind::Hex, kPinBlockLength)))
        return outcome;
    const std::optional<std::string> key = PinKeyOf(plan, outcome, context.keyStore);
    if (!key || key->empty()) return outcome;
    PinDecoding decoding = plan.decoding;
    decoding.key = *key;
    DecodePinReply(outcome, decoding);
    return outcome;
}

Step BuildPinRead(const PinRead& s) {
    std::optional<PinFormat> format;
    if (!s.format.empty()) format = PinFormatNamed(s.format);
    if (!s.index.empty() && !format) RefuseArgument("--index", "needs --format");
    if (format && (!s.index.empty() || !s.key.empty() || !s.keyIndex.empty()))
        CheckAccount(*format, s.account);
    std::string request;
    if (!s.index.empty()) {
        request = padlogic::ToUpper(s.index) + format->typeCharacter +
                  (format->sendsAccount ? s.account : "");
    }
    return MakeStep("pin read", RunPinRead,
                    {{request, s.wait},
                     {padlogic::ToUpper(s.key), format, s.account},
                     padlogic::ToUpper(s.keyIndex)});
}

// The IBM 3624 offset of the last PIN (renew), or its check against an offset (verify).
struct PinOffset {
    bool verify = false;
    std::string index{}, data{}, table{}, offset{};
    int wait = 30;
};

void DeclarePinOffset(CLI::App& command, PinOffset& s) {
    AddIndexArgument(command, "INDEX", s.index, "PIN key index 30-7F", 0x30, 0x7F);
    command.add_option("DATA", s.data, "validation data, 16 hex characters")
        ->required()
        ->check(HexText({16}));
    command.add_option("TABLE", s.table, "decimalisation table, 16 decimal digits")
        ->required()
        ->check(DecimalText(16, 16));
    if (s.verify)
        command.add_option("OFFSET", s.offset, "PIN offset, decimal digits")
            ->required()
            ->check(DecimalText(1, 16));
    AddWaitOption(command, s.wait);
}

StepOutcome RunPinRenew(const PinReplyPlan& plan, StepContext&) {
    std::string rest;
    StepOutcome outcome = ReadPinReply(plan, rest);
    if (!outcome.ok) return outcome;
    // One offset digit for each PIN digit.
    const auto digits = ParseWholeNumber(outcome.reply["length"].get<std::string>(), 0, 99);
    TakeReplyField(outcome, "offset", rest,
                   Exactly(FieldKind::Digits, static_cast<std::size_t>(digits.value_or(0))));
    return outcome;
}

StepOutcome RunPinVerify(const PinReplyPlan& plan, StepContext&) {
    std::string rest;
    StepOutcome outcome = ReadPinReply(plan, rest);
    if (!outcome.ok) return outcome;
    // The pad's verdict is the last character: 1 the PIN matches, 0 not.
    const char verdict = rest.empty() ? '\0' : rest.back();
    if (verdict != '0' && verdict != '1') {
        outcome.ok = false;
        outcome.message = std::string(rest.empty() ? "reply too short" : "reply malformed") +
                          ": verdict " + Quoted(rest) + " does not end in 0 or 1";
        return outcome;
    }
    const bool match = verdict == '1';
    outcome.reply["match"] = match;
    AddCheck(outcome, "pin_offset", true, match, match);
    if (!match) {
        outcome.ok = false;
        outcome.message = "the PIN does not match the offset";
    }
    return outcome;
}

Step BuildPinOffset(const PinOffset& s) {
    const PinReplyPlan plan{padlogic::ToUpper(s.index) + (s.verify ? 'b' : 'a') +
                                padlogic::ToUpper(s.data) + s.table + s.offset,
                            s.wait};
    if (s.verify) return MakeStep("pin verify", RunPinVerify, plan);
    return MakeStep("pin renew", RunPinRenew, plan);
}

struct Mac {
    std::string index, type, data;
};

void DeclareMac(CLI::App& command, Mac& s) {
    AddIndexArgument(command, "INDEX", s.index, "MAC key index 30-7F", 0x30, 0x7F);
    command.add_option("TYPE", s.type, "pboc, x9.9, x9.19 or iso16609")
        ->required()
        ->check(OneOf({"pboc", "x9.9", "x9.19", "iso16609"}, true));
    command.add_option("DATA", s.data, "the message as hex")->required()->check(HexText());
}

// The message travels as bytes; the request is shown with it in hex.
struct MacPlan {
    std::string input, shown;
    std::string index, message;  // the key index and the message bytes, for the host's check
    padlogic::MacType type;
};

// Compares the reply field `field` with what `compute` makes of the clear value of the key at
// `index`, as a step of this run loaded it; without one (a key only in the key store is not
// trusted for a check), or when the host cannot compute it, the check is reported as not made.
template <typename Compute>
void CheckOnHost(StepOutcome& outcome, const StepContext& context, const std::string& index,
                 const std::string& field, Compute compute) {
    const auto key = context.runKeys.find(index);
    if (key == context.runKeys.end()) {
        AddHostCheck(
            outcome, field, std::nullopt,
            "no step of this run loaded the key at " + index + " with its clear value known");
        return;
    }
    AddHostCheck(outcome, field, compute(key->second), "the host could not compute the " + field);
}

StepOutcome RunMac(const MacPlan& plan, StepContext& context) {
    char mac[kMacReplySize] = {};
    StepOutcome outcome = DriverOutcome(
        plan.shown,
        PinPad_MakeMac(plan.input.data(), static_cast<unsigned>(plan.input.size()), mac));
    if (!outcome.ok || !TakeReplyField(outcome, "mac", mac, Exactly(FieldKind::Hex, kMacLength)))
        return outcome;
    CheckOnHost(outcome, context, plan.index, "mac", [&plan](const std::string& key) {
        return padlogic::HostMac(plan.type, key, plan.message, PinPad_TriUntriDes);
    });
    return outcome;
}

Step BuildMac(const Mac& s) {
    // The driver takes at most 2045 bytes: the three header bytes and the message.
    if (s.data.size() / 2 > 2042) RefuseArgument("DATA", "takes at most 2042 bytes");
    const std::string index = padlogic::ToUpper(s.index);
    const padlogic::MacType type = padlogic::MacTypeFromWord(s.type).value();
    const std::string header = index + padlogic::MacTypeCode(type);
    const std::string message = HexToBytes(s.data);
    return MakeStep("mac", RunMac,
                    {header + message, header + padlogic::ToUpper(s.data), index, message, type});
}

struct DataCipher {
    bool encrypt = true;
    std::string index{}, mode{}, data{};
};

void DeclareDataCipher(CLI::App& command, DataCipher& s) {
    AddIndexArgument(command, "INDEX", s.index, "key index 30-7F", 0x30, 0x7F);
    command.add_option("MODE", s.mode, "ecb or cbc")
        ->required()
        ->check(OneOf({"ecb", "cbc"}, true));
    command.add_option("DATA", s.data, "hex, whole 16-character blocks")
        ->required()
        ->check(HexBlocks(2048));
}

// ECB and CBC without padding: as many blocks come back as went.
struct DataCipherPlan {
    std::string request;
    std::size_t length;       // of the data, in hex characters
    std::string index, data;  // for the host's check
    padlogic::DataMode mode;
};

StepOutcome RunDataCipher(const DataCipherPlan& plan, StepContext& context) {
    std::string reply(kDataReplySize, '\0');
    StepOutcome outcome = DriverOutcome(
        plan.request, PinPad_EncryptData(plan.request.c_str(),
                                         static_cast<unsigned>(plan.request.size()), reply.data()));
    if (!outcome.ok ||
        !TakeReplyField(outcome, "data", reply.c_str(), Exactly(FieldKind::Hex, plan.length)))
        return outcome;
    CheckOnHost(outcome, context, plan.index, "data", [&plan](const std::string& key) {
        return padlogic::HostData(plan.mode, key, plan.data, PinPad_TriUntriDes);
    });
    return outcome;
}

Step BuildDataCipher(const DataCipher& s) {
    const padlogic::DataMode mode = padlogic::DataModeFromWord(s.mode, s.encrypt).value();
    const std::string index = padlogic::ToUpper(s.index), data = padlogic::ToUpper(s.data);
    return MakeStep(
        s.encrypt ? "data encrypt" : "data decrypt", RunDataCipher,
        {index + padlogic::DataModeCode(mode) + data, s.data.size(), index, data, mode});
}

}  // namespace

void AddPinCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* pin = app.add_subcommand("pin", "PIN entry, PIN block, PIN renew and verify");
    pin->require_subcommand(1);
    AddStepCommand(
        *pin, slot, "start",
        "start PIN entry with key index, block format and account; echo the stars until it ends",
        DeclarePinStart, BuildPinStart);
    AddStepCommand(*pin, slot, "start-short",
                   "start PIN entry with the entry settings only (key and format come with 'pin "
                   "read --index')",
                   DeclareShortStart, BuildShortStart);
    AddStepCommand(
        *pin, slot, "read",
        "read the enciphered PIN block; with --key decipher it and, with --format, decode the PIN",
        DeclarePinRead, BuildPinRead);
    AddStepCommand(*pin, slot, "renew", "compute the PIN offset of the last PIN entered (IBM 3624)",
                   DeclarePinOffset, BuildPinOffset, {.verify = false});
    AddStepCommand(*pin, slot, "verify",
                   "check the last PIN entered against a PIN offset (IBM 3624)", DeclarePinOffset,
                   BuildPinOffset, {.verify = true});
    AddStepCommand(app, slot, "mac", "have the pad compute a MAC over hex data", DeclareMac,
                   BuildMac);
    CLI::App* data = app.add_subcommand("data", "data encryption and decryption in the pad");
    data->require_subcommand(1);
    AddStepCommand(*data, slot, "encrypt", "encrypt hex data under a key in the pad",
                   DeclareDataCipher, BuildDataCipher, {.encrypt = true});
    AddStepCommand(*data, slot, "decrypt", "decrypt hex data under a key in the pad",
                   DeclareDataCipher, BuildDataCipher, {.encrypt = false});
}

}  // namespace cli
