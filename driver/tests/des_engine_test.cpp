// The library's DES against published known answers and against OpenSSL's libcrypto.
#define OPENSSL_API_COMPAT 10101  // the DES_ functions are the reference; they are deprecated
#include "des_engine.h"

#include <gtest/gtest.h>
#include <openssl/des.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pinpad.h"

namespace lumenord {
namespace {

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

std::string Encrypt(DesEngine& des, const std::string& data, const std::string& key) {
    return des.EncryptBlock(data.c_str(), key.c_str());
}

std::string Decrypt(DesEngine& des, const std::string& data, const std::string& key) {
    return des.DecryptBlock(data.c_str(), key.c_str());
}

// One bit set, the others clear, as 16 hex characters: bit 1 is the most significant.
std::string UnitBlock(int bit) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", 0x8000000000000000ULL >> (bit - 1));
    return text;
}

// Variable plaintext known answers: key 0101010101010101, plaintext bit i set, i = 1..64.
constexpr const char* kVariablePlaintext[64] = {
    "95F8A5E5DD31D900", "DD7F121CA5015619", "2E8653104F3834EA", "4BD388FF6CD81D4F",
    "20B9E767B2FB1456", "55579380D77138EF", "6CC5DEFAAF04512F", "0D9F279BA5D87260",
    "D9031B0271BD5A0A", "424250B37C3DD951", "B8061B7ECD9A21E5", "F15D0F286B65BD28",
    "ADD0CC8D6E5DEBA1", "E6D5F82752AD63D1", "ECBFE3BD3F591A5E", "F356834379D165CD",
    "2B9F982F20037FA9", "889DE068A16F0BE6", "E19E275D846A1298", "329A8ED523D71AEC",
    "E7FCE22557D23C97", "12A9F5817FF2D65D", "A484C3AD38DC9C19", "FBE00A8A1EF8AD72",
    "750D079407521363", "64FEED9C724C2FAF", "F02B263B328E2B60", "9D64555A9A10B852",
    "D106FF0BED5255D7", "E1652C6B138C64A5", "E428581186EC8F46", "AEB5F5EDE22D1A36",
    "E943D7568AEC0C5C", "DF98C8276F54B04B", "B160E4680F6C696F", "FA0752B07D9C4AB8",
    "CA3A2B036DBC8502", "5E0905517BB59BCF", "814EEB3B91D90726", "4D49DB1532919C9F",
    "25EB5FC3F8CF0621", "AB6A20C0620D1C6F", "79E90DBC98F92CCA", "866ECEDD8072BB0E",
    "8B54536F2F3E64A8", "EA51D3975595B86B", "CAFFC6AC4542DE31", "8DD45A2DDF90796C",
    "1029D55E880EC2D0", "5D86CB23639DBEA9", "1D1CA853AE7C0C5F", "CE332329248F3228",
    "8405D1ABE24FB942", "E643D78090CA4207", "48221B9937748A23", "DD7C0BBD61FAFD54",
    "2FBC291A570DB5C4", "E07C30D7E4E26E12", "0953E2258E8E90A1", "5B711BC4CEEBF2EE",
    "CC083F1E6D9E85F6", "D2FD8867D50D2DFE", "06E7EA22CE92708F", "166B40B44ABA4BD6",
};

// Variable key known answers: plaintext zero, key bit i set over 0101010101010101 for each of
// the 56 bits that are not parity bits.
constexpr Vector kVariableKey[56] = {
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
    {"1001010101010101", "0000000000000000", "D3746294CA6A6CF3"},
    {"0801010101010101", "0000000000000000", "809F5F873C1FD761"},
    {"0401010101010101", "0000000000000000", "C02FAFFEC989D1FC"},
    {"0201010101010101", "0000000000000000", "4615AA1D33E72F10"},
    {"0180010101010101", "0000000000000000", "2055123350C00858"},
    {"0140010101010101", "0000000000000000", "DF3B99D6577397C8"},
    {"0120010101010101", "0000000000000000", "31FE17369B5288C9"},
    {"0110010101010101", "0000000000000000", "DFDD3CC64DAE1642"},
    {"0108010101010101", "0000000000000000", "178C83CE2B399D94"},
    {"0104010101010101", "0000000000000000", "50F636324A9B7F80"},
    {"0102010101010101", "0000000000000000", "A8468EE3BC18F06D"},
    {"0101800101010101", "0000000000000000", "A2DC9E92FD3CDE92"},
    {"0101400101010101", "0000000000000000", "CAC09F797D031287"},
    {"0101200101010101", "0000000000000000", "90BA680B22AEB525"},
    {"0101100101010101", "0000000000000000", "CE7A24F350E280B6"},
    {"0101080101010101", "0000000000000000", "882BFF0AA01A0B87"},
    {"0101040101010101", "0000000000000000", "25610288924511C2"},
    {"0101020101010101", "0000000000000000", "C71516C29C75D170"},
    {"0101018001010101", "0000000000000000", "5199C29A52C9F059"},
    {"0101014001010101", "0000000000000000", "C22F0A294A71F29F"},
    {"0101012001010101", "0000000000000000", "EE371483714C02EA"},
    {"0101011001010101", "0000000000000000", "A81FBD448F9E522F"},
    {"0101010801010101", "0000000000000000", "4F644C92E192DFED"},
    {"0101010401010101", "0000000000000000", "1AFA9A66A6DF92AE"},
    {"0101010201010101", "0000000000000000", "B3C1CC715CB879D8"},
    {"0101010180010101", "0000000000000000", "19D032E64AB0BD8B"},
    {"0101010140010101", "0000000000000000", "3CFAA7A7DC8720DC"},
    {"0101010120010101", "0000000000000000", "B7265F7F447AC6F3"},
    {"0101010110010101", "0000000000000000", "9DB73B3C0D163F54"},
    {"0101010108010101", "0000000000000000", "8181B65BABF4A975"},
    {"0101010104010101", "0000000000000000", "93C9B64042EAA240"},
    {"0101010102010101", "0000000000000000", "5570530829705592"},
    {"0101010101800101", "0000000000000000", "8638809E878787A0"},
    {"0101010101400101", "0000000000000000", "41B9A79AF79AC208"},
    {"0101010101200101", "0000000000000000", "7A9BE42F2009A892"},
    {"0101010101100101", "0000000000000000", "29038D56BA6D2745"},
    {"0101010101080101", "0000000000000000", "5495C6ABF1E5DF51"},
    {"0101010101040101", "0000000000000000", "AE13DBD561488933"},
    {"0101010101020101", "0000000000000000", "024D1FFA8904E389"},
    {"0101010101018001", "0000000000000000", "D1399712F99BF02E"},
    {"0101010101014001", "0000000000000000", "14C1D7C1CFFEC79E"},
    {"0101010101012001", "0000000000000000", "1DE5279DAE3BED6F"},
    {"0101010101011001", "0000000000000000", "E941A33F85501303"},
    {"0101010101010801", "0000000000000000", "DA99DBBC9A03F379"},
    {"0101010101010401", "0000000000000000", "B7FC92F91D8E92E9"},
    {"0101010101010201", "0000000000000000", "AE8E5CAA3CA04E85"},
    {"0101010101010180", "0000000000000000", "9CC62DF43B6EED74"},
    {"0101010101010140", "0000000000000000", "D863DBB5C59A91A0"},
    {"0101010101010120", "0000000000000000", "A1AB2190545B91D7"},
    {"0101010101010110", "0000000000000000", "0875041E64C570F7"},
    {"0101010101010108", "0000000000000000", "5A594528BEBEF1CC"},
    {"0101010101010104", "0000000000000000", "FCDB3291DE21F0C0"},
    {"0101010101010102", "0000000000000000", "869EFD7F9F265A09"},
};

// Permutation operation known answers: keys that exercise the permutation P, plaintext zero.
constexpr Vector kPermutation[] = {
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"1007103489988020", "0000000000000000", "0C0CC00C83EA48FD"},
    {"10071034C8980120", "0000000000000000", "83BC8EF3A6570183"},
    {"1046103489988020", "0000000000000000", "DF725DCAD94EA2E9"},
    {"1086911519190101", "0000000000000000", "E652B53B550BE8B0"},
    {"1086911519580101", "0000000000000000", "AF527120C485CBB0"},
    {"5107B01519580101", "0000000000000000", "0F04CE393DB926D5"},
    {"1007B01519190101", "0000000000000000", "C9F00FFC74079067"},
    {"3107915498080101", "0000000000000000", "7CFD82A593252B4E"},
    {"3107919498080101", "0000000000000000", "CB49A2F9E91363E3"},
    {"10079115B9080140", "0000000000000000", "00B588BE70D23F56"},
    {"3107911598080140", "0000000000000000", "406A9A6AB43399AE"},
    {"1007D01589980101", "0000000000000000", "6CB773611DCA9ADA"},
    {"9107911589980101", "0000000000000000", "67FD21C17DBB5D70"},
    {"9107D01589190101", "0000000000000000", "9592CB4110430787"},
    {"1007D01598980120", "0000000000000000", "A6B7FF68A318DDD3"},
    {"1007940498190101", "0000000000000000", "4D102196C914CA16"},
    {"0107910491190401", "0000000000000000", "2DFA9F4573594965"},
    {"0107910491190101", "0000000000000000", "B46604816C0E0774"},
    {"0107940491190401", "0000000000000000", "6E7E6221A4F34E87"},
    {"19079210981A0101", "0000000000000000", "AA85E74643233199"},
    {"1007911998190801", "0000000000000000", "2E5A19DB4D1962D6"},
    {"10079119981A0801", "0000000000000000", "23A866A809D30894"},
    {"1007921098190101", "0000000000000000", "D812D961F017D320"},
    {"100791159819010B", "0000000000000000", "055605816E58608F"},
    {"1004801598190101", "0000000000000000", "ABD88E8B1B7716F1"},
    {"1004801598190102", "0000000000000000", "537AC95BE69DA1E1"},
    {"1004801598190108", "0000000000000000", "AED0F6AE3C25CDD8"},
    {"1002911598100104", "0000000000000000", "B3E35A5EE53E7B8D"},
    {"1002911598190104", "0000000000000000", "61C79C71921A2EF8"},
    {"1002911598100201", "0000000000000000", "E2F5728F0995013C"},
    {"1002911698100101", "0000000000000000", "1AEAC39A61F0A464"},
};

