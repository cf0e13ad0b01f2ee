#include "des_engine.h"

#include <array>
#include <cstring>
#include <utility>

namespace lumenord {
namespace {

// The tables of FIPS 46-3, numbered from 1 = most significant bit as the standard numbers them.
constexpr std::uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11},
};

constexpr std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
constexpr std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Bit `position` (1 = most significant) of a value `width` bits wide.
constexpr std::uint64_t Bit(std::uint64_t value, int position, int width) {
    return (value >> (width - position)) & 1;
}

// The rounds keep each half rotated left by one bit, so that every 6-bit group of the expansion
// E is a contiguous field of the half or of the half rotated right by four. The SP tables give
// P(S(x)) in that rotated layout, one table per S-box, indexed by its 6-bit input.
using SpTables = std::array<std::array<std::uint32_t, 64>, 8>;

constexpr SpTables MakeSpTables() {
    SpTables sp{};
    for (int box = 0; box < 8; ++box) {
        for (int x = 0; x < 64; ++x) {
            int row = ((x >> 4) & 2) | (x & 1);
            int column = (x >> 1) & 0xF;
            std::uint32_t beforeP = std::uint32_t{kSBoxes[box][row * 16 + column]}
                                    << (28 - 4 * box);
            std::uint32_t afterP = 0;
            for (int i = 0; i < 32; ++i)
                afterP |= static_cast<std::uint32_t>(Bit(beforeP, kP[i], 32)) << (31 - i);
            sp[box][x] = Rotl(afterP, 1);
        }
    }
    return sp;
}

constexpr SpTables kSp = MakeSpTables();

// PC-1 as eight tables, one per key byte: the byte's share of the 56-bit C|D register.
using Pc1Tables = std::array<std::array<std::uint64_t, 256>, 8>;

constexpr Pc1Tables MakePc1Tables() {
    Pc1Tables t{};
    for (int i = 0; i < 56; ++i) {
        int keyBit = kPc1[i] - 1;
        for (int value = 0; value < 256; ++value)
            if ((value >> (7 - keyBit % 8)) & 1)
                t[keyBit / 8][value] |= std::uint64_t{1} << (55 - i);
    }
    return t;
}

constexpr Pc1Tables kPc1Tables = MakePc1Tables();

// A 48-bit round key, eight 6-bit groups g1..g8, packed as the rounds use it: the high word
// holds g1, g3, g5, g7 (against the half rotated right by four), the low word g2, g4, g6, g8.
constexpr std::uint64_t PackGroups(std::uint64_t subkey48) {
    std::uint64_t packed = 0;
    for (int g = 0; g < 8; ++g) {
        std::uint64_t group = (subkey48 >> (42 - 6 * g)) & 0x3F;
        int word = g % 2 == 0 ? 32 : 0;
        packed |= group << (word + 24 - 8 * (g / 2));
    }
    return packed;
}

// PC-2 as eight tables, one per 7-bit slice of C|D: the slice's share of the packed round key.
using Pc2Tables = std::array<std::array<std::uint64_t, 128>, 8>;

constexpr Pc2Tables MakePc2Tables() {
    Pc2Tables t{};
    for (int slice = 0; slice < 8; ++slice) {
        for (int value = 0; value < 128; ++value) {
            std::uint64_t cd = std::uint64_t(value) << (49 - 7 * slice);
            std::uint64_t subkey = 0;
            for (int i = 0; i < 48; ++i) subkey |= Bit(cd, kPc2[i], 56) << (47 - i);
            t[slice][value] = PackGroups(subkey);
        }
    }
    return t;
}

constexpr Pc2Tables kPc2Tables = MakePc2Tables();

constexpr std::uint32_t Rotl28(std::uint32_t x, int n) {
    return ((x << n) | (x >> (28 - n))) & 0x0FFFFFFF;
}

void MakeRoundKeys(std::uint64_t key, std::uint64_t* roundKeys) {
    std::uint64_t cd = 0;
    for (int i = 0; i < 8; ++i) cd |= kPc1Tables[i][(key >> (56 - 8 * i)) & 0xFF];
    auto c = static_cast<std::uint32_t>(cd >> 28);
    auto d = static_cast<std::uint32_t>(cd & 0x0FFFFFFF);
    for (int round = 0; round < 16; ++round) {
        c = Rotl28(c, kShifts[round]);
        d = Rotl28(d, kShifts[round]);
        std::uint64_t joined = (std::uint64_t{c} << 28) | d;
        std::uint64_t packed = 0;
        for (int slice = 0; slice < 8; ++slice)
            packed |= kPc2Tables[slice][(joined >> (49 - 7 * slice)) & 0x7F];
        roundKeys[round] = packed;
    }
}

