#include "certification.h"

#include <chrono>
#include <cstdio>
#include <string_view>

#include "check_value.h"
#include "exchange.h"
#include "host_crypto.h"
#include "info_area.h"
#include "key_parts.h"
#include "pin_block.h"
#include "test_material.h"

namespace certify {
namespace {

using Clock = std::chrono::steady_clock;

// How long a person has to type on the pad before the check gives up.
constexpr auto kTypingLimit = std::chrono::seconds(120);
// The wait for the PIN block, in seconds, as the test program gives it.
constexpr int kPinReadSeconds = 5;
// After this many exchanges in a row without a usable answer, and without a late one, the pad
// counts as gone.
constexpr int kSilentLimit = 3;

constexpr unsigned char kEtx = 0x03;
constexpr unsigned char kEnter = 0x0D;
constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kStar = 0x2A;
constexpr unsigned char kBackspace = 0x08;
constexpr unsigned char kPadTimeout = 0x80;

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto today = floor<days>(now);
    const year_month_day date{today};
    const hh_mm_ss time{floor<seconds>(now - today)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                  static_cast<long>(time.minutes().count()),
                  static_cast<long long>(time.seconds().count()));
    return text;
}

std::string Hex2(int value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value & 0xFF));
    return text;
}

class Certification {
public:
    Certification(const shell::DriverEntries& driver, LastFailureFunction lastFailure,
                  const Line& line, const Settings& settings, Operator& person)
        : m_d(driver),
          m_lastFailure(lastFailure),
          m_line(line),
          m_settings(settings),
          m_person(person) {
        m_certificate.device = settings.device;
        m_certificate.baud = settings.baud;
        m_certificate.station = settings.station;
        m_certificate.operatorName = settings.operatorName;
        m_certificate.toolVersion = settings.toolVersion;
        m_certificate.unit.label = settings.unitLabel;
        m_certificate.date = UtcNow();
    }

    Certificate Run() {
        const struct {
            const char* name;
            void (Certification::*run)();
        } stages[] = {{"setup", &Certification::Setup},
                      {"keys", &Certification::Keys},
                      {"authentication", &Certification::Authentication},
                      {"PIN", &Certification::Pins},
                      {"MAC", &Certification::Macs},
                      {"data", &Certification::Data},
                      {"display", &Certification::Display},
                      {"card", &Certification::Cards},
                      {"restoring the settings", &Certification::Restore}};
        const int total = static_cast<int>(std::size(stages));
        int done = 0;
        for (const auto& stage : stages) {
            m_person.Progress(done++, total, stage.name);
            const auto run = stage.run;
            (this->*run)();
        }
        m_person.Progress(total, total, "done");
        if (m_interrupted) {
            // The pad may be in an input mode, and keep what the certification wrote: both are
            // put right while the waits are allowed again.
            m_person.AfterInterrupt([this] {
                m_afterInterrupt = true;
                m_d.PinPad_SetControlCode("032", 3);
                Restore();
            });
        }
        m_certificate.interrupted = m_interrupted;
        m_certificate.conformance = Judge(m_certificate.checks, m_interrupted);
        return std::move(m_certificate);
    }

private:
    // --- checks and their verdicts -------------------------------------------------------------

    CheckResult Begin(Family family, std::string name, char command, std::string expected) {
        CheckResult check;
        check.family = family;
        check.name = std::move(name);
        check.command = command;
        check.expected = std::move(expected);
        return check;
    }

    void Add(CheckResult check) {
        m_person.Checked(check);
        m_certificate.checks.push_back(std::move(check));
    }

    // Why no more checks run, or "" while they do.
    std::string StopReason() {
        if (!m_interrupted && m_person.Interrupted()) m_interrupted = true;
        if (m_interrupted && !m_afterInterrupt) return "interrupted";
        return m_stopReason;
    }

    // Adds `check` as not run when the certification has stopped; true then.
    bool Stopped(CheckResult& check) {
        const std::string why = StopReason();
        if (why.empty()) return false;
        check.verdict = Verdict::kNotRun;
        check.reason = why;
        Add(std::move(check));
        return true;
    }

    void NotRun(CheckResult check, std::string reason) {
        check.verdict = Verdict::kNotRun;
        check.reason = std::move(reason);
        Add(std::move(check));
    }

    // Runs `call` against the pad for `check` and judges the exchange. True when the pad answered
    // with success; else the check has its verdict.
    template <typename Call>
    bool Exchange(CheckResult& check, long long limitMs, Call&& call) {
        const certify::Exchange exchange = Timed(m_lastFailure, call);
        const bool answered = TakeExchange(check, exchange, limitMs);
        if (answered || !NoUsableAnswer(exchange.result)) {
            m_silentInARow = 0;
            return answered;
        }
        if (m_person.Interrupted()) {
            m_interrupted = true;
            check.verdict = Verdict::kError;
            check.reason = "interrupted";
            return false;
        }
        if (exchange.reason == LUMENORD_FAILURE_LINE_HUNG_UP) {
            m_stopReason = "the line hung up before this check";
        } else if (exchange.reason == LUMENORD_FAILURE_NO_REPLY ||
                   exchange.reason == LUMENORD_FAILURE_CUT_REPLY) {
            // A reply that comes late must not pass for the next command's answer.
            if (DrainLateReply(limitMs)) {
                m_silentInARow = 0;
            } else if (++m_silentInARow >= kSilentLimit) {
                m_stopReason = "three exchanges in a row before this check got no usable answer";
            }
        }
        return false;
    }

    // How two values are compared: hexadecimal without regard to case, text as it stands, a
    // secret as text that is never shown.
    enum class Value { kHex, kText, kSecret };

    // Compares what the pad gave with what the host computed or wrote.
    void Compare(CheckResult& check, const std::string& expected, const std::string& measured,
                 Value value = Value::kHex) {
        const bool same = value == Value::kHex
                              ? padlogic::ToUpper(expected) == padlogic::ToUpper(measured)
                              : expected == measured;
        check.measured = value != Value::kSecret ? measured : same ? "as expected" : "differs";
        if (check.verdict == Verdict::kFailed) return;  // already late
        check.verdict = same ? Verdict::kPassed : Verdict::kFailed;
        if (!same) check.reason = "differs from the expected value";
    }

