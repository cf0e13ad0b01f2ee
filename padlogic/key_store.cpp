#include "key_store.h"

#include <optional>

#include "key_parts.h"
#include "key_tables.h"
#include "profile.h"

namespace padlogic {
namespace {

// The file's sections and the names of their keys.
constexpr const char* kClearKeys = "KEY_MINWEN";    // KK_1, KK_2, KK_3 and KK_V per index KK
constexpr const char* kCipherKeys = "KEY_ENCRYPT";  // KK per index KK
constexpr const char* kAuthorization = "INIT_AUTH";
constexpr const char* kAuthDataKey = "AUTH";
constexpr const char* kPinRenew = "PINRENEW";
constexpr const char* kPinTimeoutKey = "TIMEOUT";

std::string PartKey(std::string_view index, int part) {
    return std::string(index) + "_" + std::to_string(part);
}
std::string ValueKey(std::string_view index) { return std::string(index) + "_V"; }
std::string CodeKey(std::string_view index) { return std::string(index) + "_C"; }

// A combination code as the record keeps it: two upper-case hexadecimal digits.
std::string CodeText(int code) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[(code >> 4) & 0xF], kDigits[code & 0xF]};
}

// Read wide enough that a value longer than any key is seen as too long, not cut to a key's
// length by a 49-byte buffer.
constexpr std::size_t kKeyCheckBuffer = 100;

// Hexadecimal text of the length of a key part: 8 to 48 characters, by eights (parts of an
// interleaved key are half a key long, a part typed on the pad has the length of its entry).
bool IsKeyPartText(std::string_view text) {
    return text.size() % 8 == 0 && text.size() <= 48 && IsHex(text);
}

}  // namespace

KeyRecords& KeyRecords::Add(const char* section, std::string key, std::string_view value) {
    m_records.push_back({section, std::move(key), std::string(value)});
    return *this;
}

KeyRecords& KeyRecords::ClearPart(std::string_view index, int part, std::string_view value) {
    return Add(kClearKeys, PartKey(index, part), value);
}

KeyRecords& KeyRecords::ClearValue(std::string_view index, std::string_view value) {
    return Add(kClearKeys, ValueKey(index), value);
}

KeyRecords& KeyRecords::ClearKey(std::string_view index, const std::array<std::string, 3>& parts,
                                 std::string_view value, int code) {
    for (int part = 1; part <= 3; ++part) ClearPart(index, part, parts[part - 1]);
    return ClearValue(index, value).Add(kClearKeys, CodeKey(index), CodeText(code));
}

KeyRecords& KeyRecords::PadPart(std::string_view index, int part, std::string_view text, int code) {
    return ClearPart(index, part, text)
        .ClearValue(index, kKeyMask)
        .Add(kClearKeys, CodeKey(index), CodeText(code));
}

bool KeyRecords::EmptyUnkeepableValues() {
    bool kept = true;
    for (Record& record : m_records) {
        const platform::ProfileEntry entry{record.section, record.key, record.value};
        // Only a value at fault is emptied; a bad name fails the write as it is.
        if (platform::CheckProfileEntry(entry).ok() ||
            !platform::CheckProfileEntry({record.section, record.key, ""}).ok())
            continue;
        record.value.clear();
        kept = false;
    }
    return kept;
}

KeyRecords& KeyRecords::CipherKey(std::string_view index, std::string_view value) {
    return Add(kCipherKeys, std::string(index), value);
}

KeyRecords& KeyRecords::AuthData(std::string_view text) {
    return Add(kAuthorization, kAuthDataKey, text);
}

KeyRecords& KeyRecords::PinTimeout(int seconds) {
    return Add(kPinRenew, kPinTimeoutKey, std::to_string(seconds));
}

std::string KeyStore::Read(const char* section, const std::string& key, std::size_t buffer) const {
    if (key.empty()) return {};
    std::vector<char> text(buffer, '\0');
    platform::GetPrivateProfileString(section, key.c_str(), "", text.data(), text.size(),
                                      m_path.c_str());
    return text.data();
}

std::string KeyStore::ClearPart(std::string_view index, int part) const {
    return index.empty() ? std::string() : Read(kClearKeys, PartKey(index, part), kKeyValueBuffer);
}

