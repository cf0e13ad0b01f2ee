// The protocol engine alone: request frames in, reply frames out, every result recomputed here
// with OpenSSL's classic DES calls or taken from published vectors.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "padsim/pad_simulator.h"
#include "reference_crypto.h"

namespace padsim::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string kKey1 = "0123456789ABCDEF";
const std::string kKey2 = "FEDCBA9876543210";
const std::string kDouble = kKey1 + kKey2;
// Odd-parity keys for cipher-text loads.
const std::string kTmk = "1C587F1C13924FEF1C587F1C13924FEF";
const std::string kWorking = "0123456789ABCDEF0123456789ABCDEF";

class Engine : public ::testing::Test {
protected:
    PadSimulator pad{7};

    ParsedReply Ask(char command, std::string_view payload) {
        const std::string out = pad.Receive(RequestFrame(command, payload));
        ParsedReply r = ParseReply(out);
        EXPECT_TRUE(r.wellFormed) << Hex(out);
        return r;
    }
    // A key in clear (combination 0) at index 00-1F.
    void LoadClear(const char* index, const std::string& key) {
        auto r = Ask('1', std::string(index) + "0" + std::to_string(key.size() / 16) + key);
        ASSERT_EQ(r.status, 'a');
        ASSERT_EQ(r.data, RefVerifyCode(key));
    }
    // A key in cipher text under `decipher`, with its verify code.
    ParsedReply LoadCipher(const char* decipher, const std::string& decipherKey, const char* save,
                           char tag, const std::string& key) {
        return Ask('2', std::string(decipher) + save + tag + std::to_string(key.size() / 16) +
                            RefEncrypt(decipherKey, key) + RefVerifyCode(key));
    }
    std::string Press(std::string_view keys) {
        std::string out;
        for (char k : keys) out += pad.PressKey(k);
        return out;
    }
};

TEST_F(Engine, FramesAreCheckedBeforeTheyAreAnswered) {
    struct Case {
        const char* name;
        std::string bytes;
        unsigned char status;
    };
    std::string wrongCheck = RequestFrame('3', "");
    wrongCheck[wrongCheck.size() - 1] ^= 1;
    std::string badLength = RequestFrame('5', "033");
    badLength[3] = 'X';
    std::string shortLength = RequestFrameWithLength("003", '5', "033");  // ETX not at 5 + 2
    const Case cases[] = {
        {"good", RequestFrame('3', ""), 'c'},
        {"noise ahead", std::string("\xFF\x00zz", 4) + RequestFrame('3', ""), 'c'},
        {"wrong check", wrongCheck, 0x31},
        {"length field not digits", badLength, 0x32},
        {"length field disagrees", shortLength, 0x34},
        {"long frame too short", RequestFrameWithLength("000", '9', "301"), 0x34},
        {"unknown command", RequestFrame('Z', "00"), 0x33},
    };
    for (const auto& c : cases) {
        ParsedReply r = ParseReply(pad.Receive(c.bytes));
        EXPECT_TRUE(r.wellFormed) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
    }
}

TEST_F(Engine, FrameArrivingByteByByteIsAnsweredOnceComplete) {
    const std::string frame = RequestFrame('5', "033");
    std::string out;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) out += pad.Receive(frame.substr(i, 1));
    EXPECT_EQ(out, "");
    out = pad.Receive(frame.substr(frame.size() - 1));
    EXPECT_EQ(ParseReply(out).status, 'e');
    EXPECT_EQ(pad.mode(), Mode::ClearKeypad);
}

TEST_F(Engine, PayloadLogKeepsTheLatestRequests) {
    for (int i = 0; i < 1100; ++i) pad.Receive(RequestFrame('5', i % 2 ? "033" : "032"));
    ASSERT_EQ(pad.payloadLog().size(), PadSimulator::kPayloadLogSize);
    EXPECT_EQ(pad.payloadLog().back(), "5033");
    EXPECT_EQ(pad.payloadLog().front(), "5032");
    EXPECT_EQ(pad.requestCount(), 1100u);
}

TEST_F(Engine, AbandonedPartialFrameIsDroppedAfterOneSecond) {
    EXPECT_EQ(pad.Receive(RequestFrame('3', "").substr(0, 6)), "");
    ASSERT_TRUE(pad.NextDeadline());
    EXPECT_EQ(pad.Elapse(milliseconds(999)), "");
    EXPECT_EQ(ParseReply(pad.Elapse(milliseconds(1))).status, 0x34);
    EXPECT_FALSE(pad.NextDeadline());
    EXPECT_EQ(ParseReply(pad.Receive(RequestFrame('3', ""))).status, 'c');
}

