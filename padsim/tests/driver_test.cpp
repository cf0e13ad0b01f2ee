// Every PinPad_ export through the real driver code against the simulated pad on a pty; results
// recomputed here with OpenSSL's classic DES calls. Injected faults give the driver results
// that the frame protocol prescribes, within the read time-out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "padsim/pty_pad.h"
#include "pinpad.h"
#include "read_pad_bytes.h"
#include "reference_crypto.h"

namespace padsim::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kImk = "0123456789ABCDEFFEDCBA9876543210";
const std::string kWorking = "1C587F1C13924FEF4A5B3D2C1F0E8F9D";  // odd parity
const std::string kAuthKey = "00112233445566778899AABBCCDDEEFF";
const std::string kAccount = "123456789012";

class WorkDir {
public:
    WorkDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "padsim-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
        m_path = pattern;
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_path);
    }
    ~WorkDir() {
        std::error_code ignored;
        std::filesystem::current_path(m_previous, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::filesystem::path m_previous;
};

class Driver : public ::testing::Test {
protected:
    WorkDir dir;
    PtyPad pad{PadOptions{}};

    void SetUp() override {
        std::ofstream ini("sysconfig.ini");
        ini << "[SYSTEM]\nTIMEOUTLOGDIR=" << dir.path() << "\n[PORTS]\nCOM1=" << pad.DevicePath()
            << "\n";
        ini.close();
        const char none = 0, eight = 8, one = 1;
        ASSERT_EQ(PinPad_EnablePort("com1", 9600, &none, &eight, &one), 0);
    }
    void TearDown() override { PinPad_DisablePort(); }

    // The pad's keys, set through the driver: a double-length IMK at 00, and the working key
    // at `index` enciphered under it with the given tag digit.
    void LoadKeys(const char* index = "30", char tag = '3') {
        char code[128] = {};
        ASSERT_EQ(PinPad_DownloadKey(("0002" + kImk).c_str(), 36, code, 0), 0);
        ASSERT_EQ(std::string(code), RefVerifyCode(kImk));
        const std::string record = std::string("00") + index + tag + "2" +
                                   RefEncrypt(kImk, kWorking) + RefVerifyCode(kWorking);
        ASSERT_EQ(
            PinPad_DownloadEncryptKey(record.c_str(), static_cast<unsigned>(record.size()), code),
            0);
        ASSERT_EQ(std::string(code), RefVerifyCode(kWorking));
    }
    void Fault(const std::function<void(Faults&)>& set) {
        pad.With([&](PadSimulator& e) { set(e.faults()); });
    }
    static double SecondsSince(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }
};

TEST_F(Driver, InformationAreaKeyboardValuesAndControlCodes) {
    ASSERT_EQ(PinPad_SetCustInfo("customer 42", 11), 0);
    const std::string keys =
        "3132333435363738393A3B3C3D3E3F40"
        "41424344"
        "45464748";
    ASSERT_EQ(PinPad_SetKeyboardValue(keys.c_str(), 48), 0);
    char area[256] = {};
    ASSERT_EQ(PinPad_GetCustInfo(area), 0);
    EXPECT_STREQ(area, "customer 42");
    EXPECT_EQ(std::string(area + 50, 48), keys);
    EXPECT_EQ(std::string(area + 118, 8), "PADSIM01");
    EXPECT_EQ(std::string(area + 126, 6), "SIM731");
    EXPECT_EQ(std::string(area + 132, 3), "R4K");
    EXPECT_EQ(std::string(area + 135, 3), "110");
    EXPECT_EQ(std::string(area + 138, 4), "2612");
    EXPECT_EQ(std::string(area + 142, 4), "0001");
    EXPECT_EQ(PinPad_SetControlCode("220", 3), 0);
    EXPECT_EQ(pad.With([](PadSimulator& e) { return e.settings().pinTimeoutSeconds; }), 0x20);
    EXPECT_EQ(PinPad_SetControlCode("C30", 3), 0xEB);
    EXPECT_EQ(PinPad_SetKeyboardValue("313233", 6), 0xE8);
}

TEST_F(Driver, ClearTextKeypadDeliversEachKeyAsItsCharacter) {
    ASSERT_EQ(PinPad_SetControlCode("035", 3), 0);
    ASSERT_EQ(PinPad_SetControlCode("033", 3), 0);
    pad.PressKeys("123\r");
    EXPECT_EQ(padsim::test::ReadPadBytes(4), "123\r");
    ASSERT_EQ(PinPad_SetControlCode("032", 3), 0);
    EXPECT_EQ(pad.With([](PadSimulator& e) { return e.mode(); }), Mode::Idle);
}

TEST_F(Driver, KeyLoadsVerifyCodesAndErasure) {
    LoadKeys();
    char code[128] = {};
    const std::string parts = kImk + kWorking + kAuthKey;
    ASSERT_EQ(PinPad_DownloadKey(("0512" + parts).c_str(), 100, code, 0), 0);
    const std::string combined = XorHex(XorHex(kImk, kWorking), kAuthKey);
    EXPECT_EQ(std::string(code), RefVerifyCode(combined));
    EXPECT_EQ(pad.With([](PadSimulator& e) { return e.Key(5)->value; }), combined);

    ASSERT_EQ(PinPad_DownloadEncryptKey("003000", 6, code), 0);
    EXPECT_EQ(std::string(code), RefVerifyCode(kWorking));
    // The driver's own DES computes the same verify code as OpenSSL and the pad.
    char local[64] = {};
    PinPad_TriUntriDes("0000000000000000", kWorking.c_str(), local, 0);
    EXPECT_EQ(std::string(local).substr(0, 8), std::string(code));

    const std::string bad = "003032" + RefEncrypt(kImk, kWorking) + "00000000";
    EXPECT_EQ(PinPad_DownloadEncryptKey(bad.c_str(), static_cast<unsigned>(bad.size()), code),
              0xE7);
    const std::string even = "003132" + RefEncrypt(kImk, "00" + kWorking.substr(2));
    EXPECT_EQ(PinPad_DownloadEncryptKey(even.c_str(), static_cast<unsigned>(even.size()), code),
              0xE6);
    ASSERT_EQ(PinPad_DownloadEncryptKey("0030010000000000000000", 22, code), 0);
    EXPECT_EQ(PinPad_DownloadEncryptKey("003000", 6, code), 0xE5);
}

TEST_F(Driver, KeyPartTypedOnThePadIsEchoedAndStored) {
    char code[128] = {};
    ASSERT_EQ(PinPad_DownloadKey("07A2", 4, code, 0), 0);
    EXPECT_STREQ(code, "");
    pad.PressKeys("0123456789ABCDEF\r");
    EXPECT_EQ(padsim::test::ReadPadBytes(17), "0123456789ABCDEF\r");
    EXPECT_EQ(pad.With([](PadSimulator& e) { return e.Key(7)->value; }), "0123456789ABCDEF");
}

TEST_F(Driver, MutualAuthenticationWithTheDriversTripleDes) {
    LoadKeys();
    char out[256] = {};
    ASSERT_EQ(PinPad_InitAuthorization(kAuthKey.c_str(), 32, out), 0);
    EXPECT_EQ(std::string(out), kAuthKey);  // what the test program stores as the key
    char challenge[256] = {};
    ASSERT_EQ(PinPad_GetChallenge(challenge), 0);
    ASSERT_EQ(std::strlen(challenge), 32u);
    ASSERT_EQ(PinPad_BidirectionalAuthorization(kAuthKey.c_str(), 32, "30", challenge, out), 0);
    const std::string stepOne = RefEncrypt(kWorking, challenge);
    EXPECT_EQ(std::string(out), RefEncrypt(kWorking, RefEncrypt(kAuthKey, stepOne)));

    const std::string wrongKey = "FF" + kAuthKey.substr(2);
    for (int status : {0xEC, 0xEC, 0xED}) {
        ASSERT_EQ(PinPad_GetChallenge(challenge), 0);
        EXPECT_EQ(PinPad_BidirectionalAuthorization(wrongKey.c_str(), 32, "30", challenge, out),
                  status);
    }
}

TEST_F(Driver, PinBlocksDecipherToTheDigitsPressed) {
    LoadKeys();
    pad.SetScriptedKeys("4711\r");
    ASSERT_EQ(PinPad_EnablePin(("30 000" + kAccount).c_str(), 18), 0);
    EXPECT_EQ(padsim::test::ReadPadBytes(5), "****\r");
    char value[256] = {};
    ASSERT_EQ(PinPad_GetPinValue("", 0, 5, value), 0);
    ASSERT_EQ(std::strlen(value), 20u);
    EXPECT_EQ(std::string(value + 2, 2), "04");
    const std::string accountField = "0000" + ("0" + kAccount.substr(0, 11));
    EXPECT_EQ(XorHex(RefDecrypt(kWorking, value + 4), accountField), "044711FFFFFFFFFF");

    // Short form; key, type (IBM 3624) come with the read.
    pad.SetScriptedKeys("98765\r");
    ASSERT_EQ(PinPad_EnablePin("00500", 5), 0);
    EXPECT_EQ(padsim::test::ReadPadBytes(5), "*****");
    ASSERT_EQ(PinPad_GetPinValue("300", 3, 5, value), 0);
    EXPECT_EQ(RefDecrypt(kWorking, value + 4), "98765FFFFFFFFFFF");

    // Renew: the IBM 3624 offset of that PIN.
    const std::string validation = "0006502105278100", table = "0123456789012345";
    const std::string request = "30a" + validation + table;
    ASSERT_EQ(PinPad_GetPinValue(request.c_str(), 35, 30, value), 0);
    EXPECT_EQ(std::string(value + 4), RefIbm3624Offset(kWorking, validation, table, "98765"));
}

TEST_F(Driver, PinEntryEscapeAndPadTimeOutByte) {
    LoadKeys();
    ASSERT_EQ(PinPad_EnablePin("00000", 5), 0);
    pad.PressKeys("12\x1B");
    EXPECT_EQ(padsim::test::ReadPadBytes(3), "**\x1B");
    ASSERT_EQ(PinPad_SetControlCode("201", 3), 0);
    ASSERT_EQ(PinPad_EnablePin("00000", 5), 0);
    EXPECT_EQ(padsim::test::ReadPadBytes(1), "\x80");
    char value[256] = {};
    EXPECT_EQ(PinPad_GetPinValue("30 123456789012", 15, 5, value), 0xEE);
}

TEST_F(Driver, MacsOfShortAndHexExpandedInput) {
    LoadKeys("31", '5');
    std::string message = "Now is the time for all ";
    char mac[32] = {};
    std::string input = "313" + message;
    ASSERT_EQ(PinPad_MakeMac(input.c_str(), static_cast<unsigned>(input.size()), mac), 0);
    EXPECT_EQ(std::string(mac), RefRetailMac(kWorking, Hex(message)));
    input = "31A" + message;
    ASSERT_EQ(PinPad_MakeMac(input.c_str(), static_cast<unsigned>(input.size()), mac), 0);
    EXPECT_EQ(std::string(mac), RefCbcMac(kWorking, Hex(message)));
    input = "312" + message;
    ASSERT_EQ(PinPad_MakeMac(input.c_str(), static_cast<unsigned>(input.size()), mac), 0);
    EXPECT_EQ(std::string(mac), RefCbcMac(kWorking.substr(0, 16), Hex(message)));
    input = "311" + message;
    ASSERT_EQ(PinPad_MakeMac(input.c_str(), static_cast<unsigned>(input.size()), mac), 0);
    EXPECT_EQ(std::string(mac), RefRetailMac(kWorking, Hex(message) + "80"));
    // 999 bytes and more travel as hex text; bytes 00 and 03 inside are fine.
    message.clear();
    for (int i = 0; i < 1200; ++i) message += static_cast<char>(i % 251);
    input = "313" + message;
    ASSERT_EQ(PinPad_MakeMac(input.c_str(), static_cast<unsigned>(input.size()), mac), 0);
    EXPECT_EQ(std::string(mac), RefRetailMac(kWorking, Hex(message)));
}

TEST_F(Driver, DataEncryptionAndDecryption) {
    LoadKeys("40", '6');
    std::string data;
    for (int i = 0; i < 254; ++i) data += "0123456789ABCDEF";  // reply announced with "000"
    struct Case {
        char mode;
        std::string expected;
    };
    const Case cases[] = {{'1', RefEncrypt(kWorking, data)},
                          {'2', RefCbcEncrypt(kWorking, data)},
                          {'A', RefDecrypt(kWorking, data)},
                          {'B', RefCbcDecrypt(kWorking, data)}};
    for (const auto& c : cases) {
        static char out[4096];
        std::memset(out, 0, sizeof out);
        const std::string request = std::string("40") + c.mode + data;
        ASSERT_EQ(PinPad_EncryptData(request.c_str(), static_cast<unsigned>(request.size()), out),
                  0)
            << c.mode;
        EXPECT_EQ(std::string(out), c.expected) << c.mode;
    }
}

TEST_F(Driver, CardControlAndApdus) {
    char out[2048] = {};
    EXPECT_EQ(PinPad_IC_Access("100A40000023F00", out), 'C');
    ASSERT_EQ(PinPad_IC_Control("1881", out), 0);
    EXPECT_STREQ(out, PadSimulator::kAtr.data());
    ASSERT_EQ(PinPad_IC_Access("100A40000023F00", out), 0);
    EXPECT_STREQ(out, "6F0A84023F00A504880101009000");
    ASSERT_EQ(PinPad_IC_Access("10084000008", out), 0);
    EXPECT_EQ(std::strlen(out), 20u);
    EXPECT_STREQ(out + 16, "9000");
    ASSERT_EQ(PinPad_IC_Access("100B2010C00", out), 0);
    EXPECT_STREQ(out, "700E610C4F07F00000000310105001419000");
    ASSERT_EQ(PinPad_IC_Control("1883", out), 0);
    EXPECT_EQ(PinPad_IC_Control("1882", out), 'C');
    EXPECT_EQ(PinPad_IC_Control("2881", out), 'A');
}

TEST_F(Driver, DisplayRecords) {
    LoadKeys("40", '6');
    EXPECT_EQ(PinPad_DispInfoLcd("0Hello", 6), 0);
    EXPECT_EQ(pad.With([](PadSimulator& e) { return e.displayText(); }), "Hello");
    const std::string record = "@" + RefEncrypt(kWorking, Hex("SECRET TEXT     "));
    EXPECT_EQ(PinPad_DispInfoLcd(record.c_str(), static_cast<int>(record.size())), 0);
    EXPECT_EQ(pad.With([](PadSimulator& e) { return e.displayText(); }), "SECRET TEXT");
    EXPECT_EQ(PinPad_DispInfoLcd("3", 1), 0xEB);
}

TEST_F(Driver, NoiseWrongCheckForcedStatusAndLowBattery) {
    Fault([](Faults& f) { f.noise = "\xFF\x7Fjunk\x02\x03"; });
    char area[256] = {};
    ASSERT_EQ(PinPad_GetCustInfo(area), 0);
    EXPECT_EQ(std::string(area + 132, 3), "R4K");
    Fault([](Faults& f) { f.wrongCheck = true; });
    EXPECT_EQ(PinPad_GetCustInfo(area), -4);
    Fault([](Faults& f) {
        f = Faults{};
        f.forcedStatus['4'] = 0xE5;
    });
    EXPECT_EQ(PinPad_SetKeyboardValue(std::string(48, '3').c_str(), 48), 229);
    EXPECT_EQ(PinPad_SetControlCode("032", 3), 0);
    Fault([](Faults& f) {
        f = Faults{};
        f.lowBattery = true;
    });
    std::memset(area, 0, sizeof area);
    EXPECT_EQ(PinPad_GetCustInfo(area), 224);
    EXPECT_EQ(std::string(area + 126, 6), "SIM731");
    EXPECT_EQ(PinPad_DispInfoLcd("0low", 4), 224);
    EXPECT_EQ(PinPad_SetControlCode("032", 3), 0);
}

TEST_F(Driver, ReplyBeyondTheReceiveBufferIsRefusedWithoutOverrun) {
    LoadKeys("40", '6');
    Fault([](Faults& f) { f.oversizeData = 6000; });
    struct Guarded {
        char buffer[4096];
        char guard[64];
    };
    static Guarded g;
    std::memset(&g, 0x5A, sizeof g);
    const auto start = Clock::now();
    EXPECT_EQ(PinPad_GetCustInfo(g.buffer), -4);
    EXPECT_EQ(PinPad_EncryptData("4010123456789ABCDEF", 19, g.buffer), -4);
    EXPECT_LT(SecondsSince(start), 4.5);  // read to its end, not waited out
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&g), sizeof g), std::string(sizeof g, '\x5A'));
    // The rest of the long reply was taken off the line: the next command gets its own reply.
    Fault([](Faults& f) { f.oversizeData = 0; });
    ASSERT_EQ(PinPad_EncryptData("4010123456789ABCDEF", 19, g.buffer), 0);
    EXPECT_EQ(std::string(g.buffer), RefEncrypt(kWorking, "0123456789ABCDEF"));
}

