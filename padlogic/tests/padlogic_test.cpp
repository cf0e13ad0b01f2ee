// Key parts, parity, check values, request texts and result texts, checked against OpenSSL
// (through the padsim test references) and published values; DES is the driver's own routine,
// passed in as the test program passes its bound entry.
#define OPENSSL_API_COMPAT 10101  // DES_set_odd_parity is the reference; it is deprecated
#include <gtest/gtest.h>
#include <openssl/des.h>
#include <pinpad.h>

#include <cstring>
#include <random>
#include <utility>

#include "check_value.h"
#include "key_parts.h"
#include "reference_crypto.h"
#include "result_code_text.h"

namespace padlogic {
namespace {

using padsim::test::RefVerifyCode;
using padsim::test::XorHex;

std::string RandomHex(std::mt19937& random, std::size_t chars) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < chars; ++i) text += kDigits[random() % 16];
    return text;
}

TEST(CheckValue, MatchesOpenSslForEveryKeyLength) {
    // Published: DES under 0123456789ABCDEF enciphers the zero block to D5D44FF720683D0D.
    EXPECT_EQ(CheckValue(&PinPad_TriUntriDes, "0123456789ABCDEF"), "D5D44FF7");
    std::mt19937 random(7);
    for (std::size_t chars : {16u, 32u, 48u}) {
        for (int round = 0; round < 20; ++round) {
            const std::string key = RandomHex(random, chars);
            EXPECT_EQ(CheckValue(&PinPad_TriUntriDes, key), RefVerifyCode(key)) << key;
        }
    }
    // Lower case is the same key.
    EXPECT_EQ(CheckValue(&PinPad_TriUntriDes, "0123456789abcdef"), "D5D44FF7");
}

TEST(CheckValue, NothingForTextThatIsNoKey) {
    for (const char* key :
         {"", "0123456789ABCDE", "0123456789ABCDEF0", "0123456789ABCDEG", "****************",
          "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF00"}) {
        EXPECT_EQ(CheckValue(&PinPad_TriUntriDes, key), "") << key;
    }
    EXPECT_EQ(CheckValue(nullptr, "0123456789ABCDEF"), "");
    EXPECT_EQ(Encipher(&PinPad_TriUntriDes, std::string(64, '0'), "0123456789ABCDEF"), "");
}

struct CombineCase {
    int code;
    int lengthCode;
    std::string part1, part2, part3;
    int result;
    std::string combined;  // expected when result is 0
};

TEST(CombineParts, CodesLengthsAndTheFirstFaultyPart) {
    const std::string a16 = "0123456789ABCDEF", b16 = "FEDCBA9876543210", c16 = "1111111111111111";
    const std::string a32 = a16 + b16, b32 = c16 + a16, c32 = b16 + c16;
    const std::string a48 = a32 + c16, b48 = b32 + a16, c48 = c32 + b16;
    const CombineCase cases[] = {
        {0x30, 1, "0123abcd", "", "", 0, "0123abcd"},  // part 1 as typed, any length
        {0x31, 1, a16, b16, c16, 0, XorHex(XorHex(a16, b16), c16)},
        {0x31, 2, a32, b32, c32, 0, XorHex(XorHex(a32, b32), c32)},
        {0x31, 3, a48, b48, c48, 0, XorHex(XorHex(a48, b48), c48)},
        {0x31, 1, a16, a16, a16, 0, a16},  // three equal parts give that part
        {0x31, 2, a16, b16, c16, -1, ""},  // every part is checked, part 1 first
        {0x31, 1, a16, b16 + "0", c16.substr(1), -2, ""},
        {0x31, 1, a16, b16, c16.substr(1), -3, ""},
        {0x31, 0, a16, b16 + "00", c16, 0, XorHex(XorHex(a16, b16), c16)},  // no length: part 1's
        {0x31, 0, a16, b16, c16.substr(2), -3, ""},  // never read past a shorter part
        {0x34, 3, a48, b48, "", 0, XorHex(a48, b48)},
        {0x34, 2, a32, b16, "", -2, ""},
        {0x32, 1, "01234567", "89abcdef", "", 0, "0123456789abcdef"},  // case kept
        {0x32, 2, a16, b16, "", 0, "01234567FEDCBA9889ABCDEF76543210"},
        {0x32, 3, a16 + "22222222", b16 + "33333333", "", 0,
         "01234567FEDCBA9889ABCDEF765432102222222233333333"},
        {0x32, 2, a16.substr(1), b16, "", -1, ""},
        {0x32, 1, "01234567", "89ABCDE", "", -2, ""},
        {0x32, 0, "x", "y", "", 0, ""},  // no length: no check and nothing combined
        {0x33, 3, a16, b16, c16, 0, a16 + b16 + c16},
        {0x33, 3, a16, b16.substr(1), c16, -2, ""},
        {0x40, 1, a16, "", "", kNotCombinable, ""},
    };
    for (const CombineCase& c : cases) {
        std::string combined;
        EXPECT_EQ(CombineParts(c.code, c.lengthCode, c.part1, c.part2, c.part3, combined), c.result)
            << std::hex << c.code << " L" << c.lengthCode << " " << c.part1;
        EXPECT_EQ(combined, c.combined) << std::hex << c.code << " L" << c.lengthCode;
    }
}

TEST(OddParity, MatchesOpenSslAndDropsAnOddCharacter) {
    EXPECT_EQ(OddParity("0001FEff"), "0101FEFE");
    EXPECT_EQ(OddParity("0123456789ABCDEF0"), "0123456789ABCDEF");
    EXPECT_EQ(OddParity(""), "");
    std::mt19937 random(11);
    for (int round = 0; round < 50; ++round) {
        const std::string key = RandomHex(random, 16);
        DES_cblock block;
        for (int i = 0; i < 8; ++i) block[i] = static_cast<unsigned char>(HexByteAt(key, 2 * i));
        DES_set_odd_parity(&block);
        char expected[17];
        for (int i = 0; i < 8; ++i) std::snprintf(expected + 2 * i, 3, "%02X", block[i]);
        EXPECT_EQ(OddParity(key), expected) << key;
    }
}

// The rows that are easy to get wrong: trailing and doubled blanks, the misspellings the operator
// knows, the neighbours of a gap in the codes, and values without a row of their own.
TEST(ResultCodeText, RowsEasyToGetWrong) {
    const std::pair<int, const char*> rows[] = {
        {-1, "the serial port remains closed  or open the serial port improperly"},
        {224, "Low battery, Need to replace the battery "},
        {234, "Information Code don't exist "},
        {236, "Certifcation failure"},
        {83, "Verify Password lock up(Read Only)"},
        {97, "Access COS Error,See SW"},
        {239, "Other error"},
        {-5, "Other error"},
        {2, "Other error"},
        {70, "Other error"},
        {240, "Other error"},
        {0x161, "Other error"},
    };
    for (const auto& [code, text] : rows) {
        char buffer[kResultTextSize];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(ResultCodeToText(code, buffer), buffer);
        EXPECT_STREQ(buffer, text) << code;
    }
    EXPECT_STREQ(FailureReasonText(LUMENORD_FAILURE_NONE), "");
    EXPECT_STREQ(FailureReasonText(LUMENORD_FAILURE_WRITE_FAILED),
                 "the request could not be written");
    EXPECT_STREQ(FailureReasonText(LUMENORD_FAILURE_WRITE_FAILED + 1), "an unknown fault");
    EXPECT_STREQ(FailureReasonText(-1), "an unknown fault");
}

}  // namespace
}  // namespace padlogic