TEST_F(Engine, InformationAreaCarriesCustomerDataKeyValuesAndVersion) {
    EXPECT_EQ(Ask('3', "hello pad").status, 'c');
    EXPECT_EQ(Ask('4',
                  "3132333435363738393A3B3C3D3E3F40"
                  "41424344"
                  "45464748")
                  .status,
              'd');
    auto r = Ask('3', "");
    ASSERT_EQ(r.status, 'c');
    ASSERT_EQ(r.data.size(), 146u);
    EXPECT_EQ(std::string(r.data.c_str()), "hello pad");
    EXPECT_EQ(r.data.substr(50, 32), "3132333435363738393A3B3C3D3E3F40");
    EXPECT_EQ(r.data.substr(82, 8), "41424344");
    EXPECT_EQ(r.data.substr(90, 8), "45464748");
    EXPECT_EQ(r.data.substr(118, 8), "PADSIM01");
    EXPECT_EQ(r.data.substr(126, 6), "SIM731");
    EXPECT_EQ(r.data.substr(132, 2), "R4");
    EXPECT_EQ(r.data.substr(135, 3), "110");
    EXPECT_EQ(r.data.substr(138, 4), "2612");
    EXPECT_EQ(r.data.substr(142, 4), "0001");
    EXPECT_EQ(Ask('3', std::string(51, 'x')).status, 0xE8);
    EXPECT_EQ(Ask('3', "a\x03z").status, 0xE9);
    EXPECT_EQ(Ask('4', "313233").status, 0xE8);
}

TEST_F(Engine, UnitIdentityFillsItsVersionFieldsAndRefusesWhatDoesNotFit) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        UnitIdentity identity;
        bool accepted;
        std::string fields;  // bytes 135-145: firmware, date code, serial number
    };
    const std::string defaults = "110"s + "2612" + "0001";
    const std::string unit42 = "2A7"s + "2701" + "0042";
    const Case cases[] = {
        {"defaults", {}, true, defaults},
        {"full width", {"9.1", "2701", "Z-17"}, true, "9.1"s + "2701" + "Z-17"},
        {"another unit", {"2A7", "2701", "0042"}, true, unit42},
        {"serial shorter than its field", {"110", "2612", "42"}, false, unit42},
        {"serial longer than its field", {"110", "2612", "00042"}, false, unit42},
        {"firmware longer than its field", {"1100", "2612", "0001"}, false, unit42},
        {"empty date code", {"110", "", "0001"}, false, unit42},
        {"control character", {"110", "2612", "01\x07"}, false, unit42},
        {"byte above 0x7E", {"110", "26\xC3\xA9", "0001"}, false, unit42},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.accepted)
            pad.SetIdentity(c.identity);
        else
            EXPECT_THROW(pad.SetIdentity(c.identity), std::invalid_argument);
        // A refused identity leaves the unit as it was.
        auto r = Ask('3', "");
        ASSERT_EQ(r.data.size(), 146u);
        EXPECT_EQ(r.data.substr(135), c.fields);
        EXPECT_EQ(r.data.substr(118, 17), "PADSIM01SIM731R4K");
    }
    EXPECT_EQ(VersionFieldProblem("00042", 4), "has 5 characters");
    EXPECT_EQ(VersionFieldProblem("01\x07", 4), "holds byte 0x07, which is not printable");
}

TEST_F(Engine, ControlCodesSetSettingsAndRefuseBadValues) {
    struct Case {
        const char* code;
        unsigned char status;
    };
    const Case cases[] = {{"220", 'e'},  {"200", 0xEB}, {"3FF", 'e'}, {"406", 'e'},  {"517", 0xEB},
                          {"644", 'e'},  {"639", 0xEB}, {"732", 'e'}, {"733", 0xEB}, {"939", 0xEB},
                          {"A15", 'e'},  {"A20", 0xEB}, {"B21", 'e'}, {"B23", 0xEB}, {"C30", 0xEB},
                          {"0G0", 0xE9}, {"03", 0xE8},  {"12A", 'e'}, {"1AA", 'e'},  {"177", 0xEB}};
    for (const auto& c : cases) EXPECT_EQ(Ask('5', c.code).status, c.status) << c.code;
    EXPECT_EQ(pad.settings().pinTimeoutSeconds, 0x20);
    EXPECT_EQ(pad.settings().pinMinLength, 6);
    EXPECT_EQ(Ask('5', "").status, 0xE8);
}

TEST_F(Engine, ClearTextKeypadReportsEachKeyAsItsCharacter) {
    EXPECT_EQ(Press("12"), "");  // idle: keys go nowhere
    EXPECT_EQ(Ask('5', "035").status, 'e');
    EXPECT_EQ(Ask('5', "033").status, 'e');
    EXPECT_EQ(pad.mode(), Mode::ClearKeypad);
    EXPECT_EQ(Press("123\r\x1B\x08."), "123\r\x1B\x08.");
    EXPECT_EQ(Ask('5', "1B1").status, 'e');  // key '1' locked
    EXPECT_EQ(Press("12"), "2");
    EXPECT_EQ(Ask('5', "032").status, 'e');
    EXPECT_EQ(pad.mode(), Mode::Idle);
    EXPECT_EQ(Press("3"), "");
}

