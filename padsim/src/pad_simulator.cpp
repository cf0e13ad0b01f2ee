// Framing, reply faults, the keypad and its input modes, settings and the information area.
#include "padsim/pad_simulator.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "pad_crypto.h"
#include "pad_status.h"

namespace padsim {
namespace {

constexpr char kStx = '\x02';
constexpr char kEtx = '\x03';
constexpr std::size_t kCustInfoSize = 50;
constexpr std::size_t kAreaSize = 146;
constexpr std::size_t kLongFrameMinimum = 999;  // payloads announced with "000" are this long
constexpr std::chrono::milliseconds kInterByteTimeout{1000};
const char* const kDefaultKeyboardValues =
    "303132333435363738392E2A0D1B0800"
    "41424344"
    "45464748";

unsigned char Xor(std::string_view bytes) {
    unsigned char x = 0;
    for (char c : bytes) x ^= static_cast<unsigned char>(c);
    return x;
}

std::string Hex2(unsigned v) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", v & 0xFF);
    return text;
}

std::string LengthField(std::size_t dataSize) {
    if (dataSize + 1 > 999) return "000";
    char text[4];
    std::snprintf(text, sizeof text, "%03zu", dataSize + 1);
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Index of the first ETX at or after `from` that has two bytes after it, or npos.
std::size_t CompleteEtx(const std::string& s, std::size_t from) {
    std::size_t etx = s.find(kEtx, from);
    return etx != std::string::npos && etx + 2 < s.size() ? etx : std::string::npos;
}

// Another character of the same kind, for the wrong-data fault: a hex digit becomes the next hex
// digit (F wraps to 0), any other printable character the next printable one ('~' wraps to the
// space). Other bytes stay, so no STX or ETX can appear and NUL padding stays padding.
char Altered(char c) {
    if ((c >= '0' && c <= '8') || (c >= 'A' && c <= 'E') || (c >= 'a' && c <= 'e'))
        return static_cast<char>(c + 1);
    if (c == '9') return 'A';
    if (c == 'F' || c == 'f') return '0';
    if (c >= 0x20 && c < 0x7E) return static_cast<char>(c + 1);
    if (c == 0x7E) return ' ';
    return c;
}

// Where the value of a success reply starts. The card replies begin with a header up to their
// done flag ("S88" and the card status for '@', the flag alone for 'A'); a reply whose flag is a
// card condition carries no value at all.
std::size_t ValueStart(char command, std::string_view data) {
    std::size_t flag = 0;
    if (command == '@')
        flag = 3;
    else if (command != 'A')
        return 0;
    if (data.size() <= flag || data[flag] != status::kCardDone) return data.size();
    return flag + 1;
}

// Writes `value` into the field of `width` bytes at `offset`, never more than the field holds;
// the field's bytes after a shorter value stay as they are (NUL).
void PutField(std::string& area, std::size_t offset, std::size_t width, std::string_view value) {
    const std::string_view fitting = value.substr(0, width);
    area.replace(offset, fitting.size(), fitting);
}

bool KeyCodeKnown(int code) {
    static const int codes[] = {0x08, 0x0D, 0x1B, 0x2A, 0x2E};
    if (std::find(std::begin(codes), std::end(codes), code) != std::end(codes)) return true;
    return (code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x48);
}

}  // namespace

std::string VersionFieldProblem(std::string_view value, std::size_t width) {
    for (unsigned char c : value) {
        if (c < 0x20 || c > 0x7E) {
            char text[48];
            std::snprintf(text, sizeof text, "holds byte 0x%02X, which is not printable", c);
            return text;
        }
    }
    // A pad fills its version fields whole, and a host reads them whole.
    if (value.size() != width) return "has " + std::to_string(value.size()) + " characters";
    return {};
}

const char* ModeName(Mode mode) {
    switch (mode) {
        case Mode::Idle:
            return "idle";
        case Mode::PinEntry:
            return "PIN entry";
        case Mode::KeyEntry:
            return "key entry";
        case Mode::ClearKeypad:
            return "clear-text keypad";
    }
    return "?";
}

PadSimulator::PadSimulator(std::uint32_t seed)
    : m_random(seed), m_custInfo(kCustInfoSize, '\0'), m_keyboardValues(kDefaultKeyboardValues) {}

std::string PadSimulator::Receive(std::string_view bytes) {
    if (bytes.empty()) return {};
    m_inbox.append(bytes);
    m_inboxIdle = std::chrono::milliseconds(0);
    return TakeFrames();
}

// Cuts every complete frame out of the inbox and answers it. Frame-level faults of the host
// (bad length field, ETX not where the length says, wrong check) get their status replies.
std::string PadSimulator::TakeFrames() {
    std::string out;
    for (;;) {
        std::size_t stx = m_inbox.find(kStx);
        if (stx == std::string::npos) {
            m_inbox.clear();  // line noise
            return out;
        }
        m_inbox.erase(0, stx);
        if (m_inbox.size() < 5) return out;
        const std::string_view field(m_inbox.data() + 1, 3);
        const char command = m_inbox[4];
        if (!IsDigit(field[0]) || !IsDigit(field[1]) || !IsDigit(field[2])) {
            std::size_t etx = CompleteEtx(m_inbox, 1);
            if (etx == std::string::npos) return out;  // wait for the frame's end first
            m_inbox.erase(0, etx + 3);
            out += Frame(command, Reply{status::kFormatError, {}});
            continue;
        }
        const int announced = (field[0] - '0') * 100 + (field[1] - '0') * 10 + (field[2] - '0');
        std::size_t etx;
        if (announced == 0) {
            etx = CompleteEtx(m_inbox, 5);
            if (etx == std::string::npos) return out;
        } else {
            etx = 4 + static_cast<std::size_t>(announced);
            if (m_inbox.size() < etx + 3) return out;
        }
        const std::string frame = m_inbox.substr(0, etx + 3);
        if (frame[etx] != kEtx || (announced == 0 && etx - 5 < kLongFrameMinimum)) {
            std::size_t end = CompleteEtx(m_inbox, 5);
            m_inbox.erase(0, end == std::string::npos ? m_inbox.size() : end + 3);
            out += Frame(command, Reply{status::kLengthError, {}});
            continue;
        }
        m_inbox.erase(0, etx + 3);
        const std::string wantCheck = Hex2(Xor(std::string_view(frame).substr(1, etx)));
        std::string gotCheck = frame.substr(etx + 1, 2);
        std::transform(gotCheck.begin(), gotCheck.end(), gotCheck.begin(), ::toupper);
        if (gotCheck != wantCheck) {
            out += Frame(command, Reply{status::kBccError, {}});
            continue;
        }
        out += Answer(command, std::string_view(frame).substr(5, etx - 5), announced == 0);
    }
}

std::string PadSimulator::Answer(char command, std::string_view payload, bool longFrame) {
    ++m_requests;
    std::string entry(1, command);
    m_payloadLog.push_back(entry.append(payload));
    if (m_payloadLog.size() > kPayloadLogSize) m_payloadLog.erase(m_payloadLog.begin());
    if (m_faults.silent) return {};
    auto forced = m_faults.forcedStatus.find(command);
    if (forced != m_faults.forcedStatus.end()) return Frame(command, Reply{forced->second, {}});
    auto data = m_faults.forcedData.find(command);
    if (data != m_faults.forcedData.end()) return Frame(command, Reply{status::kOk, data->second});
    const Reply reply = Dispatch(command, payload, longFrame);
    return reply.deferred ? std::string() : Frame(command, reply);
}

PadSimulator::Reply PadSimulator::Dispatch(char command, std::string_view payload, bool longFrame) {
    switch (command) {
        case '1':
            return ClearKeyDownload(payload);
        case '2':
            return CipherKeyDownload(payload);
        case '3':
            return CustomerInfo(payload);
        case '4':
            return KeyboardValue(payload);
        case '5':
            return ControlCode(payload);
        case '6':
            return StartPinEntry(payload);
        case '7':
            return PinValue(payload);
        case '8':
            return Mac(payload, longFrame);
        case '9':
            return DataCipher(payload);
        case ':':
            return Authentication(payload);
        case ';':
            return Display(payload);
        case '@':
            return CardControl(payload);
        case 'A':
            return CardAccess(payload);
        default:
            return Reply{status::kCommandKeyError, {}};
    }
}

// A reply frame with the reply faults applied: low battery, wrong data, oversized data, wrong
// check, noise ahead of it, cut short.
std::string PadSimulator::Frame(char command, const Reply& reply) const {
    std::uint8_t code = reply.status;
    const bool success = code == status::kOk;
    if (success) code = static_cast<std::uint8_t>(command + 0x30);
    if (m_faults.lowBattery && success && reply.reportsBattery) code = status::kLowBattery;
    std::string data = reply.data;
    if (success && m_faults.wrongData.count(command) != 0)
        for (std::size_t i = ValueStart(command, data); i < data.size(); ++i)
            data[i] = Altered(data[i]);
    if (m_faults.oversizeData > data.size()) data.append(m_faults.oversizeData - data.size(), '0');
    std::string body = LengthField(data.size());
    body += static_cast<char>(code);
    body += data;
    body += kEtx;
    unsigned char check = Xor(body);
    if (m_faults.wrongCheck) check ^= 0x5A;
    std::string frame = kStx + body + Hex2(check);
    if (m_faults.cutReplyAfter >= 0 &&
        static_cast<std::size_t>(m_faults.cutReplyAfter) < frame.size())
        frame.resize(static_cast<std::size_t>(m_faults.cutReplyAfter));
    return m_faults.noise + frame;
}

std::string PadSimulator::Elapse(std::chrono::milliseconds elapsed) {
    std::string out;
    if (!m_inbox.empty()) {
        m_inboxIdle += elapsed;
        if (m_inboxIdle >= kInterByteTimeout) {
            // A frame that never completed: drop it; answer when its header made it in.
            if (m_inbox.size() >= 5) out += Frame(m_inbox[4], Reply{status::kLengthError, {}});
            m_inbox.clear();
        }
    }
    if (m_mode == Mode::PinEntry || m_mode == Mode::KeyEntry) {
        m_entryElapsed += elapsed;
        if (m_entryElapsed >= std::chrono::seconds(m_settings.pinTimeoutSeconds)) {
            const bool pin = m_mode == Mode::PinEntry;
            CloseEntry();
            out += kEntryTimeout;
            if (pin) out += AnswerPendingPin(status::kEntryOvertime);
        }
    }
    return out;
}

std::optional<std::chrono::milliseconds> PadSimulator::NextDeadline() const {
    std::optional<std::chrono::milliseconds> next;
    if (!m_inbox.empty()) next = kInterByteTimeout - m_inboxIdle;
    if (m_mode == Mode::PinEntry || m_mode == Mode::KeyEntry) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::seconds(m_settings.pinTimeoutSeconds)) -
                    m_entryElapsed;
        if (!next || left < *next) next = left;
    }
    if (next && next->count() < 0) next = std::chrono::milliseconds(0);
    return next;
}

