// The key, authentication, PIN, MAC, data, card and display exports over a real pty, against a
// scripted peer: the frames they send, what they take from the replies, and their bounds.
#define OPENSSL_API_COMPAT 10101  // DES_ecb3_encrypt is the reference; it is deprecated
#include <gtest/gtest.h>
#include <openssl/des.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "export_fixture.h"
#include "frame_exchange.h"
#include "pinpad.h"
#include "pty_peer.h"

namespace lumenord {
namespace {

using test::Hex;
using test::Output;
using test::ReplyFrame;
using test::ReplyFrameWithLength;
using Clock = std::chrono::steady_clock;

std::string LengthField(const std::string& frame) { return frame.substr(1, 3); }
char CommandOf(const std::string& frame) { return frame.size() > 4 ? frame[4] : '\0'; }
std::string PayloadOf(const std::string& frame) {
    return frame.size() >= 8 ? frame.substr(5, frame.size() - 8) : "";
}

// Triple DES (or single DES for a 16-character key) of hex text under a hex key, by libcrypto.
std::string OpenSslEncrypt(const std::string& dataHex, const std::string& keyHex) {
    auto bytesOf = [](const std::string& hex, std::size_t at, DES_cblock* block) {
        for (int i = 0; i < 8; ++i)
            (*block)[i] =
                static_cast<unsigned char>(std::stoi(hex.substr(at + 2 * i, 2), nullptr, 16));
    };
    DES_key_schedule k[3];
    for (std::size_t i = 0; i < keyHex.size() / 16; ++i) {
        DES_cblock key;
        bytesOf(keyHex, 16 * i, &key);
        DES_set_key_unchecked(&key, &k[i]);
    }
    std::string out;
    for (std::size_t at = 0; at < dataHex.size(); at += 16) {
        DES_cblock in, result;
        bytesOf(dataHex, at, &in);
        if (keyHex.size() == 16)
            DES_ecb_encrypt(&in, &result, &k[0], DES_ENCRYPT);
        else
            DES_ecb3_encrypt(&in, &result, &k[0], &k[1], keyHex.size() == 48 ? &k[2] : &k[0],
                             DES_ENCRYPT);
        char hex[3];
        for (unsigned char b : result) {
            std::snprintf(hex, sizeof hex, "%02X", b);
            out += hex;
        }
    }
    return out;
}

class PadCommands : public test::ExportTest {};

const std::string kPadText32 = "0123456789ABCDEFFEDCBA9876543210";

TEST_F(PadCommands, GetChallengeSendsTheFixedFrame) {
    Output out(33);
    int result = 0;
    auto requests = Exchange({ReplyFrame('j', kPadText32 + "TAIL")},
                             [&] { result = PinPad_GetChallenge(out.data()); });
    ASSERT_EQ(requests.size(), 1u);
    std::string expected =
        "\x02"
        "035:A0";
    for (int i = 0; i < 16; ++i) expected += "30";
    expected +=
        "\x03"
        "7E";
    EXPECT_EQ(Hex(requests[0]), Hex(expected));
    EXPECT_EQ(Hex(expected).substr(0, 20), "02 30 33 35 3A 41 30");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out.Text(), kPadText32);
}

TEST_F(PadCommands, InitAuthorizationSendsSelectorAndData) {
    Output out(33);
    int result = 0;
    auto requests = Exchange({ReplyFrame('j', kPadText32)}, [&] {
        result = PinPad_InitAuthorization(kPadText32.c_str(), 32, out.data());
    });
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(LengthField(requests[0]), "035");
    EXPECT_EQ(CommandOf(requests[0]), ':');
    EXPECT_EQ(PayloadOf(requests[0]), "80" + kPadText32);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out.Text(), kPadText32);
}