// Substitution table known answers: every entry of every S-box is used at least once.
constexpr Vector kSubstitution[] = {
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
    {"3849674C2602319E", "51454B582DDF440A", "7178876E01F19B2A"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "AF37FB421F8C4095"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "86A560F10EC6D85B"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "0CD3DA020021DC09"},
    {"43297FAD38E373FE", "762514B829BF486A", "EA676B2CB7DB2B7A"},
    {"07A7137045DA2A16", "3BDD119049372802", "DFD64A815CAF1A0F"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "5C513C9C4886C088"},
    {"37D06BB516CB7546", "164D5E404F275232", "0A2AEEAE3FF4AB77"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "EF1BF03E5DFA575A"},
    {"584023641ABA6176", "004BD6EF09176062", "88BF0DB6D70DEE56"},
    {"025816164629B007", "480D39006EE762F2", "A1F9915541020B56"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "6FBF1CAFCFFD0556"},
    {"4FB05E1515AB73A7", "072D43A077075292", "2F22E49BAB7CA1AC"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "5A6B612CC26CCE4A"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "5F4C038ED12B2E41"},
    {"1C587F1C13924FEF", "305532286D6F295A", "63FAC0D034D9F793"},
};

void ExpectVectors(const Vector* vectors, std::size_t count) {
    DesEngine des;
    for (std::size_t i = 0; i < count; ++i) {
        const Vector& v = vectors[i];
        SCOPED_TRACE(std::string("key ") + v.key + " plain " + v.plain);
        EXPECT_EQ(Encrypt(des, v.plain, v.key), v.cipher);
        EXPECT_EQ(Decrypt(des, v.cipher, v.key), v.plain);
        EXPECT_STREQ(des.ResultText(), v.plain);
    }
}

