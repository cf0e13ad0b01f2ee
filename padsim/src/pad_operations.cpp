// PIN entry and PIN value, renew/verify, MAC, data cipher, display and the IC card.
#include <algorithm>
#include <utility>

#include "pad_crypto.h"
#include "pad_status.h"
#include "padsim/pad_simulator.h"
#include "pin_block.h"

namespace padsim {
namespace {

std::string Two(int v) {
    char text[3] = {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10), 0};
    return text;
}

const char* const kPrompts[10] = {"WELCOME",           "PLEASE INPUT PIN", "PLEASE INPUT AGAIN",
                                  "PIN ERROR",         "TRANSACTION OK",   "THANK YOU",
                                  "PLEASE WAIT",       "CARD ERROR",       "PLEASE INSERT CARD",
                                  "PLEASE REMOVE CARD"};

// The simulated card's files: the directory of the payment system and one record file.
const std::string kPseName = "1PAY.SYS.DDF01";
const std::string kPseFci =
    "6F15"
    "840E315041592E5359532E4444463031"
    "A503880101";
const std::string kMfFci =
    "6F0A8402"
    "3F00"
    "A5048801"
    "0100";
const std::string kRecords[2] = {
    "700E"
    "61"
    "0C"
    "4F07F0000000031010"
    "5001"
    "41",
    "7010"
    "5A08"
    "6228480402564890"
    "5F2403"
    "301231"};

std::string Sw(unsigned sw) {
    return std::string{static_cast<char>(sw >> 8), static_cast<char>(sw)};
}

}  // namespace

// Full form: key index, PIN type, sound, two-digit length, account. Short form (five
// characters): sound, two-digit length, enter code, clear code; key and type come with the read.
PadSimulator::Reply PadSimulator::StartPinEntry(std::string_view payload) {
    PinRequest request;
    int expected = 0;
    char clearCode = '0', crCode = '0';
    bool full = false;
    if (payload.size() == 5) {
        auto length = ParseDecimal2(payload.substr(1));
        if (!length || *length > 16) return Reply{status::kIllegalData, {}};
        expected = *length;
        crCode = payload[3];
        clearCode = payload[4];
    } else if (payload.size() >= 6) {
        const auto index = ParseIndex(payload);
        if (!index || *index > 0x7F) return Reply{status::kNoKeyIndex, {}};
        request = PinRequest{*index, payload[2], std::string(payload.substr(6))};
        if (!pin::KnownFormat(request.format)) return Reply{status::kWrongParameter, {}};
        auto length = ParseDecimal2(payload.substr(4));
        if (!length || static_cast<std::size_t>(*length) > pin::MaxDigits(request.format))
            return Reply{status::kIllegalData, {}};
        if (!pin::AccountFits(request.format, request.account))
            return Reply{status::kIllegalData, {}};
        if (!m_keys.count(*index)) return Reply{status::kNoSuchKey, {}};
        expected = *length;
        full = true;
    } else {
        return Reply{status::kCommandLength, {}};
    }
    OpenEntry(Mode::PinEntry);
    m_pendingPinRequest.reset();
    m_pinRequest = request;
    m_pinRequestGiven = full;
    m_pinExpected = expected;
    m_pinClearCode = clearCode;
    m_pinCrCode = crCode;
    m_pinReady = false;
    m_lastPin.clear();
    ++m_pinSequence;
    return Reply{status::kOk, {}};
}

std::string PadSimulator::PinKey(char key) {
    const int limit = m_pinExpected > 0 ? m_pinExpected : m_settings.pinMaxLength;
    if (key >= '0' && key <= '9') {
        if (static_cast<int>(m_pinDigits.size()) >= limit) return {};
        m_pinDigits += key;
        std::string out(1, kPinStar);
        if (m_pinExpected > 0 && static_cast<int>(m_pinDigits.size()) == m_pinExpected)
            out += FinishPin();
        return out;
    }
    switch (key) {
        case kBackspace:
            if (m_pinClearCode == '2' || m_pinClearCode == '6')
                m_pinDigits.clear();
            else if (!m_pinDigits.empty())
                m_pinDigits.pop_back();
            return std::string(1, kBackspace);
        case kEscape:
            CloseEntry();
            return std::string(1, kEscape) + AnswerPendingPin(status::kEntryOvertime);
        case kEnter:
            if (m_pinDigits.empty() ||
                static_cast<int>(m_pinDigits.size()) < m_settings.pinMinLength)
                return {};  // too short: the pad waits for more digits
            return std::string(1, kEnter) + FinishPin();
        default:
            return {};
    }
}