    // Takes what arrives of a late reply, until its end or `limitMs`; true when a byte came.
    bool DrainLateReply(long long limitMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        bool any = false;
        int afterEnd = -1;
        while (Clock::now() < deadline && afterEnd < 2 && !m_person.Interrupted()) {
            unsigned char byte = 0;
            if (m_d.PinPad_ReadOneByte(&byte) != 0) continue;
            any = true;
            if (afterEnd >= 0) ++afterEnd;
            if (byte == kEtx && afterEnd < 0) afterEnd = 0;
        }
        return any;
    }

    // Collects the bytes the pad sends while a person types, until `done` says so, the person
    // takes too long or the certification is interrupted. The end that `done` saw, or "" when it
    // saw none.
    template <typename Done>
    std::string Collect(Done&& done) {
        const auto deadline = Clock::now() + kTypingLimit;
        while (Clock::now() < deadline) {
            if (m_person.Interrupted()) {
                m_interrupted = true;
                return "";
            }
            unsigned char byte = 0;
            if (m_d.PinPad_ReadOneByte(&byte) != 0) continue;
            std::string end = done(byte);
            if (!end.empty()) return end;
        }
        return "";
    }

    std::string Des(const std::string& data, const std::string& key, bool decrypt) {
        char out[PINPAD_DES_RESULT_SIZE] = {};
        m_d.PinPad_TriUntriDes(data.c_str(), key.c_str(), out, decrypt ? 1 : 0);
        return out;
    }

    std::string Kcv(const std::string& key) {
        return padlogic::CheckValue(m_d.PinPad_TriUntriDes, key);
    }

    // --- setup ---------------------------------------------------------------------------------

    void Setup() {
        CheckResult open = Begin(Family::kSetup, "port and line settings", '\0',
                                 "opened at " + std::to_string(m_settings.baud) + " baud, 8N1");
        if (Stopped(open)) return;
        const int opened = m_line.open ? m_line.open() : PINPAD_ERR_PORT;
        open.measured = opened == 0 ? open.expected : ResultDescription(opened);
        open.verdict = opened == 0 ? Verdict::kPassed : Verdict::kError;
        if (opened != 0) {
            open.reason = m_line.describeOpenFailure ? m_line.describeOpenFailure(opened)
                                                     : "the port did not open";
            m_stopReason = "the port did not open";
        }
        Add(std::move(open));
        ReadIdentity();
        CustomerInformation();
        KeyboardValues();
        ControlCodes();
    }

    // Reads the information area; empty when the pad gave none.
    std::optional<std::string> ReadArea(CheckResult& check) {
        char area[padlogic::kInfoAreaSize] = {};
        const certify::Exchange exchange =
            Timed(m_lastFailure, [&] { return m_d.PinPad_GetCustInfo(area); });
        certify::Exchange judged = exchange;
        // 224 brings valid data: the pad only adds that its battery is low.
        if (judged.result == PINPAD_LOW_BATTERY) judged.result = PINPAD_OK;
        if (!TakeExchange(check, judged, CommandTimeoutMs(0))) return std::nullopt;
        if (exchange.result == PINPAD_LOW_BATTERY) m_lowBattery = true;
        return std::string(area, sizeof area);
    }

    static std::string Field(const std::string& area, padlogic::InfoRange range) {
        char copy[padlogic::kInfoAreaSize] = {};
        area.copy(copy, sizeof copy);
        return padlogic::InfoAreaField(copy, range);
    }

    // The codes the pad's keys report: main, left and right, as one text.
    static constexpr padlogic::InfoRange kKeyRanges[] = {
        padlogic::kMainKeyRange, padlogic::kLeftKeyRange, padlogic::kRightKeyRange};

    // Reads the information area again after a write and compares the `ranges` with `expected`;
    // a read that fails gives the check its verdict. `quoted`: the measured text in quotes.
    template <typename Ranges>
    void ReadBack(CheckResult& check, const std::string& expected, const Ranges& ranges,
                  bool quoted = false) {
        CheckResult read = check;
        const auto area = ReadArea(read);
        if (!area) {
            check.verdict = read.verdict;
            check.reason = "read back: " + read.reason;
            return;
        }
        std::string measured;
        for (const padlogic::InfoRange& range : ranges) measured += Field(*area, range);
        Compare(check, expected, measured, Value::kText);
        if (quoted) check.measured = "reads back '" + check.measured + "'";
    }

    void ReadBack(CheckResult& check, const std::string& expected,
                  std::initializer_list<padlogic::InfoRange> ranges, bool quoted = false) {
        ReadBack<std::initializer_list<padlogic::InfoRange>>(check, expected, ranges, quoted);
    }

    void ReadIdentity() {
        CheckResult check = Begin(Family::kSetup, "information area read", '3',
                                  "model, serial, firmware, hardware and date code, printable");
        if (Stopped(check)) return;
        const auto area = ReadArea(check);
        if (area) {
            Unit& unit = m_certificate.unit;
            unit.model = Field(*area, padlogic::kProductTypeRange);
            unit.serial = Field(*area, padlogic::kProductNoRange);
            unit.firmware = Field(*area, padlogic::kSoftwareVersionRange);
            unit.hardware = Field(*area, padlogic::kHardwareVersionRange);
            unit.dateCode = Field(*area, padlogic::kDateRange);
            unit.description = Field(*area, padlogic::kRemarkRange);
            m_customerInfo = Field(*area, padlogic::kCustomerInfoRange);
            m_keyboardValues = Field(*area, padlogic::kMainKeyRange) +
                               Field(*area, padlogic::kLeftKeyRange) +
                               Field(*area, padlogic::kRightKeyRange);
            m_areaRead = true;
            const bool whole = !unit.model.empty() && !unit.serial.empty() &&
                               !unit.firmware.empty() && !unit.hardware.empty() &&
                               !unit.dateCode.empty();
            check.measured = "model " + unit.model + ", serial " + unit.serial + ", firmware " +
                             unit.firmware + ", hardware " + unit.hardware + ", date code " +
                             unit.dateCode + (m_lowBattery ? "; low battery (status 224)" : "");
            if (check.verdict != Verdict::kFailed) {
                check.verdict = whole ? Verdict::kPassed : Verdict::kFailed;
                if (!whole) check.reason = "a version field is empty";
            }
        }
        Add(std::move(check));
    }

