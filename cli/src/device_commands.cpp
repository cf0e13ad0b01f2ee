// Information area, keypad values, control codes, clear-text keypad, display and IC card.
#include <ostream>

#include "hex_text.h"
#include "info_area.h"
#include "key_parts.h"
#include "pad_input.h"
#include "pinpad.h"
#include "step_commands.h"

namespace cli {
namespace {

constexpr std::size_t kCardReplySize = 2048;

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

// Reads the information area; 224 (low battery) still delivers it and counts as success.
template <std::size_t N>
StepOutcome ReadInfoArea(const padlogic::InfoRange (&ranges)[N]) {
    char area[padlogic::kInfoAreaSize] = {};
    StepOutcome outcome = DriverOutcome("", PinPad_GetCustInfo(area));
    if (*outcome.result == 224) outcome.ok = true;
    if (!outcome.ok) return outcome;
    for (const padlogic::InfoRange& range : ranges) {
        const std::string value = padlogic::InfoAreaField(area, range);
        if (const std::optional<FieldShape> shape = ShapeOf(range))
            TakeReplyField(outcome, JsonName(range.field), value, *shape);
        else
            outcome.reply[JsonName(range.field)] = value;
    }
    if (*outcome.result == 224) outcome.reply["low_battery"] = true;
    return outcome;
}

void AddInfoCommands(CLI::App& app, StepSlot& slot) {
    struct None {};
    AddStepCommand<None>(
        app, slot, "version", "read the pad's model, versions, date code and serial number",
        [](CLI::App&, None&) {},
        [](None&) {
            return Step{"version", true,
                        [](StepContext&) { return ReadInfoArea(padlogic::kVersionRanges); }};
        });

    CLI::App* info = app.add_subcommand("info", "the customer information area");
    info->require_subcommand(1);
    AddStepCommand<None>(
        *info, slot, "read", "read the customer information and the key values",
        [](CLI::App&, None&) {},
        [](None&) {
            return Step{"info read", true,
                        [](StepContext&) { return ReadInfoArea(padlogic::kCustomerRanges); }};
        });

    struct Write {
        std::string text;
    };
    AddStepCommand<Write>(
        *info, slot, "write", "write the customer information (1 to 50 characters)",
        [](CLI::App& command, Write& s) {
            command.add_option("TEXT", s.text, "the customer information")
                ->required()
                ->check(CLI::Validator(
                    [](std::string& v) -> std::string {
                        return v.empty() || v.size() > 50 ? "takes 1 to 50 characters" : "";
                    },
                    "TEXT"));
        },
        [](Write& s) {
            return Step{
                "info write", true, [text = s.text](StepContext&) {
                    return DriverOutcome(
                        text, PinPad_SetCustInfo(text.c_str(), static_cast<unsigned>(text.size())));
                }};
        });
}

void AddKeyboardCommand(CLI::App& app, StepSlot& slot) {
    struct Values {
        std::string main, left, right;
    };
    AddStepCommand<Values>(
        app, slot, "keyboard", "set the codes the pad's keys report",
        [](CLI::App& command, Values& s) {
            command.add_option("MAIN", s.main, "main keys, 32 hex characters")
                ->required()
                ->check(HexText({32}));
            command.add_option("LEFT", s.left, "left function keys, 8 hex characters")
                ->required()
                ->check(HexText({8}));
            command.add_option("RIGHT", s.right, "right function keys, 8 hex characters")
                ->required()
                ->check(HexText({8}));
        },
        [](Values& s) {
            const std::string text = padlogic::ToUpper(s.main + s.left + s.right);
            return Step{"keyboard", true, [text](StepContext&) {
                            return DriverOutcome(
                                text, PinPad_SetKeyboardValue(text.c_str(),
                                                              static_cast<unsigned>(text.size())));
                        }};
        });
}

// The host speeds of the pad's serial-speed values 0x41 to 0x47.
constexpr int kSpeedForValue[] = {1200, 2400, 4800, 9600, 19200, 38400, 115200};
constexpr int kSerialSpeedCode = 6;
constexpr int kKeyLockCode = 1;

void AddControlCommand(CLI::App& app, StepSlot& slot) {
    struct Control {
        std::string code, value;
        bool invalidate = false;
    };
    AddStepCommand<Control>(
        app, slot, "control", "send a control code: CODE 0-9, A, B and a two-digit hex VALUE",
        [](CLI::App& command, Control& s) {
            command.add_option("CODE", s.code, "control code 0-9, A or B")
                ->required()
                ->check(CLI::Validator(
                    [](std::string& v) -> std::string {
                        return v.size() == 1 &&
                                       std::string("0123456789ABab").find(v) != std::string::npos
                                   ? ""
                                   : "control code " + Quoted(v) + " is not one of 0-9, A, B";
                    },
                    "CODE"));
            command.add_option("VALUE", s.value, "two hex digits")->required()->check(HexText({2}));
            command.add_flag(
                "--invalidate", s.invalidate,
                "code 1: lock the key temporarily (adds 0x80) instead of releasing it");
        },
        [](Control& s) {
            const int code = std::stoi(s.code, nullptr, 16);
            int value = static_cast<int>(padlogic::HexByteAt(s.value, 0));
            if (s.invalidate && code != kKeyLockCode)
                RefuseArgument("--invalidate", "applies to control code 1 only");
            if (s.invalidate) value |= 0x80;
            char text[4];
            std::snprintf(text, sizeof text, "%X%02X", code, value);
            return Step{
                "control", true, [text = std::string(text), code, value](StepContext& context) {
                    StepOutcome outcome =
                        DriverOutcome(text, PinPad_SetControlCode(text.c_str(), 3));
                    // A new serial speed on the pad: follow it on the host side.
                    if (outcome.ok && code == kSerialSpeedCode && value >= 0x41 && value <= 0x47) {
                        const int baud = kSpeedForValue[value - 0x41];
                        const int reopened = context.port.Reopen(baud);
                        outcome.reply["host_baud"] = baud;
                        if (reopened != 0) {
                            outcome.ok = false;
                            outcome.result = reopened;
                            outcome.message =
                                "control code set, but the port did not open again at " +
                                std::to_string(baud) + " baud";
                        }
                    }
                    return outcome;
                }};
        });
}

// Clear-text keypad: every key arrives as its own character.
void AddKeypadCommand(CLI::App& app, StepSlot& slot) {
    struct Keypad {
        int count = 0;
        int seconds = 60;
    };
    AddStepCommand<Keypad>(
        app, slot, "keypad",
        "open the clear-text keypad and show the keys pressed until Enter or Escape (or COUNT "
        "keys)",
        [](CLI::App& command, Keypad& s) {
            command.add_option("--count", s.count, "stop after this many keys")
                ->check(WholeNumber(1, 255));
            command.add_option("--entry-timeout", s.seconds, "seconds to wait for the keys")
                ->check(WholeNumber(1, 3600))
                ->capture_default_str();
        },
        [](Keypad& s) {
            return Step{"keypad", true, [s](StepContext& context) {
                            int result = PinPad_SetControlCode("035", 3);
                            if (result == 0) result = PinPad_SetControlCode("033", 3);
                            StepOutcome outcome = DriverOutcome("035 033", result);
                            if (!outcome.ok) return outcome;
                            std::string keys;
                            const bool ended = CollectPadBytes(s.seconds, [&](unsigned char byte) {
                                keys.push_back(static_cast<char>(byte));
                                context.echo << EchoCharacter(byte) << std::flush;
                                if (s.count > 0) return static_cast<int>(keys.size()) >= s.count;
                                return byte == kEnterByte || byte == kEscapeByte;
                            });
                            context.echo << '\n' << std::flush;
                            EndPadInput();
                            outcome.reply["keys"] = IsPrintable(keys) ? keys : std::string();
                            outcome.reply["hex"] = BytesToHex(keys);
                            if (!ended) {
                                outcome.ok = false;
                                outcome.message = "the keys did not end within " +
                                                  std::to_string(s.seconds) + " s";
                            }
                            return outcome;
                        }};
        });
}

void AddDisplayCommand(CLI::App& app, StepSlot& slot) {
    struct Display {
        std::string mode, data, text;
    };
    AddStepCommand<Display>(
        app, slot, "display",
        "write to the pad's display: MODE 30 with hex bytes (or --text), 31/32 with a one-byte "
        "code, 40-7F with up to 64 hex characters of cipher text",
        [](CLI::App& command, Display& s) {
            command.add_option("MODE", s.mode, "display mode, two hex digits")
                ->required()
                ->check(KeyIndex(0x30, 0x7F));
            command.add_option("DATA", s.data, "the mode's data as hex")
                ->check(CLI::Validator(
                    [](std::string& v) {
                        return IsHexText(v) ? "" : Quoted(v) + " is not hexadecimal text";
                    },
                    "HEX"));
            command.add_option("--text", s.text, "mode 30: the text itself instead of hex bytes");
        },
        [](Display& s) {
            const int mode = static_cast<int>(padlogic::HexByteAt(s.mode, 0));
            std::string record(1, static_cast<char>(mode));
            if (!s.text.empty() && mode != 0x30) RefuseArgument("--text", "is for mode 30 only");
            if (!s.text.empty() && !s.data.empty())
                RefuseArgument("--text", "replaces DATA; give one of them");
            if (mode == 0x30) {
                if (s.data.size() % 2 != 0)
                    RefuseArgument("DATA", "needs an even number of hex characters");
                record += s.text.empty() ? HexToBytes(s.data) : s.text;
                if (record.size() > 255) RefuseArgument("DATA", "takes at most 254 bytes");
            } else if (mode == 0x31 || mode == 0x32) {
                if (s.data.size() != 2)
                    RefuseArgument("DATA", "modes 31 and 32 need one code byte, two hex digits");
                record += HexToBytes(s.data);
            } else if (mode >= 0x40) {
                if (s.data.size() % 16 != 0 || s.data.size() > 64)
                    RefuseArgument("DATA",
                                   "needs whole 16-character blocks, at most 64 characters");
                record += padlogic::ToUpper(s.data);
            } else {
                RefuseArgument("MODE",
                               Quoted(s.mode) + " is not a display mode (30, 31, 32, 40-7F)");
            }
            return Step{"display", true, [record](StepContext&) {
                            return DriverOutcome(
                                BytesToHex(record),
                                PinPad_DispInfoLcd(record.data(), static_cast<int>(record.size())));
                        }};
        });
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

void AddCardCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* card = app.add_subcommand("card", "the IC card in one of the pad's sockets");
    card->require_subcommand(1);
    struct Control {
        int socket = 1;
    };
    const struct {
        const char* name;
        const char* description;
        int action;
    } actions[] = {{"power-on", "power the card up; reply: its answer to reset", 1},
                   {"status", "ask for the card's status", 2},
                   {"power-off", "power the card down", 3}};
    for (const auto& action : actions) {
        AddStepCommand<Control>(
            *card, slot, action.name, action.description,
            [](CLI::App& command, Control& s) {
                command.add_option("--socket", s.socket, "socket 1-8")
                    ->check(WholeNumber(1, 8))
                    ->capture_default_str();
            },
            [name = std::string(action.name), code = action.action](Control& s) {
                return Step{"card " + name, true, [socket = s.socket, code](StepContext&) {
                                return CardControl(socket, code);
                            }};
            });
    }

    struct Apdu {
        std::string apdu;
        int socket = 1;
    };
    AddStepCommand<Apdu>(
        *card, slot, "apdu",
        "send a command APDU (hex: CLA INS P1 P2 [Lc data] [Le]); reply: data and SW",
        [](CLI::App& command, Apdu& s) {
            command.add_option("APDU", s.apdu, "the command APDU as hex")
                ->required()
                ->check(HexText());
            command.add_option("--socket", s.socket, "socket 1-8")
                ->check(WholeNumber(1, 8))
                ->capture_default_str();
        },
        [](Apdu& s) {
            const std::string bytes = HexToBytes(s.apdu);
            if (bytes.size() < 5)
                RefuseArgument("APDU", "needs a header and Lc or Le: at least 5 bytes");
            if (bytes.size() > 5) {
                const std::size_t lc = static_cast<unsigned char>(bytes[4]);
                if (lc == 0 || (bytes.size() != 5 + lc && bytes.size() != 6 + lc)) {
                    RefuseArgument("APDU", "Lc " + std::to_string(lc) + " does not match the " +
                                               std::to_string(bytes.size() - 5) +
                                               " bytes after it");
                }
            }
            const std::string request = std::to_string(s.socket) + padlogic::ToUpper(s.apdu);
            return Step{"card apdu", true, [request](StepContext&) {
                            char answer[kCardReplySize] = {};
                            StepOutcome outcome =
                                DriverOutcome(request, PinPad_IC_Access(request.c_str(), answer));
                            if (!outcome.ok) return outcome;
                            // The card's response data, then its two-byte status word.
                            const std::string reply = answer;
                            const std::size_t split = reply.size() < 4 ? 0 : reply.size() - 4;
                            TakeReplyField(outcome, "data", reply.substr(0, split),
                                           {FieldKind::HexBytes, 0});
                            TakeReplyField(outcome, "sw", reply.substr(split),
                                           Exactly(FieldKind::Hex, 4));
                            return outcome;
                        }};
        });
}

}  // namespace

void AddDeviceCommands(CLI::App& app, StepSlot& slot) {
    AddInfoCommands(app, slot);
    AddKeyboardCommand(app, slot);
    AddControlCommand(app, slot);
    AddKeypadCommand(app, slot);
    AddDisplayCommand(app, slot);
    AddCardCommands(app, slot);
}

}  // namespace cli