// The entry is complete: the digits become the PIN to read, and a read that was waiting for
// them is answered now.
std::string PadSimulator::FinishPin() {
    m_lastPin = m_pinDigits;
    m_pinReady = true;
    CloseEntry();
    if (!m_pendingPinRequest) return {};
    const std::string request = *std::exchange(m_pendingPinRequest, std::nullopt);
    return Frame('7', PinValue(request));
}

std::string PadSimulator::AnswerPendingPin(std::uint8_t code) {
    if (!m_pendingPinRequest) return {};
    m_pendingPinRequest.reset();
    return Frame('7', Reply{code, {}});
}

// Empty: the PIN block of an entry started in the full form. Key index and type (and the
// account): the block for an entry started in the short form. Key index, 'a' or 'b', validation
// data and decimalisation table: PIN renew (offset) or verify.
PadSimulator::Reply PadSimulator::PinValue(std::string_view payload) {
    if (payload.size() >= 3 && (payload[2] == 'a' || payload[2] == 'b'))
        return PinRenewVerify(payload);
    if (m_mode == Mode::PinEntry) {  // the customer is still typing: answer when done
        m_pendingPinRequest = std::string(payload);
        return Reply{status::kOk, {}, false, true};
    }
    PinRequest request = m_pinRequest;
    if (!payload.empty()) {
        const auto index = ParseIndex(payload);
        if (payload.size() < 3 || !index || *index > 0x7F) return Reply{status::kNoKeyIndex, {}};
        request = PinRequest{*index, payload[2], std::string(payload.substr(3))};
        if (!pin::KnownFormat(request.format)) return Reply{status::kWrongParameter, {}};
        if (!pin::AccountFits(request.format, request.account))
            return Reply{status::kIllegalData, {}};
    } else if (!m_pinRequestGiven) {
        return Reply{status::kWrongParameter, {}};
    }
    if (!m_pinReady) return Reply{status::kEntryOvertime, {}};
    auto key = m_keys.find(request.keyIndex);
    if (key == m_keys.end()) return Reply{status::kNoSuchKey, {}};
    const auto block =
        pin::ClearBlock(request.format, m_lastPin, request.account, m_settings.pinFill, m_random);
    if (!block) return Reply{status::kIllegalData, {}};
    const std::string cipher = crypto::EncryptEcb(*crypto::HexToBytes(key->second.value), *block);
    return Reply{status::kOk, Two(m_pinSequence) + Two(static_cast<int>(m_lastPin.size())) +
                                  crypto::BytesToHex(cipher)};
}

// 'a': the IBM 3624 offset of the last PIN. 'b': the offset follows the table; the reply ends
// in '1' when the last PIN matches it and '0' when not.
PadSimulator::Reply PadSimulator::PinRenewVerify(std::string_view payload) {
    const auto index = ParseIndex(payload);
    if (!index || *index > 0x7F) return Reply{status::kNoKeyIndex, {}};
    const bool verify = payload[2] == 'b';
    if (payload.size() < 35 || (!verify && payload.size() != 35))
        return Reply{status::kCommandLength, {}};
    auto key = m_keys.find(*index);
    if (key == m_keys.end()) return Reply{status::kNoSuchKey, {}};
    if (m_lastPin.empty()) return Reply{status::kEntryOvertime, {}};
    const auto natural =
        pin::NaturalPin(*crypto::HexToBytes(key->second.value), payload.substr(3, 16),
                        payload.substr(19, 16), m_lastPin.size());
    if (!natural) return Reply{status::kIllegalData, {}};
    const std::string offset = pin::Offset(m_lastPin, *natural);
    const std::string head = Two(m_pinSequence) + Two(static_cast<int>(m_lastPin.size()));
    if (!verify) return Reply{status::kOk, head + offset};
    return Reply{status::kOk, head + (payload.substr(35) == offset ? "1" : "0")};
}