TEST(DesKnownAnswer, VariablePlaintext) {
    DesEngine des;
    for (int bit = 1; bit <= 64; ++bit) {
        SCOPED_TRACE("bit " + std::to_string(bit));
        EXPECT_EQ(Encrypt(des, UnitBlock(bit), "0101010101010101"), kVariablePlaintext[bit - 1]);
        // The key is weak: encryption is its own inverse, the inverse-permutation test.
        EXPECT_EQ(Encrypt(des, kVariablePlaintext[bit - 1], "0101010101010101"), UnitBlock(bit));
    }
}

TEST(DesKnownAnswer, VariableKey) { ExpectVectors(kVariableKey, std::size(kVariableKey)); }

TEST(DesKnownAnswer, PermutationOperation) { ExpectVectors(kPermutation, std::size(kPermutation)); }

TEST(DesKnownAnswer, SubstitutionTables) { ExpectVectors(kSubstitution, std::size(kSubstitution)); }

TEST(DesKnownAnswer, ParityBitsAreIgnored) {
    DesEngine des;
    for (const Vector& v : kSubstitution) {
        std::uint8_t key[8];
        HexToBytes(v.key, key, 8);
        for (std::uint8_t& b : key) b ^= 0x01;
        char flipped[17];
        BytesToHex(key, 8, flipped);
        EXPECT_EQ(Encrypt(des, v.plain, flipped), v.cipher) << flipped;
    }
}

