// Information area, keypad values, control codes, clear-text keypad, display and IC card.
#include <ostream>

#include "hex_text.h"
#include "info_area.h"
#include "key_parts.h"
#include "pad_input.h"
#include "pinpad.h"
#include "step_commands.h"
#include "tool_key_store.h"

namespace cli {
namespace {

constexpr std::size_t kCardReplySize = PINPAD_CARD_REPLY_SIZE;

// The name of an information area field in the tool's JSON replies.
const char* JsonName(padlogic::InfoField field) {
    switch (field) {
        case padlogic::InfoField::Remark:
            return "description";
        case padlogic::InfoField::ProductType:
            return "model";
        case padlogic::InfoField::HardwareVersion:
            return "hardware";
        case padlogic::InfoField::SoftwareVersion:
            return "firmware";
        case padlogic::InfoField::Date:
            return "date_code";
        case padlogic::InfoField::ProductNo:
            return "serial";
        case padlogic::InfoField::CustomerInfo:
            return "customer_info";
        case padlogic::InfoField::MainKeys:
            return "main_keys";
        case padlogic::InfoField::LeftKey:
            return "left_keys";
        case padlogic::InfoField::RightKey:
            return "right_keys";
    }
    return "field";
}

// What a field of the information area holds when the pad sent the area whole: the pad's
// identification fills its ranges with text, the key values with hex; the customer information
// is whatever was written (nothing, too).
std::optional<FieldShape> ShapeOf(const padlogic::InfoRange& range) {
    switch (range.field) {
        case padlogic::InfoField::CustomerInfo:
            return std::nullopt;
        case padlogic::InfoField::MainKeys:
        case padlogic::InfoField::LeftKey:
        case padlogic::InfoField::RightKey:
            return Exactly(FieldKind::Hex, range.length);
        default:
            return Exactly(FieldKind::Text, range.length);
    }
}

// Reads the information area; a low battery still delivers it and counts as success.
template <std::size_t N>
StepOutcome ReadInfoArea(const padlogic::InfoRange (&ranges)[N]) {
    char area[padlogic::kInfoAreaSize] = {};
    StepOutcome outcome = DriverOutcome("", PinPad_GetCustInfo(area));
    if (*outcome.result == PINPAD_LOW_BATTERY) outcome.ok = true;
    if (!outcome.ok) return outcome;
    for (const padlogic::InfoRange& range : ranges) {
        const std::string value = padlogic::InfoAreaField(area, range);
        if (const std::optional<FieldShape> shape = ShapeOf(range))
            TakeReplyField(outcome, JsonName(range.field), value, *shape);
        else
            outcome.reply[JsonName(range.field)] = value;
    }
    if (*outcome.result == PINPAD_LOW_BATTERY) outcome.reply["low_battery"] = true;
    return outcome;
}

StepOutcome RunVersion(const NoArguments&, StepContext&) {
    return ReadInfoArea(padlogic::kVersionRanges);
}

Step BuildVersion(const NoArguments& s) { return MakeStep("version", RunVersion, s); }

StepOutcome RunInfoRead(const NoArguments&, StepContext&) {
    return ReadInfoArea(padlogic::kCustomerRanges);
}

Step BuildInfoRead(const NoArguments& s) { return MakeStep("info read", RunInfoRead, s); }

constexpr std::size_t kMaxCustomerInfo = 50;

CLI::Validator CustomerInfoText() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return value.empty() || value.size() > kMaxCustomerInfo ? "takes 1 to 50 characters"
                                                                    : "";
        },
        "TEXT");
}

struct InfoWrite {
    std::string text;
};

void DeclareInfoWrite(CLI::App& command, InfoWrite& s) {
    command.add_option("TEXT", s.text, "the customer information")
        ->required()
        ->check(CustomerInfoText());
}

StepOutcome RunInfoWrite(const InfoWrite& s, StepContext&) {
    return DriverOutcome(s.text,
                         PinPad_SetCustInfo(s.text.c_str(), static_cast<unsigned>(s.text.size())));
}