std::string PadSimulator::PressKey(char key) {
    if (m_disabledKeys[static_cast<unsigned char>(key)]) return {};
    switch (m_mode) {
        case Mode::Idle:
            return {};
        case Mode::ClearKeypad:
            return std::string(1, key);
        case Mode::PinEntry:
            return PinKey(key);
        case Mode::KeyEntry:
            return KeyEntryKey(key);
    }
    return {};
}

void PadSimulator::OpenEntry(Mode mode) {
    CloseEntry();
    m_mode = mode;
    m_entryElapsed = std::chrono::milliseconds(0);
}

void PadSimulator::CloseEntry() {
    m_mode = Mode::Idle;
    m_pinDigits.clear();
    m_entryText.clear();
}

std::optional<StoredKey> PadSimulator::Key(int index) const {
    auto it = m_keys.find(index);
    if (it == m_keys.end()) return std::nullopt;
    return it->second;
}

void PadSimulator::SetKey(int index, StoredKey key) { m_keys[index] = std::move(key); }

std::string PadSimulator::displayText() const {
    return m_line2.empty() ? m_line1 : m_line1 + "\n" + m_line2;
}

void PadSimulator::SetCardInserted(bool inserted) {
    m_card =
        inserted ? (m_card == CardState::NoCard ? CardState::Inserted : m_card) : CardState::NoCard;
}