TEST_F(PadCommands, KeyDownloadsReturnTheVerifyCode) {
    struct Case {
        const char* name;
        bool encrypted;
        std::string reply;
        int result;
        std::string verifyCode;
    };
    const Case cases[] = {
        {"clear, eight bytes", false, ReplyFrame('a', "1A2B3C4D"), 0, "1A2B3C4D"},
        {"clear, no data", false, ReplyFrame('a', ""), 0, ""},
        {"clear, length field not ending in 9", false, ReplyFrame('a', "1A2B3C4D5"), 0, ""},
        {"clear, longer reply ending in 9", false, ReplyFrame('a', "1A2B3C4D5E6F7A8B9C"), 0,
         "1A2B3C4D"},
        {"clear, pad error", false, ReplyFrame('\xE5', "1A2B3C4D"), 0xE5, "xxxxxxxxx"},
        {"cipher, eight bytes", true, ReplyFrame('b', "ABCDEF01"), 0, "ABCDEF01"},
        {"cipher, longer reply", true, ReplyFrame('b', "ABCDEF0123"), 0, "ABCDEF01"},
        {"cipher, wrong success byte", true, ReplyFrame('a', "ABCDEF01"), 'a', "xxxxxxxxx"},
    };
    const std::string record = "0010123456789ABCDEF";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Output out(9);
        int result = 0;
        auto requests = Exchange({c.reply}, [&] {
            result = c.encrypted
                         ? PinPad_DownloadEncryptKey(record.c_str(), record.size(), out.data())
                         : PinPad_DownloadKey(record.c_str(), record.size(), out.data(), 7);
        });
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(CommandOf(requests[0]), c.encrypted ? '2' : '1');
        EXPECT_EQ(PayloadOf(requests[0]), record);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(std::string(out.bytes.data(), strnlen(out.bytes.data(), 9)), c.verifyCode);
    }
}

TEST_F(PadCommands, BidirectionalAuthorizationEnciphersThePadsAnswer) {
    const std::string keys[] = {
        "0123456789ABCDEF",
        "0123456789ABCDEFFEDCBA9876543210",
        "0123456789abcdeffedcba987654321089abcdef01234567",
    };
    const std::string challenge = "00112233445566778899AABBCCDDEEFF";
    const std::string secondAnswer = "F0E1D2C3B4A5968778695A4B3C2D1E0F";
    for (const std::string& key : keys) {
        SCOPED_TRACE("key " + key);
        Output out(33);
        int result = 0;
        auto requests =
            Exchange({ReplyFrame('j', kPadText32), ReplyFrame('j', secondAnswer + "++")}, [&] {
                result = PinPad_BidirectionalAuthorization(key.c_str(), challenge.size(), "05",
                                                           challenge.c_str(), out.data());
            });
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(PayloadOf(requests[0]), "05" + challenge);
        std::string upperKey = key;
        for (char& ch : upperKey) ch = static_cast<char>(std::toupper(ch));
        EXPECT_EQ(PayloadOf(requests[1]), "90" + OpenSslEncrypt(kPadText32, upperKey));
        EXPECT_EQ(LengthField(requests[1]), "035");
        EXPECT_EQ(result, 0);
        EXPECT_EQ(out.Text(), secondAnswer);
    }
}

TEST_F(PadCommands, BidirectionalAuthorizationStopsAfterAFailedFirstStep) {
    Output out(33);
    int result = 0;
    auto requests = Exchange({ReplyFrame('\xE7', "")}, [&] {
        result = PinPad_BidirectionalAuthorization("0123456789ABCDEF", 4, "00", "1234", out.data());
    });
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(result, 0xE7);
    EXPECT_TRUE(out.Untouched());
    ExpectNothingSent();
}

TEST_F(PadCommands, BidirectionalAuthorizationWithAnOddKeySendsZeroBytes) {
    Output out(33);
    int result = 0;
    auto requests = Exchange({ReplyFrame('j', kPadText32), ReplyFrame('\xE3', "")}, [&] {
        result = PinPad_BidirectionalAuthorization("0123456789", 6, "01", "ABCDEF", out.data());
    });
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(PayloadOf(requests[1]), std::string("90") + std::string(6, '\0'));
    EXPECT_EQ(result, 0xE3);
    EXPECT_TRUE(out.Untouched());
}

