// Key loading (clear text, cipher text, typed on the pad), verify codes, erasure and the
// authentication exchanges.
#include <algorithm>
#include <utility>

#include "pad_crypto.h"
#include "pad_status.h"
#include "padsim/pad_simulator.h"

namespace padsim {
namespace {

std::string Upper(std::string_view s) {
    std::string u(s);
    std::transform(u.begin(), u.end(), u.begin(), ::toupper);
    return u;
}

std::string XorHexParts(const std::vector<std::string_view>& parts) {
    std::string out = *crypto::HexToBytes(parts[0]);
    for (std::size_t p = 1; p < parts.size(); ++p) {
        const std::string b = *crypto::HexToBytes(parts[p]);
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ b[i]);
    }
    return crypto::BytesToHex(out);
}

// Chunks of eight characters of the two parts, taken alternately.
std::string Interleave(std::string_view a, std::string_view b) {
    std::string out;
    for (std::size_t at = 0; at < a.size(); at += 8) {
        out += a.substr(at, 8);
        out += b.substr(at, 8);
    }
    return out;
}

bool WholeKey(std::size_t hexChars) { return hexChars == 16 || hexChars == 32 || hexChars == 48; }

// Tag digit of the cipher-text record, with the save indexes the tag may use.
struct TagRule {
    char digit;
    const char* tag;
    int low, high;
};
const TagRule kTags[] = {{'2', "TMK", 0x10, 0x3F},  {'3', "TPK", 0x30, 0x7F},
                         {'5', "TAK", 0x30, 0x7F},  {'6', "TDK", 0x30, 0x7F},
                         {'7', "TDEK", 0x30, 0x7F}, {'8', "TDDK", 0x30, 0x7F},
                         {'9', "TDSK", 0x40, 0x7F}};

}  // namespace

// Record: key index (00-1F), combination character, length digit, key parts.
PadSimulator::Reply PadSimulator::ClearKeyDownload(std::string_view payload) {
    if (payload.size() < 4) return Reply{status::kCommandLength, {}};
    const auto index = ParseIndex(payload);
    if (!index || *index > 0x1F) return Reply{status::kNoKeyIndex, {}};
    const char code = payload[2];
    if (payload[3] < '0' || payload[3] > '9') return Reply{status::kWrongParameter, {}};
    const int length = payload[3] - '0';
    const std::string_view parts = payload.substr(4);

    if (code >= 'A' && code <= 'C') {  // key part typed on the pad
        if (!parts.empty()) return Reply{status::kCommandLength, {}};
        if (length < 1 || length > 6) return Reply{status::kWrongKeyLength, {}};
        OpenEntry(Mode::KeyEntry);
        m_pendingPinRequest.reset();
        m_entryKeyIndex = *index;
        m_entryPart = code - 'A' + 1;
        m_entryLength = 8 * static_cast<std::size_t>(length);
        return Reply{status::kOk, {}};
    }
    if (code < '0' || code > '4') return Reply{status::kWrongParameter, {}};
    if (length < 1 || length > 3 || (code == '3' && length != 3))
        return Reply{status::kWrongKeyLength, {}};

    std::vector<std::string> pieces;  // the parts, from the record or typed on the pad earlier
    const std::size_t count = code == '0' ? 1 : (code == '1' || code == '3') ? 3 : 2;
    const std::size_t each = code == '2' ? 8u * length : code == '3' ? 16u : 16u * length;
    if (parts.empty() && code != '0') {
        auto& typed = m_keyParts[*index];
        for (std::size_t p = 1; p <= count; ++p) {
            auto it = typed.find(static_cast<int>(p));
            if (it == typed.end()) return Reply{status::kNoKeyIndex, {}};
            pieces.push_back(it->second);
        }
    } else {
        if (parts.size() != count * each) return Reply{status::kWrongKeyLength, {}};
        for (std::size_t p = 0; p < count; ++p) pieces.emplace_back(parts.substr(p * each, each));
    }
    for (const auto& piece : pieces) {
        if (piece.size() != each) return Reply{status::kWrongKeyLength, {}};
        if (!crypto::IsHex(piece)) return Reply{status::kIllegalData, {}};
    }
    std::string value;
    switch (code) {
        case '0':
            value = pieces[0];
            break;
        case '1':
            value = XorHexParts({pieces[0], pieces[1], pieces[2]});
            break;
        case '2':
            value = Interleave(pieces[0], pieces[1]);
            break;
        case '3':
            value = pieces[0] + pieces[1] + pieces[2];
            break;
        default:
            value = XorHexParts({pieces[0], pieces[1]});
            break;
    }
    value = Upper(value);
    m_keys[*index] = StoredKey{value, "IMK"};
    return Reply{status::kOk, crypto::VerifyCode(*crypto::HexToBytes(value))};
}