// One swap-move step: exchanges the bits of `a` selected by mask << shift with those of `b`
// selected by mask.
inline void SwapMove(std::uint32_t& a, std::uint32_t& b, int shift, std::uint32_t mask) {
    std::uint32_t t = ((a >> shift) ^ b) & mask;
    b ^= t;
    a ^= t << shift;
}

// The initial permutation, leaving both halves rotated left by one bit for the rounds.
inline void InitialPermutation(std::uint32_t& l, std::uint32_t& r) {
    SwapMove(l, r, 4, 0x0F0F0F0F);
    SwapMove(l, r, 16, 0x0000FFFF);
    SwapMove(r, l, 2, 0x33333333);
    SwapMove(r, l, 8, 0x00FF00FF);
    r = Rotl(r, 1);
    SwapMove(l, r, 0, 0xAAAAAAAA);
    l = Rotl(l, 1);
}

// The final permutation: the exact inverse of InitialPermutation.
inline void FinalPermutation(std::uint32_t& l, std::uint32_t& r) {
    l = Rotr(l, 1);
    SwapMove(l, r, 0, 0xAAAAAAAA);
    r = Rotr(r, 1);
    SwapMove(r, l, 8, 0x00FF00FF);
    SwapMove(r, l, 2, 0x33333333);
    SwapMove(l, r, 16, 0x0000FFFF);
    SwapMove(l, r, 4, 0x0F0F0F0F);
}

inline std::uint32_t Feistel(std::uint32_t r, std::uint64_t roundKey) {
    std::uint32_t odd = Rotr(r, 4) ^ static_cast<std::uint32_t>(roundKey >> 32);
    std::uint32_t even = r ^ static_cast<std::uint32_t>(roundKey);
    // Grouped so that the eight look-ups combine in a tree rather than one long chain.
    std::uint32_t oddBoxes = (kSp[0][(odd >> 24) & 0x3F] | kSp[2][(odd >> 16) & 0x3F]) |
                             (kSp[4][(odd >> 8) & 0x3F] | kSp[6][odd & 0x3F]);
    std::uint32_t evenBoxes = (kSp[1][(even >> 24) & 0x3F] | kSp[3][(even >> 16) & 0x3F]) |
                              (kSp[5][(even >> 8) & 0x3F] | kSp[7][even & 0x3F]);
    return oddBoxes | evenBoxes;
}

// Sixteen rounds on permuted halves; afterwards l and r hold L16 and R16 (the pre-output is
// R16 L16).
template <bool kEncrypt>
inline void Rounds(std::uint32_t& l, std::uint32_t& r, const std::uint64_t* roundKeys) {
    for (int i = 0; i < 16; i += 2) {
        l ^= Feistel(r, roundKeys[kEncrypt ? i : 15 - i]);
        r ^= Feistel(l, roundKeys[kEncrypt ? i + 1 : 14 - i]);
    }
}

inline void Rounds(std::uint32_t& l, std::uint32_t& r, const std::uint64_t* roundKeys,
                   bool encrypt) {
    if (encrypt)
        Rounds<true>(l, r, roundKeys);
    else
        Rounds<false>(l, r, roundKeys);
}

// Runs one to three DES passes over a block; between passes the final and initial permutations
// cancel, so only the halves are exchanged.
std::uint64_t Cipher(std::uint64_t block, const std::uint64_t* const* schedules,
                     const bool* encrypt, int passes) {
    auto l = static_cast<std::uint32_t>(block >> 32);
    auto r = static_cast<std::uint32_t>(block);
    InitialPermutation(l, r);
    for (int pass = 0; pass < passes; ++pass) {
        if (pass > 0) std::swap(l, r);
        Rounds(l, r, schedules[pass], encrypt[pass]);
    }
    FinalPermutation(r, l);
    return (std::uint64_t{r} << 32) | l;
}

// Low four bits of the value that each character maps to: c - 32 below '0', c - 48 up to '@',
// c - 55 up to '`', c - 87 from 'a' on. Modulo 16 that is c below 'A' and c + 9 from 'A' on.
constexpr std::array<std::uint8_t, 256> MakeNibbles() {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>((c < 'A' ? c : c + 9) & 0xF);
    return t;
}

constexpr std::array<std::uint8_t, 256> kNibble = MakeNibbles();
constexpr char kHexDigits[] = "0123456789ABCDEF";

inline std::uint8_t NibbleOf(char c) { return kNibble[static_cast<unsigned char>(c)]; }