TEST_F(Engine, ClearKeyCombinationsGiveTheCombinedKeyAndItsVerifyCode) {
    const std::string a = "1111111111111111", b = "2222222233333333", c = "4444444455555555";
    struct Case {
        const char* record;
        std::string parts, expected;
    };
    const Case cases[] = {
        {"0501", a, a},
        {"0502", kDouble, kDouble},
        {"0511", a + b + c, XorHex(XorHex(a, b), c)},
        {"0512", kDouble + kDouble + kDouble, kDouble},
        {"0521",
         "01234567"
         "89ABCDEF",
         "0123456789ABCDEF"},
        {"0522", kKey1 + kKey2,
         "0123456789ABCDEF"
         "FEDCBA9876543210"},  // chunks alternate
        {"0533", a + b + c, a + b + c},
        {"0541", a + b, XorHex(a, b)},
        {"1F01", kKey2, kKey2},
    };
    // Interleave of two 16-character parts: 8 of part 1, 8 of part 2, 8 of part 1, 8 of part 2.
    const std::string interleaved =
        kKey1.substr(0, 8) + kKey2.substr(0, 8) + kKey1.substr(8) + kKey2.substr(8);
    for (const auto& c : cases) {
        const std::string want = std::string(c.record) == "0522" ? interleaved : c.expected;
        auto r = Ask('1', c.record + c.parts);
        EXPECT_EQ(r.status, 'a') << c.record;
        EXPECT_EQ(r.data, RefVerifyCode(want)) << c.record;
        auto key = pad.Key(std::stoi(std::string(c.record).substr(0, 2), nullptr, 16));
        ASSERT_TRUE(key);
        EXPECT_EQ(key->value, want) << c.record;
        EXPECT_EQ(key->tag, "IMK");
    }
}

TEST_F(Engine, ClearKeyRecordsThatDoNotFitAreRefused) {
    struct Row {
        std::string record;
        unsigned char status;
    };
    const Row rows[] = {
        {"2001" + kKey1, 0xE4},
        {"0502" + kKey1, 0xE3},
        {"0531" + kKey1 + kKey1 + kKey1, 0xE3},
        {"0501"
         "0123456789ABCDEG",
         0xE9},
        {"05@1", 0xEB},
        {"0571" + kKey1, 0xEB},
        {"05A7", 0xE3},
        {"05A2" + kKey1, 0xE8},
        {"0511", 0xE4},  // no parts typed on the pad for 05 yet
        {"051", 0xE8},
    };
    for (const auto& r : rows) EXPECT_EQ(Ask('1', r.record).status, r.status) << r.record;
}

TEST_F(Engine, CipherTextKeysAreDecipheredCheckedAndStoredWithTheirTag) {
    LoadClear("00", kDouble);
    auto r = LoadCipher("00", kDouble, "10", '2', kTmk);
    ASSERT_EQ(r.status, 'b');
    EXPECT_EQ(r.data, RefVerifyCode(kTmk));
    EXPECT_EQ(pad.Key(0x10)->value, kTmk);
    EXPECT_EQ(pad.Key(0x10)->tag, "TMK");
    ASSERT_EQ(LoadCipher("10", kTmk, "30", '3', kWorking).status, 'b');
    EXPECT_EQ(pad.Key(0x30)->tag, "TPK");
    EXPECT_EQ(pad.Key(0x30)->value, kWorking);

    const std::string cipher = RefEncrypt(kTmk, kWorking);
    std::string evenParity = kWorking;
    evenParity[1] = '0';  // 0x01 -> 0x00
    struct Row {
        const char* name;
        std::string record;
        unsigned char status;
    };
    const Row rows[] = {
        {"wrong verify code", "103032" + cipher + "00000000", 0xE7},
        {"even parity", "103032" + RefEncrypt(kTmk, evenParity), 0xE6},
        {"length digit disagrees", "103031" + cipher, 0xE3},
        {"TMK at a working index", "104022" + RefEncrypt(kTmk, kWorking), 0xE5},
        {"TDSK below 40", "103092" + cipher, 0xE5},
        {"TMK under a TMK", "101122" + cipher, 0xE1},
        {"working key under a working key", "303152" + cipher, 0xE2},
        {"no decryption key", "053032" + cipher, 0xE4},
        {"decryption index past 3F", "403032" + cipher, 0xE4},
        {"unknown tag", "103042" + cipher, 0xEB},
        {"not hex", "103032" + std::string(32, 'G'), 0xE9},
        {"without verify code", "103152" + cipher, 'b'},
    };
    for (const auto& row : rows) EXPECT_EQ(Ask('2', row.record).status, row.status) << row.name;
}

TEST_F(Engine, VerifyCodeReadAndErase) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "30", '3', kWorking).status, 'b');
    auto r = Ask('2', "003000");
    EXPECT_EQ(r.status, 'b');
    EXPECT_EQ(r.data, RefVerifyCode(kWorking));
    EXPECT_EQ(Ask('2', "0030010000000000000000").status, 'b');
    EXPECT_FALSE(pad.Key(0x30));
    EXPECT_EQ(Ask('2', "003000").status, 0xE5);
    EXPECT_EQ(Ask('2', "0030010000000000000000").status, 0xE5);
    EXPECT_EQ(Ask('2', "0000010000000000000000").status, 0xE5);  // clear keys stay
}

