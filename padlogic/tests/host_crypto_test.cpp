// The host's own MACs and data ciphers, checked against published vectors, against OpenSSL
// (through the test references) and against the simulated pad's engine; DES is the driver's
// routine, passed in as the tool passes its bound entry.
#include "host_crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "padsim/pad_simulator.h"
#include "reference_crypto.h"

namespace padlogic {
namespace {

using padsim::test::Hex;
using padsim::test::ParseReply;
using padsim::test::RefCbcDecrypt;
using padsim::test::RefCbcEncrypt;
using padsim::test::RefDecrypt;
using padsim::test::RefEncrypt;
using padsim::test::RequestFrame;
using padsim::test::XorHex;

const DesFunction kDes = &PinPad_TriUntriDes;
const std::string kK1 = "0123456789ABCDEF";
const std::string kK2 = "FEDCBA9876543210";
const std::string kK3 = "89ABCDEF01234567";
const std::string kKeys[] = {kK1, kK1 + kK2, kK1 + kK2 + kK3};
constexpr MacType kMacTypes[] = {MacType::kPboc, MacType::kX99, MacType::kX919, MacType::kIso16609};
// Each data mode with its OpenSSL reference.
const std::pair<DataMode, std::string (*)(std::string_view, std::string_view)> kDataModes[] = {
    {DataMode::kEcbEncrypt, &RefEncrypt},
    {DataMode::kCbcEncrypt, &RefCbcEncrypt},
    {DataMode::kEcbDecrypt, &RefDecrypt},
    {DataMode::kCbcDecrypt, &RefCbcDecrypt}};

std::string RandomBytes(std::mt19937& random, std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) bytes += static_cast<char>(random() & 0xFF);
    return bytes;
}

// The MAC as the pad's description gives it, from OpenSSL's ECB and CBC: X9.9 is CBC under K1
// alone, ISO 16609 CBC under the whole key; PBOC and X9.19 chain under K1 and encipher the last
// chained block under the whole key.
std::string ReferenceMac(MacType type, const std::string& key, std::string_view message) {
    std::string padded = Hex(message);
    if (type == MacType::kPboc) padded += "80";
    while (padded.size() % 16 != 0) padded += "00";
    const std::string left = key.substr(0, 16);
    const std::size_t lastAt = padded.size() - 16;
    switch (type) {
        case MacType::kX99:
            return RefCbcEncrypt(left, padded).substr(lastAt);
        case MacType::kIso16609:
            return RefCbcEncrypt(key, padded).substr(lastAt);
        case MacType::kPboc:
        case MacType::kX919: {
            const std::string head = padded.substr(0, lastAt);
            const std::string chain =
                head.empty() ? std::string(16, '0') : RefCbcEncrypt(left, head).substr(lastAt - 16);
            return RefEncrypt(key, XorHex(chain, padded.substr(lastAt)));
        }
    }
    return {};
}

TEST(HostMac, GivesThePublishedValues) {
    const std::string nowIs = "Now is the time for all ";
    struct Case {
        const char* name;
        MacType type;
        std::string key, message, mac;
    };
    const Case cases[] = {
        // ANSI X9.9 (FIPS 113) example.
        {"X9.9", MacType::kX99, kK1, "7654321 Now is the time for ", "F1D30F6849312CA4"},
        // ISO 9797-1 MAC algorithm 1: X9.9 with the left half of a double key, and ISO 16609
        // and X9.19 under a single key, which are the same CBC-MAC.
        {"X9.9 double key", MacType::kX99, kK1 + kK2, nowIs, "70A30640CC76DD8B"},
        {"ISO 16609 single key", MacType::kIso16609, kK1, nowIs, "70A30640CC76DD8B"},
        {"X9.19 single key", MacType::kX919, kK1, nowIs, "70A30640CC76DD8B"},
        // ISO 9797-1 MAC algorithm 3 (retail), as ANSI X9.19; the key in lower case.
        {"X9.19 double key", MacType::kX919, "0123456789abcdeffedcba9876543210", nowIs,
         "A1C72E74EA3FA9B6"},
    };
    for (const Case& c : cases) EXPECT_EQ(HostMac(c.type, c.key, c.message, kDes), c.mac) << c.name;
}

TEST(HostMac, MatchesOpenSslForEveryTypeKeyAndMessageLength) {
    std::mt19937 random(11);
    std::vector<std::string> messages;
    for (std::size_t length : {1u, 7u, 8u, 9u, 16u, 17u, 64u, 2042u})
        messages.push_back(RandomBytes(random, length));
    messages.push_back("ABCDEFG\x80");  // ends the way PBOC padding starts
    for (MacType type : kMacTypes) {
        for (const std::string& key : kKeys) {
            for (const std::string& message : messages) {
                EXPECT_EQ(HostMac(type, key, message, kDes), ReferenceMac(type, key, message))
                    << MacTypeCode(type) << " key " << key.size() << " message " << message.size();
            }
        }
    }
}

TEST(HostData, MatchesOpenSslForEveryModeAndKeyLength) {
    // FIPS 81 ECB example: "Now is the time for all " under 0123456789ABCDEF, given in lower
    // case and answered in upper case.
    EXPECT_EQ(HostData(DataMode::kEcbEncrypt, kK1,
                       "4e6f77206973207468652074696d6520666f7220616c6c20", kDes),
              "3FA40E8A984D48156A271787AB8883F9893D51EC4B563B53");
    std::mt19937 random(5);
    std::vector<std::string> data;
    for (std::size_t blocks : {1u, 2u, 3u, 255u})
        data.push_back(Hex(RandomBytes(random, 8 * blocks)));
    for (const auto& [mode, reference] : kDataModes) {
        for (const std::string& key : kKeys) {
            for (const std::string& d : data) {
                EXPECT_EQ(HostData(mode, key, d, kDes), reference(key, d))
                    << DataModeCode(mode) << " key " << key.size() << " data " << d.size();
            }
        }
    }
}

// Test routines that stand in for a failing DES call.
int PINPAD_CALL WritesNothing(const char*, const char*, char*, int) { return PINPAD_OK; }
int PINPAD_CALL ReportsFailure(const char* data, const char* key, char* output, int direction) {
    PinPad_TriUntriDes(data, key, output, direction);
    return PINPAD_ERR_ARGUMENT;
}
int PINPAD_CALL WritesNoHex(const char*, const char*, char* output, int) {
    std::strcpy(output, "0123456789ABCDEG");
    return PINPAD_OK;
}
// Single DES only: a call under a double or triple key writes nothing.
int PINPAD_CALL SingleDesOnly(const char* data, const char* key, char* output, int direction) {
    if (std::strlen(key) != 16) return PINPAD_OK;
    return PinPad_TriUntriDes(data, key, output, direction);
}

TEST(HostCrypto, RefusesWhatNoPadAnswers) {
    const std::string message = "message";
    const std::string block = "0011223344556677";
    const std::string dbl = kKeys[1];
    struct Case {
        const char* name;
        std::optional<std::string> result;
    };
    const Case cases[] = {
        {"empty key", HostMac(MacType::kX919, "", message, kDes)},
        {"key of 15", HostMac(MacType::kX919, kK1.substr(0, 15), message, kDes)},
        {"key of 17", HostMac(MacType::kX919, kK1 + "0", message, kDes)},
        {"key of 47", HostMac(MacType::kX919, kKeys[2].substr(0, 47), message, kDes)},
        {"key of 64", HostMac(MacType::kX919, dbl + dbl, message, kDes)},
        {"key not hex", HostMac(MacType::kX919, "0123456789ABCDEG", message, kDes)},
        {"masked key", HostMac(MacType::kX919, "****************", message, kDes)},
        {"empty message", HostMac(MacType::kX919, dbl, "", kDes)},
        {"message over the driver's limit",
         HostMac(MacType::kX919, dbl, std::string(kHostMacMessageMax + 1, 'a'), kDes)},
        {"unknown MAC type", HostMac(static_cast<MacType>(9), dbl, message, kDes)},
        {"MAC without routine", HostMac(MacType::kX919, dbl, message, nullptr)},
        {"MAC, routine writes nothing", HostMac(MacType::kX99, kK1, message, &WritesNothing)},
        {"MAC, routine reports failure", HostMac(MacType::kX99, kK1, message, &ReportsFailure)},
        {"MAC, routine writes no hex", HostMac(MacType::kX99, kK1, message, &WritesNoHex)},
        // The chain under K1 works; the last block under the whole key fails.
        {"X9.19, last step fails", HostMac(MacType::kX919, dbl, "nine byte", &SingleDesOnly)},
        {"data key of 15", HostData(DataMode::kEcbEncrypt, kK1.substr(0, 15), block, kDes)},
        {"data key not hex", HostData(DataMode::kEcbEncrypt, "G123456789ABCDEF", block, kDes)},
        {"empty data", HostData(DataMode::kEcbEncrypt, kK1, "", kDes)},
        {"data of 15", HostData(DataMode::kEcbEncrypt, kK1, block.substr(0, 15), kDes)},
        {"data of 17", HostData(DataMode::kCbcEncrypt, kK1, block + "0", kDes)},
        {"data not hex", HostData(DataMode::kEcbDecrypt, kK1, "001122334455667Z", kDes)},
        {"data over the driver's limit",
         HostData(DataMode::kEcbEncrypt, kK1, std::string(kHostDataHexMax + 16, '0'), kDes)},
        {"unknown data mode", HostData(static_cast<DataMode>(9), kK1, block, kDes)},
        {"data without routine", HostData(DataMode::kEcbEncrypt, kK1, block, nullptr)},
        {"data, routine writes nothing",
         HostData(DataMode::kCbcDecrypt, kK1, block, &WritesNothing)},
        {"data, routine writes no hex", HostData(DataMode::kEcbEncrypt, kK1, block, &WritesNoHex)},
        {"triple DES data, routine without it",
         HostData(DataMode::kEcbEncrypt, dbl, block, &SingleDesOnly)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, std::nullopt) << c.name;
    // X9.9 under a double key uses its left half alone, so single DES is all it needs.
    EXPECT_EQ(HostMac(MacType::kX99, dbl, "nine byte", &SingleDesOnly),
              HostMac(MacType::kX99, kK1, "nine byte", kDes));
    EXPECT_EQ(HostData(DataMode::kEcbEncrypt, kK1, std::string(kHostDataHexMax, '0'), kDes),
              RefEncrypt(kK1, std::string(kHostDataHexMax, '0')));
}

TEST(HostCrypto, WordsAndCodesOfTheToolAndThePad) {
    struct MacCase {
        const char* word;
        std::optional<MacType> type;
        char code;
    };
    const MacCase macCases[] = {
        {"pboc", MacType::kPboc, '1'},  {"X9.9", MacType::kX99, '2'},
        {"x9.19", MacType::kX919, '3'}, {"ISO16609", MacType::kIso16609, 'A'},
        {"x99", std::nullopt, '0'},     {"x9.9 ", std::nullopt, '4'},
        {"", std::nullopt, 'a'},        {"iso 16609", std::nullopt, 'B'},
    };
    for (const MacCase& c : macCases) {
        EXPECT_EQ(MacTypeFromWord(c.word), c.type) << c.word;
        EXPECT_EQ(MacTypeFromCode(c.code), c.type) << c.code;
        EXPECT_EQ(MacTypeCode(c.type.value_or(static_cast<MacType>(9))), c.type ? c.code : '\0');
    }

    struct DataCase {
        const char* word;
        bool encrypt;
        std::optional<DataMode> mode;
        char code;
    };
    const DataCase dataCases[] = {
        {"ecb", true, DataMode::kEcbEncrypt, '1'},  {"CBC", true, DataMode::kCbcEncrypt, '2'},
        {"Ecb", false, DataMode::kEcbDecrypt, 'A'}, {"cbc", false, DataMode::kCbcDecrypt, 'B'},
        {"ofb", true, std::nullopt, '3'},           {"", false, std::nullopt, 'a'},
        {"ecb ", true, std::nullopt, 'b'},          {"cb", false, std::nullopt, '0'},
    };
    for (const DataCase& c : dataCases) {
        EXPECT_EQ(DataModeFromWord(c.word, c.encrypt), c.mode) << c.word;
        EXPECT_EQ(DataModeFromCode(c.code), c.mode) << c.code;
        EXPECT_EQ(DataModeCode(c.mode.value_or(static_cast<DataMode>(9))), c.mode ? c.code : '\0');
    }
}

// What the simulated pad replies, asked with the codes above, is what the host computes.
TEST(HostCrypto, AgreesWithTheSimulatedPad) {
    padsim::PadSimulator pad(3);
    const char* const indexes[] = {"30", "31", "32"};
    for (int i = 0; i < 3; ++i) pad.SetKey(0x30 + i, {kKeys[i], "TAK"});
    std::mt19937 random(17);
    for (MacType type : kMacTypes) {
        for (int i = 0; i < 3; ++i) {
            // 1200 bytes travel as hex text in a frame announced "000".
            for (std::size_t length : {1u, 8u, 9u, 17u, 1200u}) {
                const std::string message = RandomBytes(random, length);
                const std::string header = indexes[i] + std::string(1, MacTypeCode(type));
                const auto reply = ParseReply(pad.Receive(
                    RequestFrame('8', header + (length > 995 ? Hex(message) : message))));
                ASSERT_EQ(reply.status, 'h') << header << " " << length;
                EXPECT_EQ(HostMac(type, kKeys[i], message, kDes), reply.data)
                    << header << " " << length;
            }
        }
    }
    for (const auto& [mode, unused] : kDataModes) {
        for (int i = 0; i < 3; ++i) {
            for (std::size_t blocks : {1u, 3u, 255u}) {
                const std::string data = Hex(RandomBytes(random, 8 * blocks));
                const std::string header = indexes[i] + std::string(1, DataModeCode(mode));
                const auto reply = ParseReply(pad.Receive(RequestFrame('9', header + data)));
                ASSERT_EQ(reply.status, 'i') << header << " " << blocks;
                EXPECT_EQ(HostData(mode, kKeys[i], data, kDes), reply.data)
                    << header << " " << blocks;
            }
        }
    }
}

}  // namespace
}  // namespace padlogic
