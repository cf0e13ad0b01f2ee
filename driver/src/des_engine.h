// DES and triple DES on hexadecimal text, the library's own implementation of FIPS 46-3.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumenord {

// The longest key or data text: three blocks, or a three-key key.
constexpr std::size_t kLongestDesText = 48;

// Converts the first 2n characters of `text` (left-padded with '0' when shorter) into n bytes;
// only the low four bits of each character's value count, so 'a' and 'A' agree.
void HexToBytes(const char* text, std::uint8_t* bytes, std::size_t n);
// Writes 2n upper-case hexadecimal characters and a terminating zero into `text`.
void BytesToHex(const std::uint8_t* bytes, std::size_t n, char* text);

class DesEngine {
public:
    virtual ~DesEngine() = default;

    // One block: 16 hex characters of data under 16 hex characters of key. The result text
    // (16 upper-case characters) stays in the engine until the next block operation.
    const char* EncryptBlock(const char* dataText, const char* keyText);
    const char* DecryptBlock(const char* dataText, const char* keyText);

    // Single DES (16-character key), two-key (32) or three-key (48) triple DES on 16, 32 or 48
    // data characters, each block on its own. Writes the result and a zero into `output` (at
    // least kLongestDesText + 1 bytes) and returns true; other lengths write nothing and return
    // false.
    bool TriUntriDes(const char* data, const char* key, char* output, bool encrypt);

    const char* ResultText() const { return m_resultText; }

private:
    void RunBlock(const char* dataText, const char* keyText, bool encrypt);
    // The round keys of the 16 key characters at `keyText`, kept per key position of a triple
    // key so that a repeated key costs one comparison.
    const std::uint64_t* ScheduleFor(int slot, const char* keyText);

    struct CachedSchedule {
        std::uint64_t key = 0;
        bool ready = false;
        std::uint64_t roundKeys[16] = {};
    };

    std::uint64_t m_roundKeys[16] = {};
    std::uint8_t m_key[8] = {};
    std::uint8_t m_data[8] = {};
    std::uint8_t m_result[8] = {};
    char m_resultText[17] = {};
    bool m_roundKeysReady = false;  // m_roundKeys belong to m_key
    CachedSchedule m_schedules[3];
};

}  // namespace lumenord