// Sixteen characters that are known to be there.
inline std::uint64_t ParseBlock(const char* text) {
    std::uint64_t value = 0;
    for (int i = 0; i < 16; ++i) value = (value << 4) | NibbleOf(text[i]);
    return value;
}

inline void FormatBlock(std::uint64_t value, char* text) {
    for (int i = 15; i >= 0; --i) {
        text[i] = kHexDigits[value & 0xF];
        value >>= 4;
    }
}

std::uint64_t LoadBigEndian(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | bytes[i];
    return value;
}

void StoreBigEndian(std::uint64_t value, std::uint8_t* bytes) {
    for (int i = 7; i >= 0; --i) {
        bytes[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

bool IsKeyOrBlockLength(std::size_t n) { return n == 16 || n == 32 || n == 48; }

}  // namespace

void HexToBytes(const char* text, std::uint8_t* bytes, std::size_t n) {
    const std::size_t wanted = 2 * n;
    const std::size_t length = strnlen(text, wanted);
    const std::size_t padding = wanted - length;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t high = 2 * i;
        std::size_t low = high + 1;
        std::uint8_t h = high < padding ? 0 : NibbleOf(text[high - padding]);
        std::uint8_t l = low < padding ? 0 : NibbleOf(text[low - padding]);
        bytes[i] = static_cast<std::uint8_t>((h << 4) | l);
    }
}

void BytesToHex(const std::uint8_t* bytes, std::size_t n, char* text) {
    for (std::size_t i = 0; i < n; ++i) {
        text[2 * i] = kHexDigits[bytes[i] >> 4];
        text[2 * i + 1] = kHexDigits[bytes[i] & 0xF];
    }
    text[2 * n] = '\0';
}

const char* DesEngine::EncryptBlock(const char* dataText, const char* keyText) {
    RunBlock(dataText, keyText, true);
    return m_resultText;
}

const char* DesEngine::DecryptBlock(const char* dataText, const char* keyText) {
    RunBlock(dataText, keyText, false);
    return m_resultText;
}

void DesEngine::RunBlock(const char* dataText, const char* keyText, bool encrypt) {
    std::uint8_t key[8];
    HexToBytes(keyText, key, 8);
    if (!m_roundKeysReady || std::memcmp(key, m_key, sizeof m_key) != 0) {
        std::memcpy(m_key, key, sizeof m_key);
        MakeRoundKeys(LoadBigEndian(m_key), m_roundKeys);
        m_roundKeysReady = true;
    }
    HexToBytes(dataText, m_data, 8);
    const std::uint64_t* schedule = m_roundKeys;
    StoreBigEndian(Cipher(LoadBigEndian(m_data), &schedule, &encrypt, 1), m_result);
    BytesToHex(m_result, 8, m_resultText);
}

const std::uint64_t* DesEngine::ScheduleFor(int slot, const char* keyText) {
    CachedSchedule& cached = m_schedules[slot];
    std::uint64_t key = ParseBlock(keyText);
    if (!cached.ready || cached.key != key) {
        MakeRoundKeys(key, cached.roundKeys);
        cached.key = key;
        cached.ready = true;
    }
    return cached.roundKeys;
}

bool DesEngine::TriUntriDes(const char* data, const char* key, char* output, bool encrypt) {
    if (data == nullptr || key == nullptr || output == nullptr) return false;
    const std::size_t keyLength = strnlen(key, kLongestDesText + 1);
    const std::size_t dataLength = strnlen(data, kLongestDesText + 1);
    if (!IsKeyOrBlockLength(keyLength) || !IsKeyOrBlockLength(dataLength)) return false;

    // Encryption runs E(K1) D(K2) E(K3), decryption D(K3) E(K2) D(K1); a two-key key has K3 = K1.
    const std::uint64_t* k1 = ScheduleFor(0, key);
    const std::uint64_t* schedules[3] = {k1, nullptr, nullptr};
    bool directions[3] = {encrypt, !encrypt, encrypt};
    int passes = 1;
    if (keyLength > 16) {
        // Encryption runs E(K1) D(K2) E(K3), decryption D(K3) E(K2) D(K1); two keys: K3 = K1.
        const std::uint64_t* k2 = ScheduleFor(1, key + 16);
        const std::uint64_t* k3 = keyLength == 48 ? ScheduleFor(2, key + 32) : k1;
        schedules[0] = encrypt ? k1 : k3;
        schedules[1] = k2;
        schedules[2] = encrypt ? k3 : k1;
        passes = 3;
    }

    for (std::size_t offset = 0; offset < dataLength; offset += 16)
        FormatBlock(Cipher(ParseBlock(data + offset), schedules, directions, passes),
                    output + offset);
    output[dataLength] = '\0';
    return true;
}

}  // namespace lumenord
