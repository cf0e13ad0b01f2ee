// PIN digits read back from clear PIN blocks that the test lays out itself, nibble by nibble,
// plus the published ISO 9564 format 0 example.
#include "pin_block.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "reference_crypto.h"

namespace {

using padlogic::DecodePinBlock;
using padlogic::PinBlockFormat;
using padsim::test::XorHex;

std::string Length(std::size_t n) { return std::string(1, "0123456789ABCDEF"[n]); }

// "0000" and the 12 account digits left of the check digit.
std::string AccountField(const std::string& account) {
    std::string digits = account.substr(0, account.size() - 1);
    if (digits.size() > 12) digits = digits.substr(digits.size() - 12);
    return std::string(16 - digits.size(), '0') + digits;
}

std::string Iso0(const std::string& pin, const std::string& account) {
    std::string field = "0" + Length(pin.size()) + pin;
    field.append(16 - field.size(), 'F');
    return XorHex(field, AccountField(account));
}

std::string Iso3(const std::string& pin, const std::string& account, const std::string& fill) {
    std::string field = "3" + Length(pin.size()) + pin + fill;
    return XorHex(field.substr(0, 16), AccountField(account));
}

std::string Iso1(const std::string& pin, const std::string& transcode) {
    std::string field = "1" + Length(pin.size()) + pin;
    for (std::size_t i = 0; field.size() < 16; ++i) field += transcode[i % transcode.size()];
    return field;
}

std::string Ascii(const std::string& pin, unsigned char fill) {
    std::string block;
    char hex[3];
    for (char c : pin) {
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
        block += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", fill);
    while (block.size() < 16) block += hex;
    return block;
}

struct Row {
    const char* name;
    PinBlockFormat format;
    std::string block;
    std::string account;
    int length;
    std::optional<std::string> digits;
};

TEST(PinBlock, Decode) {
    const std::string pan = "43219876543210987";
    const std::string account = "123456789012";
    const Row rows[] = {
        {"published format 0", PinBlockFormat::kIso0, "0412AC89ABCDEF67", pan, 0, "1234"},
        {"format 0, lower case", PinBlockFormat::kIso0, "0412ac89abcdef67", pan, 0, "1234"},
        {"format 0, 12 digits", PinBlockFormat::kIso0, Iso0("987654321098", account), account, 0,
         "987654321098"},
        {"format 0, short account", PinBlockFormat::kIso0, Iso0("0000", "1234"), "1234", 0, "0000"},
        {"format 0, 20-digit account", PinBlockFormat::kIso0, Iso0("55555", "98765432109876543210"),
         "98765432109876543210", 0, "55555"},
        {"format 0, other account", PinBlockFormat::kIso0, Iso0("1234", account), "923456789012", 0,
         std::nullopt},
        {"format 0, no account", PinBlockFormat::kIso0, Iso0("1234", account), "", 0, std::nullopt},
        {"format 0, 3 digits", PinBlockFormat::kIso0, Iso0("123", account), account, 0,
         std::nullopt},
        {"format 0, fill not F", PinBlockFormat::kIso0,
         XorHex("041234FFFFFFFFFE", AccountField(account)), account, 0, std::nullopt},
        {"format 0 read as 3", PinBlockFormat::kIso3, Iso0("1234", account), account, 0,
         std::nullopt},
        {"format 3", PinBlockFormat::kIso3, Iso3("4321", account, "ABCDEFABCD"), account, 0,
         "4321"},
        {"format 3, fill 9", PinBlockFormat::kIso3, Iso3("4321", account, "ABCDEF9BCD"), account, 0,
         std::nullopt},
        {"format 1", PinBlockFormat::kIso1, Iso1("123456", "0123456789"), "", 0, "123456"},
        {"format 1, 13 digits", PinBlockFormat::kIso1, "1D12345678901234", "", 0, std::nullopt},
        {"format 1, letter in PIN", PinBlockFormat::kIso1, "141A34FFFFFFFFFF", "", 0, std::nullopt},
        {"IBM 3624, F fill", PinBlockFormat::kIbm3624, "1234FFFFFFFFFFFF", "", 0, "1234"},
        {"IBM 3624, digit fill, length known", PinBlockFormat::kIbm3624, "1234000000000000", "", 4,
         "1234"},
        {"IBM 3624, 16 digits", PinBlockFormat::kIbm3624, "1234567890123456", "", 0,
         "1234567890123456"},
        {"IBM 3624, no digits", PinBlockFormat::kIbm3624, "FFFFFFFFFFFFFFFF", "", 0, std::nullopt},
        {"IBM 3624, length past the digits", PinBlockFormat::kIbm3624, "1234FFFFFFFFFFFF", "", 5,
         std::nullopt},
        {"ASCII, blank fill", PinBlockFormat::kAscii, Ascii("2468", ' '), "", 0, "2468"},
        {"ASCII, digit fill, length known", PinBlockFormat::kAscii, Ascii("135", '0'), "", 3,
         "135"},
        {"ASCII, 8 digits", PinBlockFormat::kAscii, Ascii("12345678", ' '), "", 8, "12345678"},
        {"ASCII, length 9", PinBlockFormat::kAscii, Ascii("12345678", ' '), "", 9, std::nullopt},
        {"short block", PinBlockFormat::kIbm3624, "1234FFFFFFFFFFF", "", 0, std::nullopt},
        {"not hex", PinBlockFormat::kIbm3624, "1234FFFFFFFFFFFG", "", 0, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DecodePinBlock(row.format, row.block, row.account, row.length), row.digits);
    }
}

TEST(PinBlock, AccountField) {
    EXPECT_EQ(padlogic::IsoAccountField("43219876543210987"), "0000987654321098");
    EXPECT_EQ(padlogic::IsoAccountField("1234"), "0000000000000123");
    EXPECT_EQ(padlogic::IsoAccountField("12A4"), std::nullopt);
    EXPECT_EQ(padlogic::IsoAccountField("1"), std::nullopt);
}

}  // namespace