Step BuildInfoWrite(const InfoWrite& s) { return MakeStep("info write", RunInfoWrite, s); }

void AddInfoCommands(CLI::App& app, StepSlot& slot) {
    AddStepCommand(app, slot, "version",
                   "read the pad's model, versions, date code and serial number",
                   DeclareNoArguments, BuildVersion);
    CLI::App* info = app.add_subcommand("info", "the customer information area");
    info->require_subcommand(1);
    AddStepCommand(*info, slot, "read", "read the customer information and the key values",
                   DeclareNoArguments, BuildInfoRead);
    AddStepCommand(*info, slot, "write", "write the customer information (1 to 50 characters)",
                   DeclareInfoWrite, BuildInfoWrite);
}

struct KeyboardValues {
    std::string main, left, right;
};

void DeclareKeyboard(CLI::App& command, KeyboardValues& s) {
    command.add_option("MAIN", s.main, "main keys, 32 hex characters")
        ->required()
        ->check(HexText({32}));
    command.add_option("LEFT", s.left, "left function keys, 8 hex characters")
        ->required()
        ->check(HexText({8}));
    command.add_option("RIGHT", s.right, "right function keys, 8 hex characters")
        ->required()
        ->check(HexText({8}));
}

// The plan is the request text: the three values one after the other.
StepOutcome RunKeyboard(const std::string& text, StepContext&) {
    return DriverOutcome(text,
                         PinPad_SetKeyboardValue(text.c_str(), static_cast<unsigned>(text.size())));
}

Step BuildKeyboard(const KeyboardValues& s) {
    return MakeStep("keyboard", RunKeyboard, padlogic::ToUpper(s.main + s.left + s.right));
}

// The host speeds of the pad's serial-speed values 0x41 to 0x47.
constexpr int kSpeedForValue[] = {1200, 2400, 4800, 9600, 19200, 38400, 115200};
constexpr int kSerialSpeedCode = 6;
constexpr int kPinTimeoutCode = 2;
constexpr int kKeyLockCode = 1;

CLI::Validator ControlCodeText() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return value.size() == 1 &&
                           std::string("0123456789ABab").find(value) != std::string::npos
                       ? ""
                       : "control code " + Quoted(value) + " is not one of 0-9, A, B";
        },
        "CODE");
}

struct ControlArguments {
    std::string code, value;
    bool invalidate = false;
};

void DeclareControl(CLI::App& command, ControlArguments& s) {
    command.add_option("CODE", s.code, "control code 0-9, A or B")
        ->required()
        ->check(ControlCodeText());
    command.add_option("VALUE", s.value, "two hex digits")->required()->check(HexText({2}));
    command.add_flag("--invalidate", s.invalidate,
                     "code 1: lock the key temporarily (adds 0x80) instead of releasing it");
}

struct ControlPlan {
    std::string text;  // the code digit and the value's two
    int code;
    int value;
};

// A new serial speed on the pad: the host side follows it.
void FollowSerialSpeed(StepOutcome& outcome, PadPort& port, int value) {
    const int baud = kSpeedForValue[value - 0x41];
    const int reopened = port.Reopen(baud);
    outcome.reply["host_baud"] = baud;
    if (reopened == 0) return;
    outcome.ok = false;
    outcome.result = reopened;
    outcome.message =
        "control code set, but the port did not open again at " + std::to_string(baud) + " baud";
}

StepOutcome RunControl(const ControlPlan& plan, StepContext& context) {
    StepOutcome outcome = DriverOutcome(plan.text, PinPad_SetControlCode(plan.text.c_str(), 3));
    if (outcome.ok && plan.code == kSerialSpeedCode && plan.value >= 0x41 && plan.value <= 0x47)
        FollowSerialSpeed(outcome, context.port, plan.value);
    // The program keeps the PIN time-out for its later PIN reads.
    if (outcome.ok && plan.code == kPinTimeoutCode)
        context.keyStore.Record(outcome, "The PIN time-out was set on the pad",
                                padlogic::KeyRecords().PinTimeout(plan.value));
    return outcome;
}