TEST_F(PadCommands, ArgumentsAreRefusedBeforeAnythingIsSent) {
    Output out(4096);
    const std::string big(4089, '1');
    struct Case {
        const char* name;
        std::function<int()> call;
    };
    const Case cases[] = {
        {"empty authentication key",
         [&] { return PinPad_BidirectionalAuthorization("", 4, "00", "1234", out.data()); }},
        {"null authentication key",
         [&] { return PinPad_BidirectionalAuthorization(nullptr, 4, "00", "1234", out.data()); }},
        {"one-character key index",
         [&] {
             return PinPad_BidirectionalAuthorization("0123456789ABCDEF", 4, "0", "1234",
                                                      out.data());
         }},
        {"challenge over 254 bytes",
         [&] {
             return PinPad_BidirectionalAuthorization("0123456789ABCDEF", 255, "00", big.c_str(),
                                                      out.data());
         }},
        {"key record over 256 bytes",
         [&] { return PinPad_DownloadKey(big.c_str(), 257, out.data(), 0); }},
        {"cipher key record over 256 bytes",
         [&] { return PinPad_DownloadEncryptKey(big.c_str(), 257, out.data()); }},
        {"empty key record", [&] { return PinPad_DownloadKey("", 0, out.data(), 0); }},
        {"null verify code", [&] { return PinPad_DownloadKey("00", 2, nullptr, 0); }},
        {"authentication data over 254 bytes",
         [&] { return PinPad_InitAuthorization(big.c_str(), 255, out.data()); }},
        {"empty authentication data", [&] { return PinPad_InitAuthorization("", 0, out.data()); }},
        {"null challenge output", [&] { return PinPad_GetChallenge(nullptr); }},
        {"empty PIN parameters", [&] { return PinPad_EnablePin("", 0); }},
        {"PIN parameters over 256 bytes", [&] { return PinPad_EnablePin(big.c_str(), 257); }},
        {"PIN value parameters over 256 bytes",
         [&] { return PinPad_GetPinValue(big.c_str(), 257, 5, out.data()); }},
        {"null PIN output", [&] { return PinPad_GetPinValue("", 0, 5, nullptr); }},
        {"MAC input over 2045 bytes",
         [&] { return PinPad_MakeMac(big.c_str(), 2046, out.data()); }},
        {"MAC input starting with zero",
         [&] {
             return PinPad_MakeMac(
                 "\0"
                 "12",
                 3, out.data());
         }},
        {"null MAC output", [&] { return PinPad_MakeMac("001", 3, nullptr); }},
        {"data request over 4088 bytes",
         [&] { return PinPad_EncryptData(big.c_str(), 4089, out.data()); }},
        {"empty data request", [&] { return PinPad_EncryptData("", 0, out.data()); }},
        {"card request over 2048 bytes",
         [&] { return PinPad_IC_Control(big.c_str(), out.data()); }},
        {"null card request", [&] { return PinPad_IC_Access(nullptr, out.data()); }},
        {"null card output", [&] { return PinPad_IC_Access("00", nullptr); }},
        {"display record over 4088 bytes", [&] { return PinPad_DispInfoLcd(big.c_str(), 4089); }},
        {"negative display length", [&] { return PinPad_DispInfoLcd("12", -1); }},
        {"null display record", [&] { return PinPad_DispInfoLcd(nullptr, 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), -3);
    }
    EXPECT_EQ(out.bytes, std::vector<char>(4096, 'x'));
    ExpectNothingSent();
}

TEST_F(PadCommands, DevicesCommandsRefuseADisabledPort) {
    ASSERT_EQ(PinPad_DisablePort(), 0);
    Output out(4096);
    const std::function<int()> calls[] = {
        [&] { return PinPad_DownloadKey("00", 2, out.data(), 0); },
        [&] { return PinPad_DownloadEncryptKey("00", 2, out.data()); },
        [&] { return PinPad_InitAuthorization("00", 2, out.data()); },
        [&] { return PinPad_GetChallenge(out.data()); },
        [&] {
            return PinPad_BidirectionalAuthorization("0123456789ABCDEF", 2, "00", "00", out.data());
        },
        [&] { return PinPad_EnablePin("00", 2); },
        [&] { return PinPad_GetPinValue("", 0, 5, out.data()); },
        [&] { return PinPad_MakeMac("001", 3, out.data()); },
        [&] { return PinPad_EncryptData("00", 2, out.data()); },
        [&] { return PinPad_IC_Control("00", out.data()); },
        [&] { return PinPad_IC_Access("00", out.data()); },
        [&] { return PinPad_DispInfoLcd("00", 2); },
    };
    for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), -1) << "call " << i;
    EXPECT_TRUE(out.Untouched());
}