TEST(HexText, CharacterMappingAndPadding) {
    struct Case {
        const char* text;
        std::size_t n;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"0123456789ABCDEF", 8, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
        {"abcdef", 3, {0xAB, 0xCD, 0xEF}},
        {"1a1A", 2, {0x1A, 0x1A}},
        {"ABC", 2, {0x0A, 0xBC}},     // left-padded with '0'
        {"", 2, {0x00, 0x00}},        // all padding
        {"123456", 2, {0x12, 0x34}},  // longer: the first 2n characters
        {"G0g0", 2, {0x00, 0x00}},    // 'G' - 55 = 16 and 'g' - 87 = 16
        {":;?@", 2, {0xAB, 0xF0}},    // c - 48 up to '@'
        {" !/.", 2, {0x01, 0xFE}},    // c - 32 below '0'
        {"Z[`z", 2, {0x34, 0x93}},    // c - 55 up to '`', c - 87 from 'a'
        {"\xFF\x80", 1, {0x89}},      // bytes above 0x7F count from 'a' on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        std::vector<std::uint8_t> bytes(c.n + 1, 0x5A);
        HexToBytes(c.text, bytes.data(), c.n);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + c.n), c.bytes);
        EXPECT_EQ(bytes[c.n], 0x5A) << "wrote past n bytes";
    }
}

TEST(HexText, BytesToHexIsUpperCaseAndTerminated) {
    const std::uint8_t bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
    char text[10];
    std::memset(text, 'x', sizeof text);
    BytesToHex(bytes, 4, text);
    EXPECT_STREQ(text, "009FA0FF");
    EXPECT_EQ(text[9], 'x');
}

TEST(DesEngineBlock, ShortTextsAreLeftPadded) {
    DesEngine des;
    EXPECT_EQ(Encrypt(des, "1", "133457799BBCDFF1"),
              Encrypt(des, "0000000000000001", "133457799BBCDFF1"));
    EXPECT_EQ(Encrypt(des, "0", "1"), Encrypt(des, "0000000000000000", "0000000000000001"));
}

// ---- Cross-check against libcrypto ----

void ToCblock(std::uint64_t value, DES_cblock* block) {
    for (int i = 7; i >= 0; --i, value >>= 8) (*block)[i] = static_cast<unsigned char>(value);
}

