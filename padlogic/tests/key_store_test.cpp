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
        {"clear key with one part", KeyRecords().ClearKey("05", {key16, "", ""}, key16),
         "[KEY_MINWEN]\n05_1=" + key16 + "\n05_2=\n05_3=\n05_V=" + key16 + "\n",
         [&](const KeyStore& store) {
             EXPECT_EQ(store.ClearParts("05"), (std::array<std::string, 3>{key16, "", ""}));
             EXPECT_EQ(store.ClearValue("05"), key16);
             EXPECT_TRUE(store.HoldsKey("05"));
         }},
        {"part typed on the pad",
         KeyRecords().ClearPart("1F", 2, "1234").ClearValue("1F", "****************"),
         "[KEY_MINWEN]\n1F_2=1234\n1F_V=****************\n",
         [](const KeyStore& store) {
             EXPECT_EQ(store.ClearParts("1F"), (std::array<std::string, 3>{"", "1234", ""}));
             EXPECT_EQ(store.ClearValue("1F"), "****************");
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

}  // namespace
}  // namespace padlogic