TEST_F(Engine, KeyPartsTypedOnThePadAreEchoedStoredAndCombined) {
    const std::string a = "1111111111111111", b = "2222222233333333", c = "4444444455555555";
    const std::pair<const char*, std::string> entries[] = {{"05A2", a}, {"05B2", b}, {"05C2", c}};
    for (const auto& [record, part] : entries) {
        ASSERT_EQ(Ask('1', record).status, 'a');
        EXPECT_EQ(pad.mode(), Mode::KeyEntry);
        EXPECT_EQ(Press("\r"), "");          // incomplete: Enter waits
        EXPECT_EQ(Press(part + "9"), part);  // the 17th character is not taken
        EXPECT_EQ(Press("\r"), "\r");
        EXPECT_EQ(pad.mode(), Mode::Idle);
    }
    EXPECT_EQ(pad.Key(5)->value, a);  // a whole first part is a key by itself
    auto r = Ask('1', "0511");
    ASSERT_EQ(r.status, 'a');
    EXPECT_EQ(pad.Key(5)->value, XorHex(XorHex(a, b), c));
    EXPECT_EQ(r.data, RefVerifyCode(XorHex(XorHex(a, b), c)));
}

TEST_F(Engine, KeyEntryEndsOnEscapeOrTimeOut) {
    ASSERT_EQ(Ask('1', "07A2").status, 'a');
    EXPECT_EQ(Press("AB\x08"), std::string("AB\x08"));
    EXPECT_EQ(Press("\x1B"), "\x1B");
    EXPECT_EQ(pad.mode(), Mode::Idle);
    EXPECT_FALSE(pad.Key(7));
    ASSERT_EQ(Ask('5', "205").status, 'e');
    ASSERT_EQ(Ask('1', "07A2").status, 'a');
    EXPECT_EQ(pad.Elapse(seconds(4)), "");
    EXPECT_EQ(pad.Elapse(seconds(1)), "\x80");
    EXPECT_EQ(pad.mode(), Mode::Idle);
}

TEST_F(Engine, MutualAuthenticationChecksTheHostAnswerAndLocksAfterThreeFailures) {
    const std::string authKey = "00112233445566778899AABBCCDDEEFF";
    LoadClear("00", kDouble);
    auto init = Ask(':', "80" + authKey);
    ASSERT_EQ(init.status, 'j');
    EXPECT_EQ(init.data, authKey);

    auto challengeAndAnswer = [&](bool rightAnswer) {
        auto ch = Ask(':', "A030303030303030303030303030303030");
        EXPECT_EQ(ch.status, 'j');
        EXPECT_EQ(ch.data.size(), 32u);
        auto one = Ask(':', "00" + ch.data);
        EXPECT_EQ(one.status, 'j');
        EXPECT_EQ(one.data, RefEncrypt(kDouble, ch.data));
        std::string answer = RefEncrypt(authKey, one.data);
        if (!rightAnswer) answer[0] = answer[0] == '0' ? '1' : '0';
        return std::make_pair(Ask(':', "90" + answer), answer);
    };
    auto [good, answer] = challengeAndAnswer(true);
    EXPECT_EQ(good.status, 'j');
    EXPECT_EQ(good.data, RefEncrypt(kDouble, answer));

    EXPECT_EQ(challengeAndAnswer(false).first.status, 0xEC);
    EXPECT_EQ(challengeAndAnswer(false).first.status, 0xEC);
    EXPECT_EQ(challengeAndAnswer(false).first.status, 0xED);
    EXPECT_EQ(Ask(':', "00" + Ask(':', "A0" + std::string(32, '0')).data).status, 0xED);
    ASSERT_EQ(Ask(':', "80" + authKey).status, 'j');  // set-up again lifts the lock
    EXPECT_EQ(challengeAndAnswer(true).first.status, 'j');
}

TEST_F(Engine, AuthenticationRefusals) {
    EXPECT_EQ(Ask(':', "80" + std::string(30, 'A')).status, 0xE8);
    EXPECT_EQ(Ask(':', "80" + std::string(32, 'X')).status, 0xE9);
    EXPECT_EQ(Ask(':', "00" + std::string(32, '0')).status, 0xEC);  // not set up
    ASSERT_EQ(Ask(':', "80" + std::string(32, 'A')).status, 'j');
    EXPECT_EQ(Ask(':', "05" + std::string(32, '0')).status, 0xE4);  // no key 05
    EXPECT_EQ(Ask(':', "90" + std::string(32, '0')).status, 0xEC);  // no first step
    EXPECT_EQ(Ask(':', "Z1").status, 0xEB);
}