std::string HexOf(const unsigned char* bytes, std::size_t n) {
    std::string text(2 * n, '\0');
    BytesToHex(bytes, n, text.data());
    return text;
}

// OpenSSL's answer for `blocks` under 1, 2 or 3 keys (K3 = K1 for two).
std::string Reference(const std::vector<std::uint64_t>& keys,
                      const std::vector<std::uint64_t>& blocks, bool encrypt) {
    DES_key_schedule schedules[3];
    for (std::size_t i = 0; i < keys.size(); ++i) {
        DES_cblock k;
        ToCblock(keys[i], &k);
        DES_set_key_unchecked(&k, &schedules[i]);
    }
    DES_key_schedule& k3 = keys.size() == 3 ? schedules[2] : schedules[0];
    std::string hex;
    for (std::uint64_t value : blocks) {
        DES_cblock in;
        DES_cblock out;
        ToCblock(value, &in);
        if (keys.size() == 1)
            DES_ecb_encrypt(&in, &out, &schedules[0], encrypt ? DES_ENCRYPT : DES_DECRYPT);
        else
            DES_ecb3_encrypt(&in, &out, &schedules[0], &schedules[1], &k3,
                             encrypt ? DES_ENCRYPT : DES_DECRYPT);
        hex += HexOf(out, 8);
    }
    return hex;
}

std::string HexOfWords(const std::vector<std::uint64_t>& words, bool lowerCase) {
    std::string text;
    char part[17];
    for (std::uint64_t w : words) {
        std::snprintf(part, sizeof part, lowerCase ? "%016llx" : "%016llX",
                      static_cast<unsigned long long>(w));
        text += part;
    }
    return text;
}

TEST(DesCrossCheck, TriUntriDesAgreesWithOpenSsl) {
    std::mt19937_64 random(20261207);
    const int decryptDirections[] = {1, -1, 7};
    for (int round = 0; round < 6000; ++round) {
        std::vector<std::uint64_t> keys(1 + round % 3);
        std::vector<std::uint64_t> blocks(1 + (round / 3) % 3);
        for (auto& k : keys) k = random();
        for (auto& b : blocks) b = random();
        // Repeat a key now and then, so that the cached round keys are exercised as well.
        if (round % 7 == 0 && keys.size() > 1) keys[1] = keys[0];
        const bool encrypt = (round / 9) % 2 == 0;
        const std::string key = HexOfWords(keys, round % 5 == 0);
        const std::string data = HexOfWords(blocks, round % 4 == 0);
        char output[49];
        std::memset(output, 'x', sizeof output);
        int direction = encrypt ? 0 : decryptDirections[round % 3];
        ASSERT_EQ(PinPad_TriUntriDes(data.c_str(), key.c_str(), output, direction), 0);
        ASSERT_EQ(std::string(output), Reference(keys, blocks, encrypt))
            << "key " << key << " data " << data << (encrypt ? " encrypt" : " decrypt");
    }
}

TEST(DesCrossCheck, SingleBlocksAgreeWithOpenSsl) {
    std::mt19937_64 random(46);
    DesEngine des;
    for (int round = 0; round < 3000; ++round) {
        std::uint64_t key = random();
        std::uint64_t block = random();
        const bool encrypt = round % 2 == 0;
        std::string result =
            encrypt ? Encrypt(des, HexOfWords({block}, false), HexOfWords({key}, false))
                    : Decrypt(des, HexOfWords({block}, false), HexOfWords({key}, false));
        ASSERT_EQ(result, Reference({key}, {block}, encrypt));
    }
}

// ---- The exported local DES ----

std::string TriUntriDes(const std::string& data, const std::string& key, int direction) {
    char output[64];
    std::memset(output, 'x', sizeof output);
    EXPECT_EQ(PinPad_TriUntriDes(data.c_str(), key.c_str(), output, direction), 0);
    return std::string(output, strnlen(output, sizeof output));
}