    // Writes `text` as the customer information and reads it back.
    void CustomerWrite(const std::string& name, const std::string& text,
                       const std::string& expect) {
        CheckResult check = Begin(Family::kSetup, name, '3', "reads back '" + expect + "'");
        if (Stopped(check)) return;
        if (!m_areaRead) return NotRun(std::move(check), "the information area could not be read");
        if (Exchange(check, CommandTimeoutMs(text.size()), [&] {
                return m_d.PinPad_SetCustInfo(text.c_str(), static_cast<unsigned>(text.size()));
            })) {
            m_customerChanged = true;
            ReadBack(check, expect, {padlogic::kCustomerInfoRange}, true);
        }
        Add(std::move(check));
    }

    void CustomerInformation() {
        // A write of no bytes is the read request: it must leave the text as it was.
        CustomerWrite("customer information, empty (a write of no bytes reads)", "",
                      m_customerInfo);
        CustomerWrite("customer information, one byte", "C", "C");
        CustomerWrite("customer information, 50 bytes (the largest)",
                      std::string(kLongCustomerInfo), std::string(kLongCustomerInfo));
    }

    void KeyboardValues() {
        CheckResult check = Begin(Family::kSetup, "keyboard values", '4',
                                  "the 48 characters read back from the information area");
        if (Stopped(check)) return;
        if (!m_areaRead) return NotRun(std::move(check), "the information area could not be read");
        const std::string values(kKeyboardValues);
        if (Exchange(check, CommandTimeoutMs(values.size()), [&] {
                return m_d.PinPad_SetKeyboardValue(values.c_str(),
                                                   static_cast<unsigned>(values.size()));
            })) {
            m_keyboardChanged = true;
            ReadBack(check, values, kKeyRanges);
        }
        Add(std::move(check));
    }

    // Sends control code `code`; `changes`, when not empty, is what it leaves on the pad.
    void ControlCode(const std::string& code, const std::string& meaning,
                     const std::string& changes, bool changesSettings) {
        CheckResult check = Begin(
            Family::kSetup,
            "control code " + code.substr(0, 1) + " value " + code.substr(1) + " (" + meaning + ")",
            '5', "accepted");
        if (Stopped(check)) return;
        if (changesSettings && !m_settings.changeSettings)
            return NotRun(std::move(check),
                          "changes a setting that cannot be read back or undone; run with "
                          "--change-settings");
        if (Exchange(check, CommandTimeoutMs(code.size()), [&] {
                return m_d.PinPad_SetControlCode(code.c_str(), static_cast<unsigned>(code.size()));
            })) {
            if (check.verdict != Verdict::kFailed) check.verdict = Verdict::kPassed;
            check.measured = "accepted";
            if (!changes.empty()) m_certificate.changesLeft.push_back(changes);
        }
        Add(std::move(check));
    }

    void ControlCodes() {
        ControlCode("033", "clear-text keypad on", "", false);
        ControlCode("032", "input off", "", false);
        ControlCode("030", "initialize the settings",
                    "the settings initialized (control code 0 value 30)", true);
        ControlCode("1B1", "key 1 locked", "", true);
        ControlCode("131", "key 1 resumed", "key 1 unlocked (control code 1 value 31)", true);
        ControlCode("220", "PIN time-out 32 s", "PIN time-out 32 s (control code 2 value 20)",
                    true);
        if (!m_certificate.checks.empty() &&
            m_certificate.checks.back().verdict == Verdict::kPassed &&
            m_certificate.checks.back().name.rfind("control code 2 ", 0) == 0)
            m_certificate.pinTimeoutSeconds = 0x20;
        ControlCode("320", "PIN fill code 20", "PIN fill code 20 (control code 3)", true);
        ControlCode("404", "PIN minimum length 4", "PIN minimum length 4 (control code 4)", true);
        ControlCode("512", "PIN maximum length 12", "PIN maximum length 12 (control code 5)", true);
        LineSpeed();
        ControlCode("730", "voice prompt 30", "voice prompt 30 (control code 7)", true);
        ControlCode("820", "buzzer timing 20", "buzzer timing 20 (control code 8)", true);
        ControlCode("930", "protection code 30", "protection code 30 (control code 9)", true);
        ControlCode("A10", "key-press timing 10", "key-press timing 10 (control code A)", true);
        ControlCode("B20", "clear key 20", "clear key handling 20 (control code B)", true);
    }

    // Control code 6 at the speed the line already runs at, then the port opened again at it.
    void LineSpeed() {
        const int value = LineSpeedValue(m_settings.baud);
        if (value == 0) {
            return NotRun(
                Begin(Family::kSetup, "control code 6 (line speed)", '5', "accepted"),
                "the pad's speed list has no " + std::to_string(m_settings.baud) + " baud");
        }
        const std::string code = "6" + Hex2(value);
        const size_t before = m_certificate.checks.size();
        ControlCode(code, "line speed " + std::to_string(m_settings.baud) + " baud",
                    "line speed " + std::to_string(m_settings.baud) +
                        " baud (control code 6 value " + Hex2(value) + ")",
                    true);
        CheckResult& sent = m_certificate.checks.back();
        if (m_certificate.checks.size() == before || sent.verdict != Verdict::kPassed) return;
        const int reopened = m_line.reopen ? m_line.reopen(m_settings.baud) : PINPAD_ERR_PORT;
        if (reopened != 0) {
            sent.verdict = Verdict::kError;
            sent.reason = "the port did not open again: " + ResultDescription(reopened);
            m_stopReason = "the port did not open again after the line speed changed";
        }
    }

    // --- keys ----------------------------------------------------------------------------------

    // Loads a clear-text key record; when `kcv` is given, the verify code must be it.
    void ClearLoad(const std::string& name, const std::string& record, const std::string& kcv,
                   int refusal = 0, std::optional<KeyLoad> load = std::nullopt) {
        CheckResult check =
            Begin(Family::kKeys, name, '1',
                  refusal ? "refused: " + ResultDescription(refusal) : "verify code " + kcv);
        if (Stopped(check)) return;
        char reply[PINPAD_VERIFY_CODE_SIZE] = {};
        const bool answered = Exchange(check, CommandTimeoutMs(record.size()), [&] {
            return m_d.PinPad_DownloadKey(record.c_str(), static_cast<unsigned>(record.size()),
                                          reply, 0);
        });
        JudgeLoad(check, answered, reply, kcv, refusal);
        if (load && check.verdict == Verdict::kPassed) m_certificate.loads.push_back(*load);
        Add(std::move(check));
    }