// PIN block of the reply deciphered with the reference and decoded back to its digits.
std::string DecodePin(char format, const std::string& clearHex, const std::string& account) {
    auto accountField = [&] {
        std::string digits = account.substr(0, account.size() - 1);
        if (digits.size() > 12) digits = digits.substr(digits.size() - 12);
        return "0000" + std::string(12 - digits.size(), '0') + digits;
    };
    std::string field = clearHex;
    if (format == ' ' || format == '#') field = XorHex(clearHex, accountField());
    const char control = format == ' ' ? '0' : format == '!' ? '1' : '3';
    switch (format) {
        case '@': {
            const std::string text = Unhex(clearHex);
            return text.substr(0, text.find(' '));
        }
        case '0':
            return field.substr(0, field.find('F'));
        default: {
            if (field[0] != control) return "bad control " + field;
            const std::size_t n =
                static_cast<std::size_t>(std::stoi(field.substr(1, 1), nullptr, 16));
            const std::string fill = field.substr(2 + n);
            if (format == ' ' && fill != std::string(14 - n, 'F')) return "bad fill " + field;
            if (format == '#' && fill.find_first_not_of("ABCDEF") != std::string::npos)
                return "bad fill " + field;
            if (format == '!' && fill != (account + account).substr(0, 14 - n))
                return "bad fill " + field;
            return field.substr(2, n);
        }
    }
}

TEST_F(Engine, PinEntryEchoesStarsAndThePinBlockDecodesToTheDigitsTyped) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "30", '3', kWorking).status, 'b');
    struct Case {
        char format;
        const char* account;
        const char* pin;
    };
    const Case cases[] = {{' ', "123456789012", "123456"},
                          {' ', "4000001234567899", "9876"},
                          {'!', "1234567890", "4321"},
                          {'#', "123456789012", "55555"},
                          {'0', "", "1234"},
                          {'@', "", "8765"},
                          {' ', "6228480402564890018", "123456789012"}};
    for (const auto& c : cases) {
        const std::string start = std::string("30") + c.format + "000" + c.account;  // no limit
        ASSERT_EQ(Ask('6', start).status, 'f') << start;
        EXPECT_EQ(pad.mode(), Mode::PinEntry);
        EXPECT_EQ(Press(c.pin), std::string(std::strlen(c.pin), '*'));
        EXPECT_EQ(Press("\r"), "\r");
        auto r = Ask('7', "");
        ASSERT_EQ(r.status, 'g');
        ASSERT_EQ(r.data.size(), 20u);
        EXPECT_EQ(r.data.substr(2, 2),
                  (std::strlen(c.pin) < 10 ? "0" : "") + std::to_string(std::strlen(c.pin)));
        EXPECT_EQ(DecodePin(c.format, RefDecrypt(kWorking, r.data.substr(4)), c.account), c.pin)
            << "format '" << c.format << "'";
    }
}

TEST_F(Engine, PinEntryKeysBackspaceEscapeLengthAndTimeOut) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "30", '3', kWorking).status, 'b');
    ASSERT_EQ(Ask('6', "30 004123456789012").status, 'f');
    EXPECT_EQ(Press("12\x08"
                    "3"),
              "**\x08*");
    EXPECT_EQ(Press("45"), "**");  // the fourth digit completes the entry
    EXPECT_EQ(pad.mode(), Mode::Idle);
    EXPECT_EQ(pad.lastPin(), "1345");
    EXPECT_EQ(Press("6"), "");
    // Short form: clear code 2 makes Backspace clear everything; the read names key and type.
    ASSERT_EQ(Ask('6', "00602").status, 'f');
    EXPECT_EQ(Press("99\x08"
                    "1234\r"),
              "**\x08****\r");
    EXPECT_EQ(pad.lastPin(), "1234");
    auto r = Ask('7', "30 123456789012");
    ASSERT_EQ(r.status, 'g');
    EXPECT_EQ(DecodePin(' ', RefDecrypt(kWorking, r.data.substr(4)), "123456789012"), "1234");
    // Too few digits: Enter is not taken.
    ASSERT_EQ(Ask('6', "00000").status, 'f');
    EXPECT_EQ(Press("12\r"), "**");
    EXPECT_EQ(Press("\x1B"), "\x1B");
    EXPECT_EQ(Ask('7', "30 123456789012").status, 0xEE);
    // The time-out of control code 2 ends the entry with 0x80.
    ASSERT_EQ(Ask('5', "203").status, 'e');
    ASSERT_EQ(Ask('6', "00000").status, 'f');
    ASSERT_EQ(pad.NextDeadline(), milliseconds(3000));
    EXPECT_EQ(pad.Elapse(milliseconds(2999)), "");
    EXPECT_EQ(pad.Elapse(milliseconds(1)), "\x80");
    EXPECT_EQ(pad.mode(), Mode::Idle);
}