std::string PadSimulator::customerArea() const {
    std::string area(kAreaSize, '\0');
    area.replace(0, kCustInfoSize, m_custInfo);
    area.replace(50, 48, m_keyboardValues);
    PutField(area, 118, 8, kDescription);
    PutField(area, 126, 6, kProductModel);
    PutField(area, 132, 3, kHardwareVersion);
    PutField(area, 135, UnitIdentity::kFirmwareWidth, m_identity.firmwareVersion);
    PutField(area, 138, UnitIdentity::kDateCodeWidth, m_identity.dateCode);
    PutField(area, 142, UnitIdentity::kSerialWidth, m_identity.serialNumber);
    return area;
}

void PadSimulator::SetIdentity(UnitIdentity identity) {
    const struct {
        const char* name;
        const std::string& value;
        std::size_t width;
    } fields[] = {
        {"firmware version", identity.firmwareVersion, UnitIdentity::kFirmwareWidth},
        {"date code", identity.dateCode, UnitIdentity::kDateCodeWidth},
        {"serial number", identity.serialNumber, UnitIdentity::kSerialWidth},
    };
    for (const auto& field : fields) {
        const std::string problem = VersionFieldProblem(field.value, field.width);
        if (!problem.empty()) throw std::invalid_argument(std::string(field.name) + " " + problem);
    }
    m_identity = std::move(identity);
}