// Header: key index, method character; then the message as bytes, or as hex text in frames
// announced with "000".
PadSimulator::Reply PadSimulator::Mac(std::string_view payload, bool hexExpanded) {
    if (payload.size() < 4) return Reply{status::kCommandLength, {}};
    const auto index = ParseIndex(payload);
    if (!index || *index > 0x7F) return Reply{status::kNoKeyIndex, {}};
    crypto::MacMethod method;
    switch (payload[2]) {
        case '1':
            method = crypto::MacMethod::Pboc;
            break;
        case '2':
            method = crypto::MacMethod::X99;
            break;
        case '3':
            method = crypto::MacMethod::X919;
            break;
        case 'A':
            method = crypto::MacMethod::Iso16609;
            break;
        default:
            return Reply{status::kWrongParameter, {}};
    }
    std::string message(payload.substr(3));
    if (hexExpanded) {
        auto bytes = crypto::HexToBytes(message);
        if (!bytes) return Reply{status::kIllegalData, {}};
        message = *bytes;
    }
    auto key = m_keys.find(*index);
    if (key == m_keys.end()) return Reply{status::kNoSuchKey, {}};
    return Reply{status::kOk, crypto::BytesToHex(crypto::Mac(
                                  method, *crypto::HexToBytes(key->second.value), message))};
}

// Key index, mode ('1' ECB and '2' CBC encrypt, 'A' ECB and 'B' CBC decrypt), hex data.
PadSimulator::Reply PadSimulator::DataCipher(std::string_view payload) {
    if (payload.size() < 3) return Reply{status::kCommandLength, {}};
    const auto index = ParseIndex(payload);
    if (!index || *index > 0x7F) return Reply{status::kNoKeyIndex, {}};
    const char mode = payload[2];
    if (mode != '1' && mode != '2' && mode != 'A' && mode != 'B')
        return Reply{status::kWrongParameter, {}};
    const std::string_view hex = payload.substr(3);
    if (hex.empty() || hex.size() % 16 != 0) return Reply{status::kCommandLength, {}};
    const auto data = crypto::HexToBytes(hex);
    if (!data) return Reply{status::kIllegalData, {}};
    auto key = m_keys.find(*index);
    if (key == m_keys.end()) return Reply{status::kNoSuchKey, {}};
    const std::string k = *crypto::HexToBytes(key->second.value);
    std::string out;
    switch (mode) {
        case '1':
            out = crypto::EncryptEcb(k, *data);
            break;
        case '2':
            out = crypto::EncryptCbc(k, *data);
            break;
        case 'A':
            out = crypto::DecryptEcb(k, *data);
            break;
        default:
            out = crypto::DecryptCbc(k, *data);
            break;
    }
    return Reply{status::kOk, crypto::BytesToHex(out)};
}

// Mode byte 0x30: the bytes as text; 0x31/0x32: prompt n on line 1/2; 0x40-0x7F: hex cipher
// text deciphered under the key of that index.
PadSimulator::Reply PadSimulator::Display(std::string_view payload) {
    if (payload.empty()) return Reply{status::kCommandLength, {}};
    const auto mode = static_cast<unsigned char>(payload[0]);
    const std::string_view data = payload.substr(1);
    if (mode == 0x30) {
        m_line1.assign(data);
        m_line2.clear();
    } else if (mode == 0x31 || mode == 0x32) {
        if (data.size() != 1 || data[0] < '0' || data[0] > '9')
            return Reply{status::kIllegalData, {}};
        (mode == 0x31 ? m_line1 : m_line2) = kPrompts[data[0] - '0'];
    } else if (mode >= 0x40 && mode <= 0x7F) {
        if (data.size() % 16 != 0 || data.size() > 64) return Reply{status::kCommandLength, {}};
        const auto cipher = crypto::HexToBytes(data);
        if (!cipher) return Reply{status::kIllegalData, {}};
        auto key = m_keys.find(mode);
        if (key == m_keys.end()) return Reply{status::kNoSuchKey, {}};
        std::string text = crypto::DecryptEcb(*crypto::HexToBytes(key->second.value), *cipher);
        while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
        m_line1 = text;
        m_line2.clear();
    } else {
        return Reply{status::kWrongParameter, {}};
    }
    return Reply{status::kOk, {}, true};
}