TEST_F(Engine, PinReadDuringEntryIsAnsweredWhenTheEntryEnds) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "30", '3', kWorking).status, 'b');
    ASSERT_EQ(Ask('6', "30 000123456789012").status, 'f');
    EXPECT_EQ(pad.Receive(RequestFrame('7', "")), "");
    const std::string out = Press("2468\r");
    ASSERT_EQ(out.substr(0, 5), "****\r");
    auto r = ParseReply(out.substr(5));
    ASSERT_TRUE(r.wellFormed);
    EXPECT_EQ(r.status, 'g');
    EXPECT_EQ(DecodePin(' ', RefDecrypt(kWorking, r.data.substr(4)), "123456789012"), "2468");
}

TEST_F(Engine, PinRequestsThatDoNotFitAreRefused) {
    LoadClear("00", kDouble);
    struct Row {
        std::string start;
        unsigned char status;
    };
    const Row rows[] = {{"30 006123", 0xE9}, {"30!0061234", 0xE9},         {"30$006", 0xEB},
                        {"30@009", 0xE9},    {"31 006123456789012", 0xE5}, {"0060", 0xE8},
                        {"0XX00", 0xE9}};
    for (const auto& r : rows) EXPECT_EQ(Ask('6', r.start).status, r.status) << r.start;
    EXPECT_EQ(Ask('7', "").status, 0xEB);  // nothing started in the full form
}

TEST_F(Engine, RenewGivesTheIbm3624OffsetAndVerifyChecksIt) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "30", '3', kWorking).status, 'b');
    ASSERT_EQ(Ask('6', "00000").status, 'f');
    Press("4321\r");
    const std::string validation = "0006502105278100", table = "0123456789012345";
    auto r = Ask('7', "30a" + validation + table);
    ASSERT_EQ(r.status, 'g');
    const std::string offset = RefIbm3624Offset(kWorking, validation, table, "4321");
    EXPECT_EQ(r.data.substr(2, 2), "04");
    EXPECT_EQ(r.data.substr(4), offset);
    EXPECT_EQ(Ask('7', "30b" + validation + table + offset).data.substr(4), "1");
    EXPECT_EQ(Ask('7', "30b" + validation + table + "0000").data.substr(4),
              offset == "0000" ? "1" : "0");
    EXPECT_EQ(Ask('7', "30a" + validation).status, 0xE8);
    EXPECT_EQ(Ask('7', "30a" + validation + "012345678901234X").status, 0xE9);
}

TEST_F(Engine, MacMethodsMatchPublishedVectorsAndTheReference) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "30", '5', kDouble).status, 'b');
    ASSERT_EQ(LoadCipher("00", kDouble, "31", '5', kKey1 + kKey1).status, 'b');
    const std::string nowIs = "Now is the time for all ";
    // PBOC: 80 padding, single DES chained under the left half, the last block through both.
    const std::string pboc = RefRetailMac(kDouble, Hex(nowIs) + "80");
    struct Case {
        const char* name;
        std::string header, message, mac;
    };
    const Case cases[] = {
        // ANSI X9.9 example: F1D30F6849312CA4.
        {"X9.9", "312", "7654321 Now is the time for ", "F1D30F6849312CA4"},
        {"X9.9 double key uses its left half", "302", nowIs, "70A30640CC76DD8B"},
        // ISO 9797-1 MAC algorithm 3 (retail) example: A1C72E74EA3FA9B6.
        {"X9.19", "303", nowIs, "A1C72E74EA3FA9B6"},
        {"ISO 16609", "30A", nowIs, RefCbcMac(kDouble, Hex(nowIs))},
        {"PBOC", "301", nowIs, pboc},
        {
            "bytes 00 and 03 inside",
            "303",
            std::string("\x00\x03\x02zz", 5),
            RefRetailMac(kDouble, "0003027A7A"),
        },
    };
    for (const auto& c : cases) {
        auto r = Ask('8', c.header + c.message);
        EXPECT_EQ(r.status, 'h') << c.name;
        EXPECT_EQ(r.data, c.mac) << c.name;
    }
    EXPECT_EQ(Ask('8', "309" + nowIs).status, 0xEB);
    EXPECT_EQ(Ask('8', "402" + nowIs).status, 0xE5);
    EXPECT_EQ(Ask('8', "302").status, 0xE8);
}

TEST_F(Engine, LongMacInputArrivesAsHexTextInAFrameAnnouncedWith000) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "30", '5', kDouble).status, 'b');
    std::string message;
    for (int i = 0; i < 996; ++i) message += static_cast<char>(i * 7);
    const std::string frame = RequestFrame('8', "303" + Hex(message));
    ASSERT_EQ(frame.substr(1, 3), "000");
    auto r = ParseReply(pad.Receive(frame));
    ASSERT_EQ(r.status, 'h');
    EXPECT_EQ(r.data, RefRetailMac(kDouble, Hex(message)));
    EXPECT_EQ(
        ParseReply(pad.Receive(RequestFrame('8', "303" + Hex(message).replace(10, 1, "Z")))).status,
        0xE9);
}