TEST_F(Driver, DelayBelowTheTimeOutSucceeds) {
    Fault([](Faults& f) { f.delay = milliseconds(1500); });
    const auto start = Clock::now();
    EXPECT_EQ(PinPad_SetControlCode("032", 3), 0);
    EXPECT_GE(SecondsSince(start), 1.4);
}

// The Slow tests wait out the driver's 4 s read time-out; each runs as its own ctest entry.
TEST_F(Driver, SlowSilentPad) {
    Fault([](Faults& f) { f.silent = true; });
    const auto start = Clock::now();
    EXPECT_EQ(PinPad_SetControlCode("032", 3), -4);
    EXPECT_LT(SecondsSince(start), 5.0);
}

TEST_F(Driver, SlowSilentPadOnPinStart) {
    Fault([](Faults& f) { f.silent = true; });
    const auto start = Clock::now();
    EXPECT_EQ(PinPad_EnablePin("00600", 5), -4);
    EXPECT_LT(SecondsSince(start), 5.0);
}

TEST_F(Driver, SlowReplyBeyondTheTimeOut) {
    Fault([](Faults& f) { f.delay = milliseconds(5000); });
    const auto start = Clock::now();
    EXPECT_EQ(PinPad_SetControlCode("032", 3), -4);
    EXPECT_LT(SecondsSince(start), 5.0);
}