// Record: decryption index, save index, tag digit, length digit, cipher text, verify code.
// Tag 0 with length 0 reads a verify code; tag 0 with length 1 and sixteen zeros erases.
PadSimulator::Reply PadSimulator::CipherKeyDownload(std::string_view payload) {
    if (payload.size() < 6) return Reply{status::kCommandLength, {}};
    const auto decipherIndex = ParseIndex(payload);
    const auto saveIndex = ParseIndex(payload.substr(2));
    if (!decipherIndex || !saveIndex || *saveIndex > 0x7F) return Reply{status::kNoKeyIndex, {}};
    const char tagDigit = payload[4], lengthDigit = payload[5];
    const std::string_view rest = payload.substr(6);
    auto saved = m_keys.find(*saveIndex);

    if (tagDigit == '0' && lengthDigit == '0' && rest.empty()) {
        if (saved == m_keys.end()) return Reply{status::kNoSuchKey, {}};
        return Reply{status::kOk, crypto::VerifyCode(*crypto::HexToBytes(saved->second.value))};
    }
    if (tagDigit == '0' && lengthDigit == '1' && rest == "0000000000000000") {
        if (*saveIndex < 0x20 || saved == m_keys.end()) return Reply{status::kNoSuchKey, {}};
        std::string code = crypto::VerifyCode(*crypto::HexToBytes(saved->second.value));
        m_keys.erase(saved);
        return Reply{status::kOk, code};
    }
    const TagRule* rule = nullptr;
    for (const auto& r : kTags)
        if (r.digit == tagDigit) rule = &r;
    if (!rule) return Reply{status::kWrongParameter, {}};
    if (*decipherIndex > 0x3F) return Reply{status::kNoKeyIndex, {}};
    if (*saveIndex < rule->low || *saveIndex > rule->high) return Reply{status::kNoSuchKey, {}};
    auto decipher = m_keys.find(*decipherIndex);
    if (decipher == m_keys.end()) return Reply{status::kNoKeyIndex, {}};
    const std::string& decipherTag = decipher->second.tag;
    if (rule->digit == '2' && decipherTag != "IMK") return Reply{status::kNotImk, {}};
    if (rule->digit != '2' && decipherTag != "TMK" && decipherTag != "IMK")
        return Reply{status::kNotTmk, {}};

    if (lengthDigit < '1' || lengthDigit > '3') return Reply{status::kWrongKeyLength, {}};
    const std::size_t cipherChars = 16u * static_cast<std::size_t>(lengthDigit - '0');
    if (rest.size() != cipherChars && rest.size() != cipherChars + 8)
        return Reply{status::kWrongKeyLength, {}};
    const auto cipher = crypto::HexToBytes(rest.substr(0, cipherChars));
    if (!cipher || !crypto::IsHex(rest.substr(cipherChars))) return Reply{status::kIllegalData, {}};
    const std::string clear =
        crypto::DecryptEcb(*crypto::HexToBytes(decipher->second.value), *cipher);
    if (!crypto::OddParity(clear)) return Reply{status::kParityError, {}};
    const std::string code = crypto::VerifyCode(clear);
    if (rest.size() > cipherChars && Upper(rest.substr(cipherChars)) != code)
        return Reply{status::kKeyCheckError, {}};
    m_keys[*saveIndex] = StoredKey{crypto::BytesToHex(clear), rule->tag};
    return Reply{status::kOk, code};
}