    void CipherLoad(const std::string& name, const std::string& record, const std::string& kcv,
                    int refusal = 0, std::optional<KeyLoad> load = std::nullopt) {
        CheckResult check = Begin(Family::kKeys, name, '2',
                                  refusal       ? "refused: " + ResultDescription(refusal)
                                  : kcv.empty() ? "accepted"
                                                : "verify code " + kcv);
        if (Stopped(check)) return;
        char reply[PINPAD_VERIFY_CODE_SIZE] = {};
        const bool answered = Exchange(check, CommandTimeoutMs(record.size()), [&] {
            return m_d.PinPad_DownloadEncryptKey(record.c_str(),
                                                 static_cast<unsigned>(record.size()), reply);
        });
        JudgeLoad(check, answered, reply, kcv, refusal);
        if (load && check.verdict == Verdict::kPassed) m_certificate.loads.push_back(*load);
        Add(std::move(check));
    }

    // A load's verdict: the verify code it must give, or the refusal it must meet.
    void JudgeLoad(CheckResult& check, bool answered, const char* reply, const std::string& kcv,
                   int refusal) {
        if (refusal != 0) {
            if (answered) {
                check.verdict = Verdict::kFailed;
                check.measured = "accepted";
                check.reason = "the pad took what it must refuse";
            } else if (check.verdict == Verdict::kFailed &&
                       check.measured == ResultDescription(refusal)) {
                check.verdict = Verdict::kPassed;
                check.reason.clear();
            } else if (check.verdict == Verdict::kFailed) {
                check.reason = "refused for another reason: " + check.measured;
            }
            return;
        }
        if (!answered) return;
        if (kcv.empty()) {
            if (check.verdict != Verdict::kFailed) check.verdict = Verdict::kPassed;
            check.measured = "accepted";
            return;
        }
        Compare(check, "verify code " + kcv, "verify code " + std::string(reply));
    }

    void VerifyCodeRead(const std::string& decryptIndex, const std::string& index,
                        const std::string& kcv) {
        const std::string record = decryptIndex + index + "00";
        CheckResult check =
            Begin(Family::kKeys, "verify code of the key at " + index, '2', "verify code " + kcv);
        if (Stopped(check)) return;
        char reply[PINPAD_VERIFY_CODE_SIZE] = {};
        const bool answered = Exchange(check, CommandTimeoutMs(record.size()), [&] {
            return m_d.PinPad_DownloadEncryptKey(record.c_str(),
                                                 static_cast<unsigned>(record.size()), reply);
        });
        if (answered) Compare(check, "verify code " + kcv, "verify code " + std::string(reply));
        Add(std::move(check));
    }

    static KeyLoad Cipher(const std::string& decryptIndex, const std::string& index,
                          const std::string& tag, const std::string& clear) {
        KeyLoad load;
        load.kind = KeyLoad::Kind::kCipher;
        load.index = index;
        load.value = clear;
        load.decryptIndex = decryptIndex;
        load.tag = tag;
        return load;
    }

    void Wrote(const std::string& line) { m_certificate.keysWritten.push_back(line); }

    void Keys() {
        using namespace std::string_literals;
        // Every combination code of parts from the host at index 00; the last one, the three-part
        // XOR, stays as the key the others are enciphered under.
        const struct {
            int code;
            int lengthCode;
            std::string_view parts[3];
        } loads[] = {{0x30, 2, {kSinglePart, "", ""}},
                     {0x32, 2, {kHalfPart1, kHalfPart2, ""}},
                     {0x33, 3, {kHalfPart1, kHalfPart2, kHalfPart3}},
                     {0x34, 2, {kPart1, kPart2, ""}},
                     {0x31, 2, {kPart1, kPart2, kPart3}}};
        for (const auto& load : loads) {
            std::string combined;
            padlogic::CombineParts(load.code, load.lengthCode, load.parts[0], load.parts[1],
                                   load.parts[2], combined);
            const std::string record = "00"s + static_cast<char>(load.code) +
                                       std::to_string(load.lengthCode) +
                                       std::string(load.parts[0]) + std::string(load.parts[1]) +
                                       std::string(load.parts[2]);
            ClearLoad("clear-text key, code " + Hex2(load.code) + ", at 00", record, Kcv(combined),
                      0,
                      KeyLoad{KeyLoad::Kind::kClear,
                              "00",
                              {std::string(load.parts[0]), std::string(load.parts[1]),
                               std::string(load.parts[2])},
                              combined,
                              load.code,
                              {},
                              {}});
            if (load.code == 0x31) m_masterKey = combined;
        }
        Wrote("00: clear-text keys of codes 30, 32, 33, 34 and 31 (it keeps the last)");
        TypedKeys();
        CipherKeys();
        Refusals();
    }