TEST_F(Driver, SlowReplyCutShort) {
    Fault([](Faults& f) { f.cutReplyAfter = 4; });
    const auto start = Clock::now();
    char area[256] = {};
    EXPECT_EQ(PinPad_GetCustInfo(area), -4);
    EXPECT_LT(SecondsSince(start), 5.0);
}

TEST_F(Driver, PadDisappearsInTheMiddleOfAnExchange) {
    Fault([](Faults& f) { f.disappearAfter = 3; });
    const auto start = Clock::now();
    char area[256] = {};
    EXPECT_NE(PinPad_GetCustInfo(area), 0);
    EXPECT_TRUE(pad.Disappeared());
    EXPECT_NE(PinPad_SetControlCode("032", 3), 0);
    unsigned char byte = 1;
    EXPECT_EQ(PinPad_ReadOneByte(&byte), -1);
    EXPECT_LT(SecondsSince(start), 11.0);
}

TEST_F(Driver, ScriptedKeysReplayEachTimeAnInputModeOpens) {
    pad.SetScriptedKeys("7\r");
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(PinPad_SetControlCode("033", 3), 0);
        EXPECT_EQ(padsim::test::ReadPadBytes(2), "7\r") << round;
        ASSERT_EQ(PinPad_SetControlCode("032", 3), 0);
    }
    pad.SetScriptedKeys("");
    ASSERT_EQ(PinPad_SetControlCode("033", 3), 0);
    EXPECT_TRUE(pad.WaitFor([](const PadSimulator& e) { return e.mode() == Mode::ClearKeypad; },
                            milliseconds(1000)));
    unsigned char byte = 0;
    EXPECT_EQ(PinPad_ReadOneByte(&byte), -1);
}

TEST_F(Driver, PadClosedDuringPinEntryEndsTheExchangeAtOnce) {
    LoadKeys();
    ASSERT_EQ(PinPad_EnablePin("00000", 5), 0);
    pad.PressKeys("1");
    EXPECT_EQ(padsim::test::ReadPadBytes(1), "*");
    pad.Disappear();
    const auto start = Clock::now();
    char value[256] = {};
    EXPECT_EQ(PinPad_GetPinValue("", 0, 5, value), -4);
    EXPECT_LT(SecondsSince(start), 1.0);
    // The key read still waits its second, so that a polling loop does not spin.
    unsigned char byte = 0;
    EXPECT_EQ(PinPad_ReadOneByte(&byte), -1);
    EXPECT_GE(SecondsSince(start), 1.0);
}

}  // namespace
}  // namespace padsim::test