Step BuildControl(const ControlArguments& s) {
    const int code = std::stoi(s.code, nullptr, 16);
    int value = static_cast<int>(padlogic::HexByteAt(s.value, 0));
    if (s.invalidate && code != kKeyLockCode)
        RefuseArgument("--invalidate", "applies to control code 1 only");
    if (s.invalidate) value |= 0x80;
    char text[4];
    std::snprintf(text, sizeof text, "%X%02X", code, value);
    return MakeStep("control", RunControl, {text, code, value});
}

// Clear-text keypad: every key arrives as its own character.
struct Keypad {
    int count = 0;
    int seconds = 60;
};

void DeclareKeypad(CLI::App& command, Keypad& s) {
    command.add_option("--count", s.count, "stop after this many keys")->check(WholeNumber(1, 255));
    command.add_option("--entry-timeout", s.seconds, "seconds to wait for the keys")
        ->check(WholeNumber(1, 3600))
        ->capture_default_str();
}

// The keys pressed, echoed as they come, until Enter or Escape (or the count); false when they
// did not end before the deadline.
bool CollectKeys(const Keypad& s, StepContext& context, std::string& keys) {
    const bool ended = CollectPadBytes(s.seconds, [&](unsigned char byte) {
        keys.push_back(static_cast<char>(byte));
        context.echo << EchoCharacter(byte) << std::flush;
        if (s.count > 0) return static_cast<int>(keys.size()) >= s.count;
        return byte == kEnterByte || byte == kEscapeByte;
    });
    context.echo << '\n' << std::flush;
    return ended;
}

StepOutcome RunKeypad(const Keypad& s, StepContext& context) {
    int result = PinPad_SetControlCode("035", 3);
    if (result == 0) result = PinPad_SetControlCode("033", 3);
    StepOutcome outcome = DriverOutcome("035 033", result);
    if (!outcome.ok) return outcome;
    std::string bytes;
    const bool ended = CollectKeys(s, context, bytes);
    EndPadInput();
    // The keys are what came before Enter or Escape, which ends them and is reported apart;
    // every byte, the end too, is in `hex`.
    const char* end =
        bytes.empty() ? nullptr : EntryEndOf(static_cast<unsigned char>(bytes.back()));
    const bool endedByKey = ended && s.count == 0 && end != nullptr;
    const std::string keys = endedByKey ? bytes.substr(0, bytes.size() - 1) : bytes;
    outcome.reply["keys"] = IsPrintable(keys) ? keys : std::string();
    outcome.reply["hex"] = BytesToHex(bytes);
    outcome.reply["end"] = !ended ? "deadline" : endedByKey ? end : "count";
    if (!ended) {
        outcome.ok = false;
        outcome.message = "the keys did not end within " + std::to_string(s.seconds) + " s";
    }
    return outcome;
}

Step BuildKeypad(const Keypad& s) { return MakeStep("keypad", RunKeypad, s); }

CLI::Validator AnyHexText() {
    return CLI::Validator(
        [](std::string& value) {
            return IsHexText(value) ? "" : Quoted(value) + " is not hexadecimal text";
        },
        "HEX");
}

struct Display {
    std::string mode, data, text;
};

// The display modes: 30 shows bytes, 31 and 32 show one of the pad's codes, 40-7F decipher.
constexpr int kDisplayBytesMode = 0x30;
constexpr int kFirstDisplayCodeMode = 0x31;
constexpr int kLastDisplayCodeMode = 0x32;
constexpr int kFirstDecryptionMode = 0x40;
constexpr int kLastDecryptionMode = 0x7F;
// The codes that modes 31 and 32 show.
constexpr int kFirstDisplayCode = 0x30;
constexpr int kLastDisplayCode = 0x39;

bool IsDisplayMode(int mode) {
    return mode == kDisplayBytesMode ||
           (mode >= kFirstDisplayCodeMode && mode <= kLastDisplayCodeMode) ||
           (mode >= kFirstDecryptionMode && mode <= kLastDecryptionMode);
}