std::array<std::string, 3> KeyStore::ClearParts(std::string_view index) const {
    return {ClearPart(index, 1), ClearPart(index, 2), ClearPart(index, 3)};
}

std::string KeyStore::ClearValue(std::string_view index) const {
    return index.empty() ? std::string() : Read(kClearKeys, ValueKey(index), kKeyValueBuffer);
}

std::string KeyStore::CipherKey(std::string_view index) const {
    return Read(kCipherKeys, std::string(index), kKeyValueBuffer);
}

std::string KeyStore::AuthData() const {
    return Read(kAuthorization, kAuthDataKey, kAuthDataBuffer);
}

int KeyStore::PinTimeout() const {
    return platform::GetPrivateProfileInt(kPinRenew, kPinTimeoutKey, kDefaultPinTimeout,
                                          m_path.c_str());
}

std::optional<int> KeyStore::ClearCode(std::string_view index) const {
    if (index.empty()) return std::nullopt;
    const std::string text = Read(kClearKeys, CodeKey(index), kKeyValueBuffer);
    if (text.size() != 2 || !IsHex(text)) return std::nullopt;
    return static_cast<int>(HexByteAt(text, 0));
}

std::string KeyStore::ClearKeyValue(std::string_view index) const {
    if (index.empty()) return {};
    std::string value = Read(kClearKeys, ValueKey(index), kKeyCheckBuffer);
    return IsUsableKey(value) ? value : std::string();
}

std::string KeyStore::CipherKeyValue(std::string_view index) const {
    std::string value = Read(kCipherKeys, std::string(index), kKeyCheckBuffer);
    return IsUsableKey(value) ? value : std::string();
}

bool KeyStore::HoldsKey(std::string_view index) const {
    if (index.empty()) return false;
    const std::string part = Read(kClearKeys, PartKey(index, 1), kKeyCheckBuffer);
    if (part == kKeyMask || IsKeyPartText(part)) return true;
    const std::string cipherKey = Read(kCipherKeys, std::string(index), kKeyCheckBuffer);
    return cipherKey == kKeyMask || IsUsableKey(cipherKey);
}

platform::WriteResult KeyStore::Write(const KeyRecords& records) const {
    std::vector<platform::ProfileEntry> entries;
    for (const KeyRecords::Record& record : records.records())
        entries.push_back({record.section, record.key, record.value});
    return platform::WriteProfileEntries(entries, m_path.c_str(), platform::FileContent::kSecret);
}

std::string OthersAccessRemovedText(std::string_view path) {
    return "The key store " + std::string(path) +
           " could be read by other users; it is now readable only by its owner and group.";
}

std::string UnrecordedText(std::string_view done, std::string_view path, std::string_view reason) {
    return std::string(done) + ", but could not be recorded in " + std::string(path) + ": " +
           std::string(reason) + ".";
}

bool IsUsableKey(std::string_view value) { return IsKeyText(value); }

std::string UnkeptPadValueReason() {
    return "the pad's reply is not a key value (it holds a line break or NUL), so it is recorded "
           "empty";
}

namespace {

// The number of a key index of two hexadecimal digits; nothing for any other text.
std::optional<unsigned> IndexValue(std::string_view index) {
    if (index.size() != 2 || HexDigit(index[0]) < 0 || HexDigit(index[1]) < 0) return std::nullopt;
    return HexByteAt(index, 0);
}

}  // namespace

KeyRecords CipherKeyRecords(std::string_view decryptIndex, std::string_view saveIndex,
                            std::string_view tag, std::string_view clear, const KeyStore& store) {
    constexpr unsigned kLastClearKeyIndex = 0x1F;
    KeyRecords records;
    records.CipherKey(saveIndex, clear);
    const std::optional<unsigned> save = IndexValue(saveIndex);
    if (save == IndexValue(decryptIndex) && !store.ClearPart(decryptIndex, 1).empty()) {
        for (int part = 1; part <= 3; ++part) records.ClearPart(decryptIndex, part, "");
    }
    if (save && *save <= kLastClearKeyIndex && tag == kMasterKeyTag) {
        records.ClearPart(saveIndex, 1, clear)
            .ClearValue(saveIndex, clear)
            .ClearPart(saveIndex, 2, "")
            .ClearPart(saveIndex, 3, "");
    }
    return records;
}

}  // namespace padlogic