TEST_F(PadCommands, MakeMacExpandsLongInputToHex) {
    std::string header =
        "31"
        "2";
    std::string message;
    // Raw bytes, zero included; no ETX, which the peer would take for the frame's end.
    for (int i = 0; i < 996; ++i)
        message += static_cast<char>(i * 7 % 256 == 3 ? 0x83 : i * 7 % 256);
    const std::string input999 = header + message;
    const std::string input998 = input999.substr(0, 998);
    std::string expanded = header;
    char hex[3];
    for (unsigned char b : message) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        expanded += hex;
    }
    ASSERT_EQ(expanded.size(), 1995u);
    struct Case {
        const std::string* input;
        std::string lengthField;
        std::string payload;
    };
    const Case cases[] = {
        {&input998, "999", input998},
        {&input999, "000", expanded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("input of " + std::to_string(c.input->size()) + " bytes");
        Output out(17);
        int result = 0;
        auto requests = Exchange({ReplyFrame('h', "0011223344556677EXTRA")}, [&] {
            result = PinPad_MakeMac(c.input->data(), c.input->size(), out.data());
        });
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(LengthField(requests[0]), c.lengthField);
        EXPECT_EQ(CommandOf(requests[0]), '8');
        EXPECT_TRUE(PayloadOf(requests[0]) == c.payload) << "payload differs";
        EXPECT_EQ(result, 0);
        EXPECT_EQ(out.Text(), "0011223344556677");
    }
    // The read waits for the expanded payload, not for the caller's 999 bytes.
    EXPECT_EQ(ReadTimeoutFor(1995), 66);
}

TEST_F(PadCommands, MakeMacTakesTheLongestInputThatFits) {
    const std::string input = "312" + std::string(2042, 'M');
    Output out(17);
    int result = 0;
    auto requests = Exchange({ReplyFrame('\xE9', "")}, [&] {
        result = PinPad_MakeMac(input.data(), input.size(), out.data());
    });
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(PayloadOf(requests[0]).size(), static_cast<std::size_t>(kMaxPayload) - 1);
    EXPECT_EQ(result, 0xE9);
    EXPECT_TRUE(out.Untouched());
}