CLI::Validator DisplayModeText() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const bool twoDigits = value.size() == 2 && IsHexText(value);
            if (twoDigits && IsDisplayMode(static_cast<int>(padlogic::HexByteAt(value, 0))))
                return {};
            return "display mode " + Quoted(value) + " is not one of 30, 31, 32, 40-7F";
        },
        "MODE");
}

void DeclareDisplay(CLI::App& command, Display& s) {
    command.add_option("MODE", s.mode, "display mode: 30 bytes, 31/32 a code, 40-7F cipher text")
        ->required()
        ->check(DisplayModeText());
    command
        .add_option(
            "DATA", s.data,
            "the mode's data as hex: bytes (30), a code 30-39 (31, 32), cipher text (40-7F)")
        ->check(AnyHexText());
    command.add_option("--text", s.text, "mode 30: the text itself instead of hex bytes");
}

// The one code byte of modes 31 and 32.
std::string DisplayCode(const Display& s) {
    const bool oneByte = s.data.size() == 2;
    const int code = oneByte ? static_cast<int>(padlogic::HexByteAt(s.data, 0)) : -1;
    if (code < kFirstDisplayCode || code > kLastDisplayCode)
        RefuseArgument("DATA", "display mode " + s.mode + " takes one code from 30 to 39, not " +
                                   Quoted(s.data));
    return HexToBytes(s.data);
}

// What follows the mode byte in the record: text or bytes (30), a code byte (31, 32), cipher
// text as hex (40-7F). The mode is one of them: its argument was checked.
std::string DisplayData(const Display& s, int mode) {
    if (mode == kDisplayBytesMode) {
        if (s.data.size() % 2 != 0)
            RefuseArgument("DATA", "needs an even number of hex characters");
        std::string data = s.text.empty() ? HexToBytes(s.data) : s.text;
        if (data.size() > 254) RefuseArgument("DATA", "takes at most 254 bytes");
        return data;
    }
    if (mode >= kFirstDisplayCodeMode && mode <= kLastDisplayCodeMode) return DisplayCode(s);
    if (s.data.size() % 16 != 0 || s.data.size() > 64)
        RefuseArgument("DATA", "needs whole 16-character blocks, at most 64 characters");
    return padlogic::ToUpper(s.data);
}

// The plan is the record: the mode byte and its data.
StepOutcome RunDisplay(const std::string& record, StepContext&) {
    return DriverOutcome(BytesToHex(record),
                         PinPad_DispInfoLcd(record.data(), static_cast<int>(record.size())));
}

Step BuildDisplay(const Display& s) {
    const int mode = static_cast<int>(padlogic::HexByteAt(s.mode, 0));
    if (!s.text.empty() && mode != kDisplayBytesMode)
        RefuseArgument("--text", "is for display mode 30 only");
    if (!s.text.empty() && !s.data.empty())
        RefuseArgument("--text", "replaces DATA; give one of them");
    return MakeStep("display", RunDisplay,
                    std::string(1, static_cast<char>(mode)) + DisplayData(s, mode));
}

constexpr int kPowerOnAction = 1;

// Socket number and card type "88" (CPU card), then the action. The answer is the card's bytes
// as hex: its answer to reset after a power-on, which has at least two bytes.
StepOutcome CardControl(int socket, int action) {
    const std::string request = std::to_string(socket) + "88" + std::to_string(action);
    char answer[kCardReplySize] = {};
    StepOutcome outcome = DriverOutcome(request, PinPad_IC_Control(request.c_str(), answer));
    if (outcome.ok)
        TakeReplyField(outcome, "answer", answer,
                       {FieldKind::HexBytes, action == kPowerOnAction ? 4u : 0u});
    return outcome;
}

void AddSocketOption(CLI::App& command, int& socket) {
    command.add_option("--socket", socket, "socket 1-8")
        ->check(WholeNumber(1, 8))
        ->capture_default_str();
}