    // Codes 41-43: each part typed on the pad, then the three combined (code 31 without parts).
    void TypedKeys() {
        const std::string typed(kTypedPart);
        for (int code = 0x41; code <= 0x43; ++code) {
            CheckResult check = Begin(Family::kKeys,
                                      "key part " + std::to_string(code - 0x40) +
                                          " typed on the pad, code " + Hex2(code) + ", at 01",
                                      '1', "each character echoed, ended with Enter");
            if (m_settings.skipTyped) {
                NotRun(std::move(check), "left out with --skip-typed");
                continue;
            }
            if (Stopped(check)) continue;
            const std::string record = "01" + std::string(1, static_cast<char>(code)) + "2";
            char reply[PINPAD_VERIFY_CODE_SIZE] = {};
            if (Exchange(check, CommandTimeoutMs(record.size()), [&] {
                    return m_d.PinPad_DownloadKey(record.c_str(),
                                                  static_cast<unsigned>(record.size()), reply, 0);
                })) {
                m_person.Prompt("type the key part " + typed + " on the pad, then Enter");
                std::string echoed;
                const std::string end = Collect([&](unsigned char byte) -> std::string {
                    if (byte == kEnter) return "Enter";
                    if (byte == kEscape) return "Escape";
                    if (byte == kPadTimeout) return "the pad's time-out";
                    if (byte == kBackspace) {
                        if (!echoed.empty()) echoed.pop_back();
                    } else {
                        echoed += static_cast<char>(byte);
                    }
                    return "";
                });
                if (end == "Enter") {
                    Compare(check, typed, echoed, Value::kSecret);
                    KeyLoad load{KeyLoad::Kind::kTyped, "01", {}, typed, code, {}, {}};
                    load.parts[code - 0x41] = echoed;
                    if (check.verdict == Verdict::kPassed) m_certificate.loads.push_back(load);
                    check.measured = check.verdict == Verdict::kPassed
                                         ? "echoed as typed, ended with Enter"
                                         : "the echo differs from what was typed";
                } else {
                    check.verdict = m_interrupted ? Verdict::kError : Verdict::kFailed;
                    check.reason = m_interrupted ? "interrupted"
                                   : end.empty() ? "nothing ended the entry within 120 s"
                                                 : "the entry ended with " + end;
                    // An entry nothing ended is still open on the pad.
                    if (!m_interrupted && end.empty()) m_d.PinPad_SetControlCode("032", 3);
                }
            }
            Add(std::move(check));
        }
        if (m_settings.skipTyped) {
            Wrote("01: not written (--skip-typed)");
            return NotRun(Begin(Family::kKeys, "parts typed on the pad combined, code 31, at 01",
                                '1', "verify code of the three typed parts"),
                          "left out with --skip-typed");
        }
        // Parts typed on the pad are 8 characters per length unit, so 16 characters take the
        // length code 1 of the host's parts.
        std::string combined;
        padlogic::CombineParts(0x31, 1, typed, typed, typed, combined);
        // The value is known here, but recorded as a key typed on the pad is: masked.
        const std::string mask(padlogic::kKeyMask);
        ClearLoad("parts typed on the pad combined, code 31, at 01", "0111", Kcv(combined), 0,
                  KeyLoad{KeyLoad::Kind::kClear, "01", {mask, mask, mask}, mask, 0x31, {}, {}});
        VerifyCodeRead("00", "01", Kcv(combined));
        Wrote("01: key typed on the pad (codes 41, 42, 43, combined with code 31)");
    }

    void CipherKeys() {
        m_terminalKey = padlogic::OddParity(kTerminalKey);
        const std::string tmkCipher =
            padlogic::Encipher(m_d.PinPad_TriUntriDes, m_terminalKey, m_masterKey);
        CipherLoad("cipher-text key, TMK, at 10 under 00",
                   "001022" + tmkCipher + Kcv(m_terminalKey), Kcv(m_terminalKey), 0,
                   Cipher("00", "10", "TMK", m_terminalKey));
        Wrote("10: TMK");
        const struct {
            const char* tag;
            char digit;
            const char* index;
            std::string_view key;
            std::string* keep;
        } working[] = {{"TPK", '3', "30", kPinKey, &m_pinKey},
                       {"TAK", '5', "31", kMacKey, &m_macKey},
                       {"TDK", '6', "32", kDataKey, &m_dataKey},
                       {"TDEK", '7', "33", kDataKey, nullptr},
                       {"TDDK", '8', "34", kDataKey, nullptr},
                       {"TDSK", '9', "40", kDisplayKey, &m_displayKey}};
        for (const auto& key : working) {
            const std::string clear = padlogic::OddParity(key.key);
            const std::string cipher =
                padlogic::Encipher(m_d.PinPad_TriUntriDes, clear, m_terminalKey);
            CipherLoad(
                "cipher-text key, " + std::string(key.tag) + ", at " + key.index + " under 10",
                "10" + std::string(key.index) + key.digit + "2" + cipher + Kcv(clear), Kcv(clear),
                0, Cipher("10", key.index, key.tag, clear));
            if (key.keep) *key.keep = clear;
            Wrote(std::string(key.index) + ": " + key.tag);
        }
        VerifyCodeRead("00", "10", Kcv(m_terminalKey));
        VerifyCodeRead("10", "30", Kcv(m_pinKey));
        VerifyCodeRead("10", "31", Kcv(m_macKey));
    }

    void Refusals() {
        // A wrong key length: code 30 with length code 2 takes 32 characters, not 16.
        ClearLoad("refusal: clear-text key of the wrong length, at 02",
                  "0202" + std::string(kHalfPart1), "", 0xE3);
        // A verify code that differs from the key's.
        const std::string clear = padlogic::OddParity(kDataKey);
        std::string wrong = Kcv(clear);
        if (!wrong.empty()) wrong[0] = wrong[0] == '0' ? '1' : '0';
        CipherLoad(
            "refusal: cipher-text key with a wrong verify code, at 3E",
            "103E62" + padlogic::Encipher(m_d.PinPad_TriUntriDes, clear, m_terminalKey) + wrong, "",
            0xE7);
        // A key at an index that holds none: 3F loaded, erased, then named as decryption key.
        CipherLoad("cipher-text key, TDK, at 3F under 10",
                   "103F62" + padlogic::Encipher(m_d.PinPad_TriUntriDes, clear, m_terminalKey) +
                       Kcv(clear),
                   Kcv(clear), 0, Cipher("10", "3F", "TDK", clear));
        KeyLoad erased = Cipher("10", "3F", "NOK", "");
        erased.kind = KeyLoad::Kind::kErased;
        CipherLoad("erase the key at 3F (NOK)", "103F01" + std::string(16, '0'), "", 0, erased);
        Wrote("3F: TDK, then erased");
        CipherLoad("refusal: decryption key at 3F, which holds none",
                   "3F3E62" + padlogic::Encipher(m_d.PinPad_TriUntriDes, clear, m_terminalKey) +
                       Kcv(clear),
                   "", 0xE4);
    }

    // --- authentication ------------------------------------------------------------------------