TEST_F(Engine, DataIsEncipheredAndDecipheredInEcbAndCbc) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "40", '6', kTmk).status, 'b');
    const std::string data = "00112233445566778899AABBCCDDEEFF0123456789ABCDEF";
    struct Case {
        char mode;
        std::string expected;
    };
    const Case cases[] = {{'1', RefEncrypt(kTmk, data)},
                          {'2', RefCbcEncrypt(kTmk, data)},
                          {'A', RefDecrypt(kTmk, data)},
                          {'B', RefCbcDecrypt(kTmk, data)}};
    for (const auto& c : cases) {
        auto r = Ask('9', std::string("40") + c.mode + data);
        EXPECT_EQ(r.status, 'i') << c.mode;
        EXPECT_EQ(r.data, c.expected) << c.mode;
    }
    // 4080 hex characters come back in a reply announced with "000".
    std::string big;
    for (int i = 0; i < 255; ++i) big += data.substr(0, 16);
    auto r = Ask('9', "401" + big);
    EXPECT_EQ(r.lengthField, "000");
    EXPECT_EQ(r.data, RefEncrypt(kTmk, big));
    EXPECT_EQ(Ask('9', "400" + data).status, 0xEB);
    EXPECT_EQ(Ask('9', "401" + data.substr(0, 15)).status, 0xE8);
    EXPECT_EQ(Ask('9', "411" + data).status, 0xE5);
}

TEST_F(Engine, DisplayShowsTextPromptsAndDecipheredText) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "40", '6', kTmk).status, 'b');
    EXPECT_EQ(Ask(';', "0123").status, 'k');
    EXPECT_EQ(pad.displayText(), "123");
    EXPECT_EQ(Ask(';', "11").status, 'k');
    EXPECT_EQ(Ask(';', "25").status, 'k');
    EXPECT_EQ(pad.displayText(), "PLEASE INPUT PIN\nTHANK YOU");
    EXPECT_EQ(Ask(';', "@" + RefEncrypt(kTmk, Hex("HELLO   PAD!    "))).status, 'k');
    EXPECT_EQ(pad.displayText(), "HELLO   PAD!");
    EXPECT_EQ(Ask(';', "1X").status, 0xE9);
    EXPECT_EQ(Ask(';', "@" + std::string(24, '0')).status, 0xE8);
    EXPECT_EQ(Ask(';', "A" + std::string(16, '0')).status, 0xE5);
    EXPECT_EQ(Ask(';', "3").status, 0xEB);
}

TEST_F(Engine, CardGoesThroughPowerUpStatusApdusAndPowerDown) {
    struct Step {
        char command;
        std::string request;
        std::string reply;  // expected reply data
    };
    const Step steps[] = {
        {'@', "1882", "188C"},
        {'A',
         "100A4000002"
         "3F00",
         "188C"},
        {'@', "1881", "1880" + std::string(PadSimulator::kAtr)},
        {'@', "1882", "1880" + std::string(PadSimulator::kAtr)},
        {'A',
         "100A4000002"
         "3F00",
         "06F0A84023F00A50488010100"
         "9000"},
        {'A',
         "100A404000E"
         "315041592E5359532E4444463031",
         "06F15840E315041592E5359532E4444463031A503880101"
         "9000"},
        {'A',
         "100A4000002"
         "3F01",
         "06A82"},
        {'A', "100B2010C00", "0700E610C4F07F00000000310105001419000"},
        {'A', "100B2030C00", "06A83"},
        {'A', "100CA000000", "06D00"},
        {'A', "1A0B2010C00", "06E00"},
        {'A', "100A400000201", "06700"},
        {'@', "2881", "288A"},
        {'@', "1891", "189D"},
        {'@', "1883", "1880"},
        {'@', "1883", "188C"},
    };
    for (const auto& s : steps) {
        auto r = Ask(s.command, s.request);
        EXPECT_EQ(r.status, s.command == '@' ? 'p' : 'q') << s.request;
        EXPECT_EQ(r.data, s.reply) << s.request;
    }
    Ask('@', "1881");
    auto challenge = Ask('A', "10084000008");
    ASSERT_EQ(challenge.data.size(), 1u + 16 + 4);
    EXPECT_EQ(challenge.data.substr(17), "9000");
    pad.SetCardInserted(false);
    EXPECT_EQ(Ask('@', "1881").data, "188A");
    EXPECT_EQ(pad.cardState(), CardState::NoCard);
    EXPECT_EQ(Ask('@', "1884").status, 0xEB);
    EXPECT_EQ(Ask('@', "18").status, 0xE8);
}