PadSimulator::Reply PadSimulator::CustomerInfo(std::string_view payload) {
    if (payload.empty()) return Reply{status::kOk, customerArea(), true};
    if (payload.size() > kCustInfoSize) return Reply{status::kCommandLength, {}};
    // Bytes that would end or start a frame on the way back cannot be stored.
    if (payload.find_first_of(std::string_view("\0\x02\x03", 3)) != std::string_view::npos)
        return Reply{status::kIllegalData, {}};
    m_custInfo.assign(payload);
    m_custInfo.resize(kCustInfoSize, '\0');
    return Reply{status::kOk, {}};
}

PadSimulator::Reply PadSimulator::KeyboardValue(std::string_view payload) {
    if (payload.size() != 48) return Reply{status::kCommandLength, {}};
    if (!crypto::IsHex(payload)) return Reply{status::kIllegalData, {}};
    m_keyboardValues.assign(payload);
    std::transform(m_keyboardValues.begin(), m_keyboardValues.end(), m_keyboardValues.begin(),
                   ::toupper);
    return Reply{status::kOk, {}};
}

// One character for the code, two hex characters for the value.
PadSimulator::Reply PadSimulator::ControlCode(std::string_view payload) {
    if (payload.size() != 3) return Reply{status::kCommandLength, {}};
    const auto value = ParseIndex(payload.substr(1));
    if (!value) return Reply{status::kIllegalData, {}};
    const int v = *value;
    const auto inRange = [v](int lo, int hi) { return v >= lo && v <= hi; };
    Reply ok{status::kOk, {}}, bad{status::kWrongParameter, {}};
    switch (payload[0]) {
        case '0':
            if (!inRange(0x30, 0x3F)) return bad;
            if (v == 0x30) {
                m_settings = Settings{};
                std::fill(std::begin(m_disabledKeys), std::end(m_disabledKeys), 0);
            }
            if (v == 0x30 || v == 0x32 || v == 0x35) {
                CloseEntry();
                m_pendingPinRequest.reset();
            }
            if (v == 0x33) OpenEntry(Mode::ClearKeypad);
            return ok;
        case '1':
            if (!KeyCodeKnown(v & 0x7F)) return bad;
            m_disabledKeys[v & 0x7F] = (v & 0x80) ? 1 : 0;
            return ok;
        case '2':
            if (v == 0) return bad;
            m_settings.pinTimeoutSeconds = v;
            return ok;
        case '3':
            m_settings.pinFill = static_cast<std::uint8_t>(v);
            return ok;
        case '4':
        case '5': {
            auto digits = ParseDecimal2(payload.substr(1));
            if (!digits || *digits > 16) return bad;
            (payload[0] == '4' ? m_settings.pinMinLength : m_settings.pinMaxLength) = *digits;
            return ok;
        }
        case '6':
            if (!inRange(0x30, 0x37) && !inRange(0x41, 0x48)) return bad;
            m_settings.baudCode = static_cast<std::uint8_t>(v);
            return ok;
        case '7':
            if (!inRange(0x30, 0x32)) return bad;
            m_settings.voice = static_cast<std::uint8_t>(v);
            return ok;
        case '8':
            m_settings.buzzer = static_cast<std::uint8_t>(v);
            return ok;
        case '9':
            if (!inRange(0x30, 0x38)) return bad;
            m_settings.protection = static_cast<std::uint8_t>(v);
            return ok;
        case 'A':
            if (!inRange(0x10, 0x1F)) return bad;
            m_settings.keyTiming = static_cast<std::uint8_t>(v);
            return ok;
        case 'B':
            if (!inRange(0x20, 0x22)) return bad;
            m_settings.clearManage = static_cast<std::uint8_t>(v);
            return ok;
        default:
            return bad;
    }
}

std::string PadSimulator::RandomHex(std::size_t bytes) {
    std::string raw;
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < bytes; ++i) raw += static_cast<char>(byte(m_random));
    return crypto::BytesToHex(raw);
}

}  // namespace padsim