    std::optional<std::string> Challenge(const std::string& name, const std::string& earlier) {
        CheckResult check =
            Begin(Family::kAuthentication, name, ':',
                  earlier.empty() ? "32 hex characters" : "32 hex characters, not the earlier one");
        if (Stopped(check)) return std::nullopt;
        char reply[PINPAD_AUTH_REPLY_SIZE] = {};
        std::optional<std::string> challenge;
        if (Exchange(check, CommandTimeoutMs(34), [&] { return m_d.PinPad_GetChallenge(reply); })) {
            const std::string got(reply);
            const bool shaped = got.size() == 32 && padlogic::IsHex(got);
            check.measured = got;
            if (check.verdict != Verdict::kFailed) {
                check.verdict = shaped && got != earlier ? Verdict::kPassed : Verdict::kFailed;
                if (!shaped)
                    check.reason = "not 32 hex characters";
                else if (got == earlier)
                    check.reason = "the same challenge again";
            }
            if (shaped) challenge = got;
        }
        Add(std::move(check));
        return challenge;
    }

    void Authentication() {
        const auto first = Challenge("challenge", "");
        Challenge("a second challenge", first.value_or(""));
        const std::string data(kAuthenticationData);
        CheckResult init =
            Begin(Family::kAuthentication, "initialize attestation", ':', "32 hex characters");
        CheckResult mutual = Begin(Family::kAuthentication, "mutual authentication with key 00",
                                   ':', "32 hex characters");
        if (!m_settings.changeSettings) {
            const std::string why =
                "initialize attestation cannot be undone (attestation is then needed at every "
                "power-on); run with --change-settings";
            NotRun(std::move(init), why);
            return NotRun(std::move(mutual), "needs initialize attestation: " + why);
        }
        if (Stopped(init)) return NotRun(std::move(mutual), StopReason());
        char reply[PINPAD_AUTH_REPLY_SIZE] = {};
        const bool initialized = Exchange(init, CommandTimeoutMs(2 + data.size()), [&] {
            return m_d.PinPad_InitAuthorization(data.c_str(), static_cast<unsigned>(data.size()),
                                                reply);
        });
        if (initialized) {
            const std::string got(reply);
            init.measured = got.size() == 32 && padlogic::IsHex(got) ? "32 hex characters" : got;
            if (init.verdict != Verdict::kFailed)
                init.verdict =
                    init.measured == "32 hex characters" ? Verdict::kPassed : Verdict::kFailed;
            m_certificate.changesLeft.push_back(
                "attestation initialized with the certification's authentication data: the pad "
                "needs attestation at every power-on");
            if (init.verdict == Verdict::kPassed) m_certificate.authData = got;
            Wrote("authentication data (initialize attestation)");
        }
        Add(std::move(init));
        if (!initialized) return NotRun(std::move(mutual), "initialize attestation failed");
        if (Stopped(mutual)) return;
        char challenge[PINPAD_AUTH_REPLY_SIZE] = {};
        if (m_d.PinPad_GetChallenge(challenge) != 0)
            return NotRun(std::move(mutual), "no challenge for it");
        const std::string random(challenge);
        char answer[PINPAD_AUTH_REPLY_SIZE] = {};
        // Two exchanges: the key index with the challenge, then the answer.
        if (Exchange(mutual, 2 * CommandTimeoutMs(2 + random.size()), [&] {
                return m_d.PinPad_BidirectionalAuthorization(data.c_str(),
                                                             static_cast<unsigned>(random.size()),
                                                             "00", random.c_str(), answer);
            })) {
            const std::string got(answer);
            const bool shaped = got.size() == 32 && padlogic::IsHex(got);
            mutual.measured = shaped ? "32 hex characters" : got;
            if (mutual.verdict != Verdict::kFailed)
                mutual.verdict = shaped ? Verdict::kPassed : Verdict::kFailed;
        }
        Add(std::move(mutual));
    }

    // --- PIN -----------------------------------------------------------------------------------

    void Pins() {
        const struct {
            const char* name;
            char type;
            padlogic::PinBlockFormat format;
            std::string_view account;
        } formats[] = {{"ASCII", '@', padlogic::PinBlockFormat::kAscii, ""},
                       {"ISO9564_0", ' ', padlogic::PinBlockFormat::kIso0, kAccount},
                       {"ISO9564_1", '!', padlogic::PinBlockFormat::kIso1, kTranscode},
                       {"ISO9564_3", '#', padlogic::PinBlockFormat::kIso3, kAccount},
                       {"IBM3624", '0', padlogic::PinBlockFormat::kIbm3624, ""}};
        for (const auto& format : formats)
            Pin(format.name, format.type, format.format, format.account);
    }

    void Pin(const std::string& name, char type, padlogic::PinBlockFormat format,
             std::string_view account) {
        const std::string& pin = m_settings.pin;
        char length[3];
        std::snprintf(length, sizeof length, "%02zu", pin.size());
        const std::string start = "30" + std::string(1, type) + "0" + length + std::string(account);
        CheckResult started = Begin(Family::kPin, "PIN entry started, " + name, '6', "accepted");
        CheckResult block = Begin(Family::kPin, "PIN block, " + name + ", decoded on the host", '7',
                                  "the PIN typed (" + std::to_string(pin.size()) + " digits)");
        if (m_pinKey.empty()) {
            NotRun(std::move(started), "the PIN key at 30 was not loaded");
            return NotRun(std::move(block), "the PIN key at 30 was not loaded");
        }
        if (Stopped(started)) return NotRun(std::move(block), StopReason());
        const bool open = Exchange(started, CommandTimeoutMs(start.size()), [&] {
            return m_d.PinPad_EnablePin(start.c_str(), static_cast<unsigned>(start.size()));
        });
        if (open) {
            if (started.verdict != Verdict::kFailed) started.verdict = Verdict::kPassed;
            started.measured = "accepted";
        }
        Add(std::move(started));
        if (!open) return NotRun(std::move(block), "the entry did not start");
        m_person.Prompt("PIN format " + name + ": type the PIN " + pin + " on the pad");
        std::size_t digits = 0;
        const std::string end = Collect([&](unsigned char byte) -> std::string {
            if (byte == kEnter) return "Enter";
            if (byte == kEscape) return "Escape";
            if (byte == kPadTimeout) return "the pad's time-out";
            if (byte == kBackspace && digits > 0) --digits;
            if (byte == kStar && ++digits == pin.size()) return "length";
            return "";
        });
        if (end != "Enter" && end != "length") {
            block.verdict = m_interrupted ? Verdict::kError : Verdict::kFailed;
            block.reason = m_interrupted ? "interrupted"
                           : end.empty() ? "nothing ended the entry within 120 s"
                                         : "the entry ended with " + end;
            if (!m_interrupted) m_d.PinPad_SetControlCode("032", 3);
            return Add(std::move(block));
        }
        char reply[PINPAD_PIN_VALUE_SIZE] = {};
        if (Exchange(block, kPinReadSeconds * 1000LL,
                     [&] { return m_d.PinPad_GetPinValue("", 0, kPinReadSeconds, reply); })) {
            const std::string value(reply);
            const std::string reportedLength = value.substr(2, 2);
            const std::string cipher = value.size() >= 20 ? value.substr(4, 16) : "";
            if (cipher.size() != 16 || !padlogic::IsHex(cipher)) {
                block.verdict = Verdict::kFailed;
                block.measured = "a reply of " + std::to_string(value.size()) + " characters";
                block.reason = "no 16-character PIN block in the reply";
            } else {
                const auto decoded = padlogic::DecodePinBlock(
                    format, Des(cipher, m_pinKey, true), account,
                    reportedLength == length ? static_cast<int>(pin.size()) : 0);
                Compare(block, pin, decoded.value_or(""), Value::kSecret);
                if (!decoded) block.reason = "the block does not follow the format";
                if (reportedLength != length && block.verdict == Verdict::kPassed) {
                    block.verdict = Verdict::kFailed;
                    block.reason = "the reply names a PIN length of " + reportedLength;
                }
            }
        }
        Add(std::move(block));
    }