struct CardAction {
    const char* name;
    int action;
    int socket = 1;
};

void DeclareCardAction(CLI::App& command, CardAction& s) { AddSocketOption(command, s.socket); }

StepOutcome RunCardAction(const CardAction& s, StepContext&) {
    return CardControl(s.socket, s.action);
}

Step BuildCardAction(const CardAction& s) {
    return MakeStep(std::string("card ") + s.name, RunCardAction, s);
}

struct Apdu {
    std::string apdu;
    int socket = 1;
};

void DeclareApdu(CLI::App& command, Apdu& s) {
    command.add_option("APDU", s.apdu, "the command APDU as hex")->required()->check(HexText());
    AddSocketOption(command, s.socket);
}

// The plan is the request: the socket digit and the APDU.
StepOutcome RunApdu(const std::string& request, StepContext&) {
    char answer[kCardReplySize] = {};
    StepOutcome outcome = DriverOutcome(request, PinPad_IC_Access(request.c_str(), answer));
    if (!outcome.ok) return outcome;
    // The card's response data, then its two-byte status word.
    const std::string reply = answer;
    const std::size_t split = reply.size() < 4 ? 0 : reply.size() - 4;
    TakeReplyField(outcome, "data", reply.substr(0, split), {FieldKind::HexBytes, 0});
    TakeReplyField(outcome, "sw", reply.substr(split), Exactly(FieldKind::Hex, 4));
    return outcome;
}

Step BuildApdu(const Apdu& s) {
    const std::string bytes = HexToBytes(s.apdu);
    if (bytes.size() < 5) RefuseArgument("APDU", "needs a header and Lc or Le: at least 5 bytes");
    if (bytes.size() > 5) {
        const std::size_t lc = static_cast<unsigned char>(bytes[4]);
        if (lc == 0 || (bytes.size() != 5 + lc && bytes.size() != 6 + lc)) {
            RefuseArgument("APDU", "Lc " + std::to_string(lc) + " does not match the " +
                                       std::to_string(bytes.size() - 5) + " bytes after it");
        }
    }
    return MakeStep("card apdu", RunApdu, std::to_string(s.socket) + padlogic::ToUpper(s.apdu));
}

void AddCardCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* card = app.add_subcommand("card", "the IC card in one of the pad's sockets");
    card->require_subcommand(1);
    AddStepCommand(*card, slot, "power-on", "power the card up; reply: its answer to reset",
                   DeclareCardAction, BuildCardAction, {"power-on", kPowerOnAction});
    AddStepCommand(*card, slot, "status", "ask for the card's status", DeclareCardAction,
                   BuildCardAction, {"status", 2});
    AddStepCommand(*card, slot, "power-off", "power the card down", DeclareCardAction,
                   BuildCardAction, {"power-off", 3});
    AddStepCommand(*card, slot, "apdu",
                   "send a command APDU (hex: CLA INS P1 P2 [Lc data] [Le]); reply: data and SW",
                   DeclareApdu, BuildApdu);
}

}  // namespace

void AddDeviceCommands(CLI::App& app, StepSlot& slot) {
    AddInfoCommands(app, slot);
    AddStepCommand(app, slot, "keyboard", "set the codes the pad's keys report", DeclareKeyboard,
                   BuildKeyboard);
    AddStepCommand(app, slot, "control",
                   "send a control code: CODE 0-9, A, B and a two-digit hex VALUE", DeclareControl,
                   BuildControl);
    AddStepCommand(app, slot, "keypad",
                   "open the clear-text keypad and show the keys pressed until Enter or Escape (or "
                   "COUNT keys)",
                   DeclareKeypad, BuildKeypad);
    AddStepCommand(app, slot, "display",
                   "write to the pad's display: mode 30 with hex bytes (or --text), modes 31/32 "
                   "with a code 30-39, modes 40-7F with up to 64 hex characters of cipher text",
                   DeclareDisplay, BuildDisplay);
    AddCardCommands(app, slot);
}

}  // namespace cli
