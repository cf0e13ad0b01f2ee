// The key store's records as the file holds them, and its reads bounded by their buffers, in a
// file of a temporary folder.
#include "key_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace padlogic {
namespace {

namespace fs = std::filesystem;

class KeyStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/key_store_testXXXXXX";
        m_dir = mkdtemp(pattern);
        m_store = KeyStore((m_dir / "KeyStock.txt").string());
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void WriteFile(const std::string& text) const {
        std::ofstream(m_store.path(), std::ios::binary) << text;
    }
    std::string ReadFile() const {
        std::ifstream in(m_store.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path m_dir;
    KeyStore m_store;
};

// Each kind of record, written into an empty store, gives these lines and reads back as written.
TEST_F(KeyStoreTest, RecordsGiveTheirSectionsAndKeys) {
    const std::string key16 = "0123456789ABCDEF", key32 = key16 + "FEDCBA9876543210";
    const std::string auth(32, 'C');
    struct Row {
        const char* name;
        KeyRecords records;
        std::string file;
        std::function<void(const KeyStore&)> readBack;
    };
    const Row rows[] = {
        {"clear key with one part", KeyRecords().ClearKey("05", {key16, "", ""}, key16, 0x30),
         "[KEY_MINWEN]\n05_1=" + key16 + "\n05_2=\n05_3=\n05_V=" + key16 + "\n05_C=30\n",
         [&](const KeyStore& store) {
             EXPECT_EQ(store.ClearParts("05"), (std::array<std::string, 3>{key16, "", ""}));
             EXPECT_EQ(store.ClearValue("05"), key16);
             EXPECT_EQ(store.ClearKeyValue("05"), key16);
             EXPECT_EQ(store.ClearCode("05"), 0x30);
             EXPECT_TRUE(store.HoldsKey("05"));
         }},
        {"part typed on the pad", KeyRecords().PadPart("1F", 2, "1234", 0x42),
         "[KEY_MINWEN]\n1F_2=1234\n1F_V=****************\n1F_C=42\n",
         [](const KeyStore& store) {
             EXPECT_EQ(store.ClearParts("1F"), (std::array<std::string, 3>{"", "1234", ""}));
             EXPECT_EQ(store.ClearValue("1F"), "****************");
             EXPECT_EQ(store.ClearKeyValue("1F"), "");
             EXPECT_EQ(store.ClearCode("1F"), 0x42);
             EXPECT_FALSE(store.HoldsKey("1F"));  // no first part
         }},
        {"key loaded in cipher text", KeyRecords().CipherKey("30", key32),
         "[KEY_ENCRYPT]\n30=" + key32 + "\n",
         [&](const KeyStore& store) {
             EXPECT_EQ(store.CipherKey("30"), key32);
             EXPECT_TRUE(store.HoldsKey("30"));
             EXPECT_EQ(store.ClearValue("30"), "");
         }},
        {"authorization data", KeyRecords().AuthData(auth), "[INIT_AUTH]\nAUTH=" + auth + "\n",
         [&](const KeyStore& store) { EXPECT_EQ(store.AuthData(), auth); }},
        {"PIN time-out", KeyRecords().PinTimeout(45), "[PINRENEW]\nTIMEOUT=45\n",
         [](const KeyStore& store) { EXPECT_EQ(store.PinTimeout(), 45); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(m_store.path());
        EXPECT_TRUE(m_store.Write(row.records).ok());
        EXPECT_EQ(ReadFile(), row.file);
        row.readBack(m_store);
    }
}

TEST_F(KeyStoreTest, ReadsMatchNamesInAnyCaseAndKeepToTheirBuffers) {
    // Nothing on record: empty texts and the default time-out, and no file is made.
    EXPECT_EQ(m_store.ClearParts("05"), (std::array<std::string, 3>{}));
    EXPECT_EQ(m_store.AuthData(), "");
    EXPECT_EQ(m_store.PinTimeout(), kDefaultPinTimeout);
    EXPECT_FALSE(m_store.HoldsKey("05"));
    EXPECT_FALSE(fs::exists(m_store.path()));

    const std::string longKey(60, 'A'), longAuth(120, 'B');
    WriteFile("[key_minwen]\n05_1=" + longKey + "\n05_v=V\n[Key_Encrypt]\n40=" + longKey +
              "\n=X\n[init_auth]\nauth=" + longAuth + "\n[pinrenew]\ntimeout=7\n");
    EXPECT_EQ(m_store.ClearPart("05", 1), std::string(kKeyValueBuffer - 1, 'A'));
    EXPECT_EQ(m_store.ClearValue("05"), "V");
    EXPECT_EQ(m_store.CipherKey("40"), std::string(kKeyValueBuffer - 1, 'A'));
    EXPECT_EQ(m_store.AuthData(), std::string(kAuthDataBuffer - 1, 'B'));
    EXPECT_EQ(m_store.PinTimeout(), 7);
    // An empty index names no key, not a key line without a name.
    EXPECT_EQ(m_store.CipherKey(""), "");
    EXPECT_FALSE(m_store.HoldsKey(""));
}

// What a pad sent is recorded as sent when the file can keep it; a value that would break its
// line is recorded empty instead, so that the value before it does not stay.
TEST_F(KeyStoreTest, UnkeepableValuesAreRecordedEmpty) {
    KeyRecords records = KeyRecords().PadPart("05", 1, "01\n[X]", 0x41).AuthData("AB");
    EXPECT_FALSE(records.EmptyUnkeepableValues());
    EXPECT_TRUE(m_store.Write(records).ok());
    EXPECT_EQ(ReadFile(),
              "[KEY_MINWEN]\n05_1=\n05_V=****************\n05_C=41\n[INIT_AUTH]\nAUTH=AB\n");
    for (const std::string& sent : {std::string("A\rB"), std::string("A\0B", 3)}) {
        records = KeyRecords().AuthData(sent);
        EXPECT_FALSE(records.EmptyUnkeepableValues());
        EXPECT_EQ(records.records().at(0).value, "");
    }
    records = KeyRecords().PadPart("05", 3, "0123456789ABCDEx", 0x43);
    EXPECT_TRUE(records.EmptyUnkeepableValues());
    EXPECT_EQ(records.records().at(0).value, "0123456789ABCDEx");
}

// Only a whole key serves as one: what the store holds otherwise, a pad's text included, reads as
// no key, and as no key on record unless it is the key mask or a part of a key's length.
TEST_F(KeyStoreTest, OnlyKeysServeAsKeys) {
    const std::string key32 = "0123456789abcdefFEDCBA9876543210";
    const struct {
        const char* name;
        std::string file;
        bool holds;
        std::string clearKey, cipherKey;
    } rows[] = {
        {"clear key", "[KEY_MINWEN]\n05_1=" + key32 + "\n05_V=" + key32 + "\n", true, key32, ""},
        {"interleaved parts of 8", "[KEY_MINWEN]\n05_1=01234567\n05_V=0123456789ABCDEF\n", true,
         "0123456789ABCDEF", ""},
        {"keys typed on the pad", "[KEY_MINWEN]\n05_1=****************\n05_V=****************\n",
         true, "", ""},
        {"part typed on the pad that is no hex",
         "[KEY_MINWEN]\n05_1=0123456789ABCDEx\n05_V=****************\n", false, "", ""},
        {"part of no part's length", "[KEY_MINWEN]\n05_1=0123456789\n05_V=0123456789\n", false, "",
         ""},
        {"cipher text typed", "[KEY_ENCRYPT]\n05=****************\n", true, "", ""},
        {"cipher-text key", "[KEY_ENCRYPT]\n05=" + key32 + "\n", true, "", key32},
        // A 49-byte read would cut these to a key's 48 characters.
        {"longer than a key",
         "[KEY_MINWEN]\n05_1=" + std::string(56, 'A') + "\n05_V=" + std::string(56, 'A') +
             "\n[KEY_ENCRYPT]\n05=" + std::string(56, 'B') + "\n",
         false, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(row.file);
        EXPECT_EQ(m_store.HoldsKey("05"), row.holds);
        EXPECT_EQ(m_store.ClearKeyValue("05"), row.clearKey);
        EXPECT_EQ(m_store.CipherKeyValue("05"), row.cipherKey);
    }
}

}  // namespace
}  // namespace padlogic