    // --- MAC and data --------------------------------------------------------------------------

    void Macs() {
        const std::string message(kMacMessage);
        const padlogic::MacType types[] = {padlogic::MacType::kPboc, padlogic::MacType::kX99,
                                           padlogic::MacType::kX919, padlogic::MacType::kIso16609};
        const char* names[] = {"PBOC", "ANSI X9.9", "ANSI X9.19", "ISO 16609"};
        for (std::size_t i = 0; i < std::size(types); ++i) {
            const auto expected =
                padlogic::HostMac(types[i], m_macKey, message, m_d.PinPad_TriUntriDes);
            CheckResult check =
                Begin(Family::kMac, std::string("MAC ") + names[i] + " under the TAK at 31", '8',
                      expected.value_or(""));
            if (!expected) {
                NotRun(std::move(check), "the MAC key at 31 was not loaded");
                continue;
            }
            if (Stopped(check)) continue;
            const std::string request =
                "31" + std::string(1, padlogic::MacTypeCode(types[i])) + message;
            char reply[PINPAD_MAC_SIZE] = {};
            if (Exchange(check, CommandTimeoutMs(request.size()), [&] {
                    return m_d.PinPad_MakeMac(request.data(), static_cast<unsigned>(request.size()),
                                              reply);
                }))
                Compare(check, *expected, reply);
            Add(std::move(check));
        }
    }

    void Data() {
        const std::string clear(kClearData);
        const padlogic::DataMode modes[] = {
            padlogic::DataMode::kEcbEncrypt, padlogic::DataMode::kCbcEncrypt,
            padlogic::DataMode::kEcbDecrypt, padlogic::DataMode::kCbcDecrypt};
        const char* names[] = {"encryption, ECB", "encryption, CBC", "decryption, ECB",
                               "decryption, CBC"};
        for (std::size_t i = 0; i < std::size(modes); ++i) {
            const auto expected =
                padlogic::HostData(modes[i], m_dataKey, clear, m_d.PinPad_TriUntriDes);
            CheckResult check =
                Begin(Family::kData, std::string("data ") + names[i] + " under the TDK at 32", '9',
                      expected.value_or(""));
            if (!expected) {
                NotRun(std::move(check), "the data key at 32 was not loaded");
                continue;
            }
            if (Stopped(check)) continue;
            const std::string request =
                "32" + std::string(1, padlogic::DataModeCode(modes[i])) + clear;
            std::string reply(PINPAD_DATA_REPLY_SIZE, '\0');
            if (Exchange(check, CommandTimeoutMs(request.size()), [&] {
                    return m_d.PinPad_EncryptData(
                        request.c_str(), static_cast<unsigned>(request.size()), reply.data());
                }))
                Compare(check, *expected, reply.c_str());
            Add(std::move(check));
        }
    }

    // --- display and card ----------------------------------------------------------------------

    void Show(const std::string& name, const std::string& record) {
        CheckResult check = Begin(Family::kDisplay, name, ';', "accepted");
        if (Stopped(check)) return;
        if (Exchange(check, CommandTimeoutMs(record.size()), [&] {
                return m_d.PinPad_DispInfoLcd(record.data(), static_cast<int>(record.size()));
            })) {
            if (check.verdict != Verdict::kFailed) check.verdict = Verdict::kPassed;
            check.measured = "accepted";
        }
        Add(std::move(check));
    }

    void Display() {
        Show("display mode 30, text", "\x30" + std::string(kDisplayText));
        Show("display mode 31, prompt 5", "\x31\x35");
        Show("display mode 32, prompt 1", "\x32\x31");
        if (m_displayKey.empty())
            return NotRun(
                Begin(Family::kDisplay, "display mode 40, deciphered under the TDSK at 40", ';',
                      "accepted"),
                "the key at 40 was not loaded");
        Show("display mode 40, deciphered under the TDSK at 40",
             "\x40" + padlogic::Encipher(m_d.PinPad_TriUntriDes, std::string(kDisplayBlock),
                                         m_displayKey));
    }

    // `request` for command '@' or 'A' on one socket; the card's answer, or nothing.
    std::optional<std::string> Card(const std::string& name, char command,
                                    const std::string& request, const std::string& expected) {
        CheckResult check = Begin(Family::kCard, name, command, expected);
        if (Stopped(check)) return std::nullopt;
        std::string reply(PINPAD_CARD_REPLY_SIZE, '\0');
        std::optional<std::string> answer;
        if (Exchange(check, CommandTimeoutMs(request.size()), [&] {
                return command == '@' ? m_d.PinPad_IC_Control(request.c_str(), reply.data())
                                      : m_d.PinPad_IC_Access(request.c_str(), reply.data());
            })) {
            answer = reply.c_str();
            check.measured = answer->empty() ? "done" : *answer;
            if (check.verdict != Verdict::kFailed) check.verdict = Verdict::kPassed;
        }
        Add(std::move(check));
        if (answer) return answer;
        return std::nullopt;
    }

