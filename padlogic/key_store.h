// The key store: what the host loaded into the pad, kept across runs in a private-profile file,
// since the pad never gives a key back. Clear keys keep their parts and combined value per index,
// keys loaded in cipher text their clear value, and beside them the authorization data of the
// last initialisation and the PIN time-out last set. Nothing is cached: every read goes to the
// file, so a value written by one operation is what the next one reads.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "write_result.h"

namespace padlogic {

// KeyStock.txt in the working folder.
inline constexpr const char* kKeyStoreFile = "./KeyStock.txt";
// The buffers values are read into: a key value holds at most 48 characters, the authorization
// data at most 99; a longer stored text is cut to that.
inline constexpr std::size_t kKeyValueBuffer = 49;
inline constexpr std::size_t kAuthDataBuffer = 100;
// The PIN time-out in seconds while none was set.
inline constexpr int kDefaultPinTimeout = 30;

// Records that go into the store together, all of them or none, named by what they hold.
// `index` is the two-character key index text (e.g. "05").
class KeyRecords {
public:
    struct Record {
        const char* section;
        std::string key;
        std::string value;
    };

    // Part 1, 2 or 3 of the clear key at `index`.
    KeyRecords& ClearPart(std::string_view index, int part, std::string_view value);
    // The combined clear value of the key at `index`.
    KeyRecords& ClearValue(std::string_view index, std::string_view value);
    // The three parts, the combined value and the combination code the key was loaded with,
    // which a recall of the parts selects again: how many parts there are does not tell 34 from
    // 32, or 33 from 31.
    KeyRecords& ClearKey(std::string_view index, const std::array<std::string, 3>& parts,
                         std::string_view value, int code);
    // Part `part` of the key at `index` typed on the pad with combination code `code`: the part
    // as the pad sent it, the key mask as the value, and the code, which no recall selects.
    KeyRecords& PadPart(std::string_view index, int part, std::string_view text, int code);
    // The clear value of the key loaded in cipher text at `index`.
    KeyRecords& CipherKey(std::string_view index, std::string_view value);
    KeyRecords& AuthData(std::string_view text);
    KeyRecords& PinTimeout(int seconds);

    const std::vector<Record>& records() const { return m_records; }

    // Empties every value that the store cannot keep as it is (a line break or NUL in a text the
    // pad sent), so that the record before it does not outlive the operation. True when every
    // value stays as it was.
    bool EmptyUnkeepableValues();

private:
    KeyRecords& Add(const char* section, std::string key, std::string_view value);
    std::vector<Record> m_records;
};

class KeyStore;

// The records after a key loaded in cipher text at `saveIndex` under the key at `decryptIndex`
// with `tag`, whose clear value (or the key mask) is `clear`: that value at the save index; the
// decryption key's clear parts emptied when the new key replaced it, since they no longer
// describe it; a master key at a clear-key index (00-1F) also as a clear key, so that it serves
// as a decryption key. The program and the command-line tool record the same.
KeyRecords CipherKeyRecords(std::string_view decryptIndex, std::string_view saveIndex,
                            std::string_view tag, std::string_view clear, const KeyStore& store);

// The store in one file. Reads give "" (or the default time-out) when the file, the section or
// the key is missing, or when `index` is empty.
class KeyStore {
public:
    explicit KeyStore(std::string path = kKeyStoreFile) : m_path(std::move(path)) {}
    const std::string& path() const { return m_path; }

    std::string ClearPart(std::string_view index, int part) const;
    std::array<std::string, 3> ClearParts(std::string_view index) const;
    std::string ClearValue(std::string_view index) const;
    std::string CipherKey(std::string_view index) const;
    std::string AuthData() const;
    int PinTimeout() const;
    // The combination code the clear key at `index` was loaded with; nothing when none is on
    // record (a store written before codes were kept) or it is no hexadecimal byte.
    std::optional<int> ClearCode(std::string_view index) const;

    // The values above as keys to encipher with: the combined value of the clear key at `index`,
    // and the value of the key loaded in cipher text there. "" unless the whole stored value is
    // a key (IsUsableKey), as for a key that is not on record.
    std::string ClearKeyValue(std::string_view index) const;
    std::string CipherKeyValue(std::string_view index) const;
    // Whether a key at `index` is on record: a clear first part that is hexadecimal of a part's
    // length (8 to 48 characters, by eights) or the key mask, or a cipher-text key's value that
    // is a key or the key mask. Any other text stands for no key.
    bool HoldsKey(std::string_view index) const;

    // Writes all of `records` in one replacement of the file, or none; the result says why not.
    // The file is kept from other users (see platform::FileContent::kSecret).
    platform::WriteResult Write(const KeyRecords& records) const;

private:
    std::string Read(const char* section, const std::string& key, std::size_t buffer) const;
    std::string m_path;
};

// What the operator is told (once) when a write took the permissions of others from the store at
// `path`: it held keys that every user could read.
std::string OthersAccessRemovedText(std::string_view path);

// What the operator reads when `done` happened on the pad (e.g. "The key was loaded into the
// pad") but the store at `path` could not keep it: "<done>, but could not be recorded in <path>:
// <reason>."
std::string UnrecordedText(std::string_view done, std::string_view path, std::string_view reason);

// Whether a stored value serves as a key to encipher or decipher with: 16, 32 or 48
// hexadecimal characters. The key mask, an erased value and whatever else a pad sent for a key
// typed on it are no key the host knows.
bool IsUsableKey(std::string_view value);

// The reason given when a value the pad sent was recorded empty (EmptyUnkeepableValues).
std::string UnkeptPadValueReason();

}  // namespace padlogic