TEST(TriUntriDes, CheckBlockOfAKey) {
    // Sixteen '0' characters under a key give the key's check block.
    EXPECT_EQ(TriUntriDes("0000000000000000", "0123456789ABCDEF", 0), "D5D44FF720683D0D");
    EXPECT_EQ(TriUntriDes("0000000000000000", "0123456789ABCDEF", 0),
              Reference({0x0123456789ABCDEFULL}, {0}, true));
}

TEST(TriUntriDes, EqualKeyPartsActAsSingleDes) {
    const std::string k = "133457799BBCDFF1";
    const std::string k2 = k + k, k3 = k2 + k;
    const std::string data = "0123456789ABCDEFFEDCBA987654321000112233445566778";
    for (std::size_t blocks = 1; blocks <= 3; ++blocks) {
        const std::string d = data.substr(0, 16 * blocks);
        for (int direction : {0, 1}) {
            SCOPED_TRACE(std::to_string(blocks) + " blocks, direction " +
                         std::to_string(direction));
            const std::string single = TriUntriDes(d, k, direction);
            ASSERT_EQ(single.size(), d.size());
            EXPECT_EQ(TriUntriDes(d, k2, direction), single);
            EXPECT_EQ(TriUntriDes(d, k3, direction), single);
        }
    }
}

TEST(TriUntriDes, RoundTripGivesUpperCaseText) {
    const std::string data = "0123456789abcdeffedcba9876543210a1b2c3d4e5f60718";
    const std::string keys[] = {"0123456789abcdef", "0123456789abcdeffedcba9876543210",
                                "0123456789abcdeffedcba987654321089abcdef01234567"};
    std::string upperData = data;
    for (char& c : upperData) c = static_cast<char>(std::toupper(c));
    for (const std::string& key : keys) {
        SCOPED_TRACE("key " + key);
        std::string upperKey = key;
        for (char& c : upperKey) c = static_cast<char>(std::toupper(c));
        const std::string cipher = TriUntriDes(data, key, 0);
        EXPECT_EQ(cipher, TriUntriDes(upperData, upperKey, 0));
        EXPECT_EQ(cipher.find_first_of("abcdef"), std::string::npos) << cipher;
        EXPECT_EQ(TriUntriDes(cipher, key, 1), upperData);
    }
}

TEST(TriUntriDes, OtherLengthsWriteNothing) {
    const std::string block = "0123456789ABCDEF";
    struct Case {
        std::string data;
        std::string key;
    };
    const Case cases[] = {
        {std::string(24, '1'), block},
        {block, std::string(40, '2')},
        {"", block},
        {block, ""},
        {std::string(17, '1'), block},
        {block, std::string(15, '2')},
        {std::string(64, '1'), block},
        {block, std::string(64, '2')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("data " + std::to_string(c.data.size()) + ", key " +
                     std::to_string(c.key.size()));
        EXPECT_EQ(TriUntriDes(c.data, c.key, 0), std::string(64, 'x'));
    }
    char output[49];
    EXPECT_EQ(PinPad_TriUntriDes(nullptr, block.c_str(), output, 0), 0);
    EXPECT_EQ(PinPad_TriUntriDes(block.c_str(), nullptr, output, 0), 0);
    EXPECT_EQ(PinPad_TriUntriDes(block.c_str(), block.c_str(), nullptr, 0), 0);
}

TEST(TriUntriDes, BlocksAreIndependent) {
    const std::string a = "0123456789ABCDEF";
    const std::string b = "FEDCBA9876543210";
    const std::string key = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
    for (int direction : {0, 1}) {
        const std::string ab = TriUntriDes(a + b, key, direction);
        ASSERT_EQ(ab.size(), 32u);
        EXPECT_EQ(TriUntriDes(b + a, key, direction), ab.substr(16) + ab.substr(0, 16));
        EXPECT_EQ(TriUntriDes(a, key, direction), ab.substr(0, 16));
    }
}

}  // namespace
}  // namespace lumenord