TEST_F(Engine, ReplyFaultsChangeOnlyWhatTheyAreFor) {
    const std::string request = RequestFrame('5', "032");
    const std::string clean = pad.Receive(request);
    ASSERT_EQ(ParseReply(clean).status, 'e');

    pad.faults().noise = "\xFF\x01noise";
    EXPECT_EQ(pad.Receive(request), "\xFF\x01noise" + clean);
    pad.faults() = Faults{};
    pad.faults().cutReplyAfter = 4;
    EXPECT_EQ(pad.Receive(request), clean.substr(0, 4));
    pad.faults() = Faults{};
    pad.faults().wrongCheck = true;
    auto wrong = pad.Receive(request);
    EXPECT_EQ(wrong.substr(0, wrong.size() - 2), clean.substr(0, clean.size() - 2));
    EXPECT_NE(wrong, clean);
    EXPECT_FALSE(ParseReply(wrong).wellFormed);
    pad.faults() = Faults{};
    pad.faults().oversizeData = 5000;
    auto big = ParseReply(pad.Receive(request));
    EXPECT_TRUE(big.wellFormed);
    EXPECT_EQ(big.lengthField, "000");
    EXPECT_EQ(big.data.size(), 5000u);
    pad.faults() = Faults{};
    pad.faults().forcedStatus['5'] = 0xE5;
    EXPECT_EQ(ParseReply(pad.Receive(request)).status, 0xE5);
    EXPECT_EQ(ParseReply(pad.Receive(RequestFrame('3', ""))).status, 'c');
    pad.faults() = Faults{};
    pad.faults().silent = true;
    EXPECT_EQ(pad.Receive(request), "");
    EXPECT_EQ(pad.Receive(RequestFrame('5', "033")), "");
    EXPECT_EQ(pad.mode(), Mode::Idle);  // a silent pad does nothing
}

// A wrong-data reply is a sound frame (length, status and check right) whose value has each
// character changed to another of its kind; card headers, card conditions and replies without
// data stay as they are, and commands not named are answered right.
TEST_F(Engine, WrongDataRepliesAreSoundFramesWithTheirValueChanged) {
    LoadClear("00", kDouble);
    ASSERT_EQ(LoadCipher("00", kDouble, "30", '5', kDouble).status, 'b');
    ASSERT_EQ(LoadCipher("00", kDouble, "40", '6', kTmk).status, 'b');
    ASSERT_EQ(Ask('3', "unit 7 \x01~").status, 'c');  // a control byte stays, '~' wraps
    ASSERT_EQ(Ask('6', "30 000123456789012").status, 'f');
    ASSERT_EQ(Press("1234\r"), "****\r");
    ASSERT_EQ(Ask('@', "1881").status, 'p');
    struct Case {
        const char* name;
        char command;
        std::string payload;
        std::size_t kept;  // leading data characters that stay
        bool changes;
    };
    const Case cases[] = {
        {"MAC", '8', "303Now is the time for all ", 0, true},
        {"data encryption", '9', "402" + std::string("00112233445566778899AABBCCDDEEFF"), 0, true},
        {"PIN value", '7', "", 0, true},
        {"information area", '3', "", 0, true},
        {"card status keeps its header", '@', "1882", 4, true},
        {"card APDU keeps its done flag", 'A', "100A40000023F00", 1, true},
        {"card condition", '@', "2881", 4, false},
        {"no data", '5', "032", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string request = RequestFrame(c.command, c.payload);
        pad.faults() = Faults{};
        const ParsedReply right = ParseReply(pad.Receive(request));
        pad.faults().wrongData = {c.command};
        const ParsedReply wrong = ParseReply(pad.Receive(request));
        ASSERT_TRUE(right.wellFormed);
        ASSERT_TRUE(wrong.wellFormed);  // correct check, length field matching the data
        EXPECT_EQ(wrong.status, right.status);
        EXPECT_EQ(wrong.lengthField, right.lengthField);
        ASSERT_EQ(wrong.data.size(), right.data.size());
        EXPECT_EQ(wrong.data != right.data, c.changes);
        EXPECT_EQ(wrong.data.substr(0, c.kept), right.data.substr(0, c.kept));
        for (std::size_t i = c.kept; i < right.data.size(); ++i) {
            const auto was = static_cast<unsigned char>(right.data[i]);
            const auto now = static_cast<unsigned char>(wrong.data[i]);
            if (std::isxdigit(was))
                EXPECT_TRUE(std::isxdigit(now) && now != was) << i;
            else if (was >= 0x20 && was <= 0x7E)
                EXPECT_TRUE(now >= 0x20 && now <= 0x7E && now != was) << i;
            else
                EXPECT_EQ(now, was) << i;
        }
    }
    pad.faults().wrongData = {'9', '3'};
    EXPECT_EQ(Ask('8', "303Now is the time for all ").data, "A1C72E74EA3FA9B6");
}

TEST_F(Engine, LowBatteryIsReportedOnInformationReadAndDisplayOnly) {
    pad.faults().lowBattery = true;
    auto read = Ask('3', "");
    EXPECT_EQ(read.status, 0xE0);
    EXPECT_EQ(read.data.substr(132, 3), "R4K");
    EXPECT_EQ(Ask(';', "0hi").status, 0xE0);
    EXPECT_EQ(pad.displayText(), "hi");
    EXPECT_EQ(Ask('3', "info").status, 'c');
    EXPECT_EQ(Ask('5', "032").status, 'e');
    EXPECT_EQ(Ask(';', "3").status, 0xEB);  // errors stay errors
}

}  // namespace
}  // namespace padsim::test