    void Cards() {
        for (const int socket : m_settings.sockets) {
            const std::string s = std::to_string(socket);
            const auto atr = Card("socket " + s + ": power on", '@', s + "881",
                                  "an answer to reset (hex, starting 3B or 3F)");
            if (atr) {
                CheckResult& check = m_certificate.checks.back();
                const bool shaped =
                    atr->size() >= 4 && atr->size() % 2 == 0 && padlogic::IsHex(*atr) &&
                    (atr->compare(0, 2, "3B") == 0 || atr->compare(0, 2, "3F") == 0);
                if (!shaped && check.verdict == Verdict::kPassed) {
                    check.verdict = Verdict::kFailed;
                    check.reason = "not an answer to reset";
                }
            }
            const auto response = Card("socket " + s + ": APDU SELECT of the master file", 'A',
                                       s + std::string(kSelectMasterFile),
                                       "a response ending in status word 9000 or 61XX");
            if (response) {
                CheckResult& check = m_certificate.checks.back();
                const std::string sw =
                    response->size() >= 4 ? response->substr(response->size() - 4) : "";
                const bool good =
                    padlogic::IsHex(*response) && (sw == "9000" || sw.compare(0, 2, "61") == 0);
                check.measured = "status word " + (sw.empty() ? std::string("missing") : sw);
                if (!good && check.verdict == Verdict::kPassed) {
                    check.verdict = Verdict::kFailed;
                    check.reason = "the card's status word is not 9000 or 61XX";
                }
            }
            Card("socket " + s + ": power off", '@', s + "883", "done");
        }
    }

    // --- restoring -----------------------------------------------------------------------------

    void Restore() {
        // After an interruption this runs once the waits are allowed again.
        if (StopReason() == "interrupted") return;
        if (m_customerChanged) RestoreCustomerInformation();
        if (m_keyboardChanged) RestoreKeyboardValues();
    }

    void RestoreCustomerInformation() {
        // A text cannot be written empty (no bytes is the read request): a blank stands for it.
        const std::string text = m_customerInfo.empty() ? " " : m_customerInfo;
        CheckResult check = Begin(Family::kSetup, "customer information restored", '3',
                                  "reads back '" + text + "'");
        if (StopReason().empty()) {
            if (Exchange(check, CommandTimeoutMs(text.size()), [&] {
                    return m_d.PinPad_SetCustInfo(text.c_str(), static_cast<unsigned>(text.size()));
                })) {
                ReadBack(check, text, {padlogic::kCustomerInfoRange}, true);
            }
            if (check.verdict == Verdict::kPassed && m_customerInfo.empty())
                m_certificate.changesLeft.push_back(
                    "customer information: it was empty, and an empty text cannot be written; it "
                    "now holds one blank");
            if (check.verdict != Verdict::kPassed)
                m_certificate.changesLeft.push_back(
                    "customer information: left as the certification wrote it (not restored)");
            Add(std::move(check));
        } else {
            m_certificate.changesLeft.push_back(
                "customer information: left as the certification wrote it (" + StopReason() + ")");
            NotRun(std::move(check), StopReason());
        }
    }

    void RestoreKeyboardValues() {
        CheckResult check = Begin(Family::kSetup, "keyboard values restored", '4',
                                  "the pad's own values read back");
        if (m_keyboardValues.size() != 48 || !padlogic::IsHex(m_keyboardValues)) {
            m_certificate.changesLeft.push_back(
                "keyboard values: the pad's own could not be written back (not 48 hex "
                "characters); it keeps the certification's");
            return NotRun(std::move(check), "the pad's own values are not 48 hex characters");
        }
        if (!StopReason().empty()) {
            m_certificate.changesLeft.push_back(
                "keyboard values: left as the certification wrote them (" + StopReason() + ")");
            return NotRun(std::move(check), StopReason());
        }
        if (Exchange(check, CommandTimeoutMs(48),
                     [&] { return m_d.PinPad_SetKeyboardValue(m_keyboardValues.c_str(), 48); })) {
            ReadBack(check, m_keyboardValues, kKeyRanges);
        }
        if (check.verdict != Verdict::kPassed)
            m_certificate.changesLeft.push_back("keyboard values: not restored");
        Add(std::move(check));
    }

    // The value of control code 6 for `baud` in the pad's speed list, 0 when it has none.
    static int LineSpeedValue(int baud) {
        const int speeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 115200};
        for (std::size_t i = 0; i < std::size(speeds); ++i)
            if (speeds[i] == baud) return 0x41 + static_cast<int>(i);
        return 0;
    }

    const shell::DriverEntries& m_d;
    LastFailureFunction m_lastFailure;
    const Line& m_line;
    const Settings& m_settings;
    Operator& m_person;
    Certificate m_certificate;
    bool m_interrupted = false;
    bool m_afterInterrupt = false;  // putting things right after an interruption
    std::string m_stopReason;
    int m_silentInARow = 0;
    bool m_lowBattery = false;
    bool m_areaRead = false;
    bool m_customerChanged = false;
    bool m_keyboardChanged = false;
    std::string m_customerInfo;
    std::string m_keyboardValues;
    std::string m_masterKey;
    std::string m_terminalKey;
    std::string m_pinKey;
    std::string m_macKey;
    std::string m_dataKey;
    std::string m_displayKey;
};

}  // namespace

long long CommandTimeoutMs(std::size_t payloadLength) {
    // Division truncating toward zero, as the driver computes it.
    const long long q = (static_cast<long long>(payloadLength) - 3) / 64;
    return 2 * (q + 2) * 1000;
}

Certificate Certify(const shell::DriverEntries& driver, LastFailureFunction lastFailure,
                    const Line& line, const Settings& settings, Operator& person) {
    return Certification(driver, lastFailure, line, settings, person).Run();
}

}  // namespace certify