// Hex characters are collected up to the announced count and echoed as typed; Enter stores the
// part once the count is complete.
std::string PadSimulator::KeyEntryKey(char key) {
    const char upper = static_cast<char>(::toupper(static_cast<unsigned char>(key)));
    const bool hex = crypto::IsHex(std::string_view(&upper, 1));
    const bool control = key == kBackspace || key == kEscape || key == kEnter;
    if (hex || (m_faults.anyKeyInEntry && !control)) {
        if (m_entryText.size() >= m_entryLength) return {};
        m_entryText += hex ? upper : key;
        return std::string(1, m_entryText.back());
    }
    switch (key) {
        case kBackspace:
            if (!m_entryText.empty()) m_entryText.pop_back();
            return std::string(1, kBackspace);
        case kEscape:
            CloseEntry();
            return std::string(1, kEscape);
        case kEnter: {
            if (m_entryText.size() != m_entryLength) return {};
            m_keyParts[m_entryKeyIndex][m_entryPart] = m_entryText;
            if (m_entryPart == 1) {
                m_keyParts[m_entryKeyIndex].erase(2);
                m_keyParts[m_entryKeyIndex].erase(3);
                if (WholeKey(m_entryText.size()) && crypto::IsHex(m_entryText))
                    m_keys[m_entryKeyIndex] = StoredKey{m_entryText, "IMK"};
            }
            CloseEntry();
            return std::string(1, kEnter);
        }
        default:
            return {};
    }
}

// Selector "80" sets up, "A0" challenges, "90" is the second step of the mutual
// authentication, and a key index opens its first step.
PadSimulator::Reply PadSimulator::Authentication(std::string_view payload) {
    if (payload.size() < 2) return Reply{status::kCommandLength, {}};
    const std::string selector = Upper(payload.substr(0, 2));
    const std::string_view data = payload.substr(2);
    if (selector == "80") {
        if (data.size() != 32) return Reply{status::kCommandLength, {}};
        if (!crypto::IsHex(data)) return Reply{status::kIllegalData, {}};
        m_authKey = Upper(data);
        m_authFailures = 0;
        m_authStepOne.clear();
        return Reply{status::kOk, m_authKey};
    }
    if (selector == "A0") {
        m_challenge = RandomHex(16);
        return Reply{status::kOk, m_challenge};
    }
    if (m_authFailures >= kAuthAttempts) return Reply{status::kCertificationLocked, {}};
    if (m_authKey.empty()) return Reply{status::kCertificationFailure, {}};
    if (selector == "90") return AuthenticationAnswer(data);

    const auto index = ParseIndex(selector);
    if (!index || *index > 0x7F) return Reply{status::kWrongParameter, {}};
    auto key = m_keys.find(*index);
    if (key == m_keys.end()) return Reply{status::kNoKeyIndex, {}};
    const std::string challenge = std::exchange(m_challenge, std::string());
    if (challenge.empty() || Upper(data) != challenge) return AuthenticationFailed();
    m_authKeyIndex = *index;
    m_authStepOne = crypto::BytesToHex(
        crypto::EncryptEcb(*crypto::HexToBytes(key->second.value), *crypto::HexToBytes(challenge)));
    return Reply{status::kOk, m_authStepOne};
}

// The host must answer with the pad's first-step reply enciphered under the authentication key.
PadSimulator::Reply PadSimulator::AuthenticationAnswer(std::string_view answer) {
    const std::string stepOne = std::exchange(m_authStepOne, std::string());
    auto key = m_keys.find(m_authKeyIndex);
    if (stepOne.empty() || key == m_keys.end()) return AuthenticationFailed();
    const std::string expected = crypto::BytesToHex(
        crypto::EncryptEcb(*crypto::HexToBytes(m_authKey), *crypto::HexToBytes(stepOne)));
    if (answer.size() < 32 || Upper(answer.substr(0, 32)) != expected)
        return AuthenticationFailed();
    m_authFailures = 0;
    return Reply{status::kOk,
                 crypto::BytesToHex(crypto::EncryptEcb(*crypto::HexToBytes(key->second.value),
                                                       *crypto::HexToBytes(expected)))};
}

PadSimulator::Reply PadSimulator::AuthenticationFailed() {
    ++m_authFailures;
    return Reply{m_authFailures >= kAuthAttempts ? status::kCertificationLocked
                                                 : status::kCertificationFailure,
                 {}};
}

}  // namespace padsim