// Socket digit, card type "88", action 1 power up, 2 status, 3 power down. The reply repeats
// the three request characters, then the card status character, then the card's answer.
PadSimulator::Reply PadSimulator::CardControl(std::string_view payload) {
    if (payload.size() != 4) return Reply{status::kCommandLength, {}};
    const char socket = payload[0], action = payload[3];
    if (socket < '1' || socket > '8' || action < '1' || action > '3')
        return Reply{status::kWrongParameter, {}};
    const std::string head(payload.substr(0, 3));
    if (payload.substr(1, 2) != "88")
        return Reply{status::kOk, head + status::kCardTypeUnsupported};
    if (socket != '1' || m_card == CardState::NoCard)
        return Reply{status::kOk, head + status::kNoCard};
    switch (action) {
        case '1':
            m_card = CardState::Powered;
            break;
        case '2':
            if (m_card != CardState::Powered)
                return Reply{status::kOk, head + status::kCardNotPoweredUp};
            break;
        default:
            if (m_card != CardState::Powered)
                return Reply{status::kOk, head + status::kCardNotPoweredUp};
            m_card = CardState::Inserted;
            return Reply{status::kOk, head + status::kCardDone};
    }
    return Reply{status::kOk, head + status::kCardDone + std::string(kAtr)};
}

// Socket digit, then the command APDU as hex text. Done: '0' and the response (data and SW) as
// hex text. A card condition: the socket, "88" and the condition character.
PadSimulator::Reply PadSimulator::CardAccess(std::string_view payload) {
    if (payload.size() < 9) return Reply{status::kCommandLength, {}};
    const char socket = payload[0];
    if (socket < '1' || socket > '8') return Reply{status::kWrongParameter, {}};
    const std::string head = std::string(1, socket) + "88";
    if (socket != '1' || m_card == CardState::NoCard)
        return Reply{status::kOk, head + status::kNoCard};
    if (m_card != CardState::Powered) return Reply{status::kOk, head + status::kCardNotPoweredUp};
    const auto apdu = crypto::HexToBytes(payload.substr(1));
    if (!apdu) return Reply{status::kIllegalData, {}};
    return Reply{status::kOk, status::kCardDone + crypto::BytesToHex(CardApdu(*apdu))};
}

std::string PadSimulator::CardApdu(const std::string& apdu) {
    const auto cla = static_cast<unsigned char>(apdu[0]), ins = static_cast<unsigned char>(apdu[1]);
    const auto p1 = static_cast<unsigned char>(apdu[2]), p2 = static_cast<unsigned char>(apdu[3]);
    const std::string body = apdu.substr(4);
    std::string data;
    int le = -1;
    if (body.size() == 1) {
        le = static_cast<unsigned char>(body[0]);
    } else if (!body.empty()) {
        const std::size_t lc = static_cast<unsigned char>(body[0]);
        if (lc == 0 || (body.size() != 1 + lc && body.size() != 2 + lc)) return Sw(0x6700);
        data = body.substr(1, lc);
        if (body.size() == 2 + lc) le = static_cast<unsigned char>(body.back());
    }
    if (cla != 0x00 && cla != 0x80) return Sw(0x6E00);
    switch (ins) {
        case 0xA4: {  // SELECT by file identifier (P1 00) or by name (P1 04)
            if (p1 == 0x00 && data == std::string("\x3F\x00", 2))
                return *crypto::HexToBytes(kMfFci) + Sw(0x9000);
            if (p1 == 0x04 && data == kPseName) return *crypto::HexToBytes(kPseFci) + Sw(0x9000);
            if (p1 != 0x00 && p1 != 0x04) return Sw(0x6A86);
            return Sw(0x6A82);
        }
        case 0x84: {  // GET CHALLENGE
            const int n = le <= 0 ? 8 : le;
            if (!data.empty() || (n != 4 && n != 8)) return Sw(0x6700);
            return *crypto::HexToBytes(RandomHex(static_cast<std::size_t>(n))) + Sw(0x9000);
        }
        case 0xB2: {  // READ RECORD: record P1 of the file named by P2's SFI
            if ((p2 & 7) != 4) return Sw(0x6A86);
            if ((p2 >> 3) != 1 || p1 < 1 || p1 > 2) return Sw(0x6A83);
            return *crypto::HexToBytes(kRecords[p1 - 1]) + Sw(0x9000);
        }
        default:
            return Sw(0x6D00);
    }
}

}  // namespace padsim