TEST_F(PadCommands, EncryptDataReturnsTheReplyData) {
    const std::string data = "89ABCDEF0123456789ABCDEF01234567";
    struct Case {
        const char* name;
        std::string reply;
        int result;
        std::string text;
    };
    const Case cases[] = {
        {"stated length", ReplyFrame('i', data), 0, data},
        {"length field 000", ReplyFrameWithLength("000", 'i', data), 0, data},
        {"status only", ReplyFrame('i', ""), 0, ""},
        {"length field 002 is a reply, not an unwritten request", ReplyFrame('i', "A"), 0, "A"},
        {"pad error", ReplyFrame('\xE4', data), 0xE4, "x"},
        {"pad error with length field 000", ReplyFrameWithLength("000", '\xE4', data), 0xE4, "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Output out(4096);
        int result = 0;
        auto requests =
            Exchange({c.reply}, [&] { result = PinPad_EncryptData("301", 3, out.data()); });
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(PayloadOf(requests[0]), "301");
        EXPECT_EQ(result, c.result);
        if (c.result == 0)
            EXPECT_EQ(out.Text(), c.text);
        else
            EXPECT_TRUE(out.Untouched());
    }
}

// A reply that the export could hand on only cut is refused; the output stays as it was.
TEST_F(PadCommands, LongRepliesAreNeverCutToTheBuffers) {
    const std::string longData(5000, 'D');
    struct Case {
        const char* name;
        std::string reply;
        std::size_t outputSize;
        std::function<int(char*)> call;
        int result;
        std::size_t textLength;  // 0: the output stays untouched
    };
    const Case cases[] = {
        {"PIN value with a stated length", ReplyFrame('g', longData.substr(0, 300)), 256,
         [](char* o) { return PinPad_GetPinValue("", 0, 5, o); }, -4, 0},
        {"PIN value, length field 000", ReplyFrameWithLength("000", 'g', longData.substr(0, 1200)),
         256, [](char* o) { return PinPad_GetPinValue("", 0, 5, o); }, -4, 0},
        // 4096 bytes: exactly what the receive buffer holds.
        {"data, length field 000", ReplyFrameWithLength("000", 'i', longData.substr(0, 4088)), 4096,
         [](char* o) { return PinPad_EncryptData("301", 3, o); }, 0, 4088},
        // A reply that the receive buffer cannot hold cannot be checked.
        {"data beyond the receive buffer", ReplyFrameWithLength("000", 'i', longData), 4096,
         [](char* o) { return PinPad_EncryptData("301", 3, o); }, -4, 0},
        {"card control, length field 000", ReplyFrame('p', "0000" + longData.substr(0, 2500)), 2048,
         [](char* o) { return PinPad_IC_Control("1", o); }, -4, 0},
        {"card access, length field below the data",
         ReplyFrameWithLength("999", 'q', "0" + longData.substr(0, 1500)), 2048,
         [](char* o) { return PinPad_IC_Access("00A4", o); }, -4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Output out(c.outputSize);
        int result = -100;
        auto requests = Exchange({c.reply}, [&] { result = c.call(out.data()); });
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(result, c.result);
        if (c.textLength == 0)
            EXPECT_TRUE(out.Untouched());
        else
            EXPECT_EQ(out.Text(), std::string(c.textLength, 'D'));
    }
}

TEST_F(PadCommands, GetPinValueWithEmptyParameters) {
    Output out(256);
    int result = 0;
    auto requests = Exchange({ReplyFrame('g', "0612345F")},
                             [&] { result = PinPad_GetPinValue("", 0, 5, out.data()); });
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(Hex(requests[0]), "02 30 30 31 37 03 30 35");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out.Text(), "0612345F");

    Output failed(256);
    Exchange({ReplyFrame('\xEE', "0612345F")},
             [&] { result = PinPad_GetPinValue("01", 2, 5, failed.data()); });
    EXPECT_EQ(result, 238);
    EXPECT_TRUE(failed.Untouched());
}

TEST_F(PadCommands, GetPinValueWaitsTheCallersTimeOut) {
    Output out(256);
    auto start = Clock::now();
    EXPECT_EQ(PinPad_GetPinValue("", 0, 1, out.data()), -4);
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    // One second, not the four of an ordinary short request.
    EXPECT_GE(elapsed.count(), 900);
    EXPECT_LT(elapsed.count(), 3000);
    EXPECT_TRUE(out.Untouched());
}

TEST_F(PadCommands, EnablePinResults) {
    struct Case {
        std::string reply;
        int result;
    };
    const Case cases[] = {
        {ReplyFrame('f', ""), 0},
        {ReplyFrame('\xE1', ""), 0xE1},
        {ReplyFrameWithLength("000", 'f', ""), 0},
    };
    for (const Case& c : cases) {
        int result = 0;
        auto requests = Exchange({c.reply}, [&] { result = PinPad_EnablePin("30061", 5); });
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(CommandOf(requests[0]), '6');
        EXPECT_EQ(PayloadOf(requests[0]), "30061");
        EXPECT_EQ(result, c.result) << Hex(c.reply);
    }
}

TEST_F(PadCommands, EnablePinOnASilentPadIsNoReply) {
    EXPECT_EQ(PinPad_EnablePin("30061", 5), -4);
    EXPECT_EQ(PayloadOf(peer.ReadFrame(kFrameWaitMs)), "30061");
}

TEST_F(PadCommands, CardReplies) {
    struct Case {
        const char* name;
        bool control;
        std::string reply;
        int result;
        std::string answer;
    };
    const Case cases[] = {
        {"control done", true,
         ReplyFrame('p',
                    "ABC0"
                    "3B6800008131FE"),
         0, "3B6800008131FE"},
        {"control card status B", true,
         ReplyFrame('p',
                    "ABCB"
                    "3B68"),
         'B', ""},
        {"control pad error", true, ReplyFrame('\xE2', "ABC0"), 0xE2, ""},
        {"control without a status character", true, ReplyFrame('p', "AB"), -4, ""},
        {"access done", false,
         ReplyFrame('q',
                    "0"
                    "9000"),
         0, "9000"},
        {"access failed: fourth character", false,
         ReplyFrame('q',
                    "1"
                    "23S"
                    "9000"),
         'S', ""},
        {"access failed without a status character", false, ReplyFrame('q', "1"), -4, ""},
        {"access wrong success byte", false,
         ReplyFrame('p',
                    "0"
                    "9000"),
         'p', ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Output out(2048);
        int result = 0;
        const char* request = c.control ? "1" : "00A404000E";
        auto requests = Exchange({c.reply}, [&] {
            result = c.control ? PinPad_IC_Control(request, out.data())
                               : PinPad_IC_Access(request, out.data());
        });
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(CommandOf(requests[0]), c.control ? '@' : 'A');
        EXPECT_EQ(PayloadOf(requests[0]), request);
        EXPECT_EQ(result, c.result);
        if (c.result == 0)
            EXPECT_EQ(out.Text(), c.answer);
        else
            EXPECT_TRUE(out.Untouched());
    }
}

TEST_F(PadCommands, CardControlWithAnEmptyRequestSendsAnEmptyFrame) {
    Output out(2048);
    auto requests = Exchange({ReplyFrame('p', "0000")}, [&] { PinPad_IC_Control("", out.data()); });
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(LengthField(requests[0]), "001");
    EXPECT_EQ(CommandOf(requests[0]), '@');
    EXPECT_EQ(out.Text(), "");
}

TEST_F(PadCommands, DisplayRecordResults) {
    struct Case {
        std::string reply;
        int result;
    };
    const Case cases[] = {
        {ReplyFrame('k', ""), 0},
        {ReplyFrame('\xE0', ""), 224},
        {ReplyFrame('\xE6', ""), 0xE6},
    };
    const std::string record =
        "0102"
        "HELLO";
    for (const Case& c : cases) {
        int result = 0;
        auto requests = Exchange({c.reply}, [&] {
            result = PinPad_DispInfoLcd(record.data(), static_cast<int>(record.size()));
        });
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(CommandOf(requests[0]), ';');
        EXPECT_EQ(PayloadOf(requests[0]), record);
        EXPECT_EQ(result, c.result);
    }
}

TEST_F(PadCommands, DisplayTakesTheLargestRecord) {
    const std::string record(4088, 'R');
    int result = 0;
    auto requests = Exchange({ReplyFrame('k', "")}, [&] {
        result = PinPad_DispInfoLcd(record.data(), static_cast<int>(record.size()));
    });
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(LengthField(requests[0]), "000");
    EXPECT_EQ(PayloadOf(requests[0]).size(), 4088u);
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace lumenord
