#include "profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/profile_testXXXXXX";
        dir_ = mkdtemp(templ);
        path_ = (dir_ / "settings.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string ReadFile() {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Read(const char* section, const char* key, std::size_t size = 100) {
        std::string buffer(size, '#');
        std::size_t n = platform::GetPrivateProfileString(section, key, "dflt", buffer.data(), size,
                                                          path_.c_str());
        EXPECT_EQ(buffer[n], '\0');
        return buffer.substr(0, n);
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(ProfileTest, ReadsMatchNamesWithoutCaseAndTrimBlanks) {
    WriteFile(
        "; comment\r\n[System]\r\n  Debug = 1 \r\nname=  two words  "
        "\r\n[PORTS]\r\nCOM1=/dev/pts/3\r\n");
    struct Row {
        const char* section;
        const char* key;
        const char* expected;
    } rows[] = {
        {"SYSTEM", "DEBUG", "1"},          {"system", "debug", "1"},
        {" SYSTEM ", "Name", "two words"}, {"ports", "com1", "/dev/pts/3"},
        {"PORTS", "COM2", "dflt"},         {"MISSING", "DEBUG", "dflt"},
        {"SYSTEM", "COM1", "dflt"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Read(row.section, row.key), row.expected) << row.section << "/" << row.key;
    }
    EXPECT_EQ(platform::GetPrivateProfileInt("SYSTEM", "DEBUG", 0, path_.c_str()), 1);
}

TEST_F(ProfileTest, IntegerReadTakesLeadingDigitsAndDefaultsOnlyWhenMissing) {
    WriteFile("[S]\na=42xyz\nb=abc\nc=-7\nd=\n");
    const char* p = path_.c_str();
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "a", 30, p), 42);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "b", 30, p), 0);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "c", 30, p), -7);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "d", 30, p), 0);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "e", 30, p), 30);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "a", 30, (dir_ / "none.ini").c_str()), 30);
}

TEST_F(ProfileTest, ReadIsBoundedByTheCallersBuffer) {
    WriteFile("[K]\nv=0123456789ABCDEF\n");
    EXPECT_EQ(Read("K", "v", 9), "01234567");
    EXPECT_EQ(Read("K", "v", 1), "");
    EXPECT_EQ(platform::GetPrivateProfileString("K", "v", "", nullptr, 10, path_.c_str()), 0u);
}

TEST_F(ProfileTest, FirstWriteCreatesAnOwnerOnlyFile) {
    ASSERT_TRUE(platform::WritePrivateProfileString("INIT_AUTH", "AUTH", "ABCD", path_.c_str()));
    EXPECT_EQ(ReadFile(), "[INIT_AUTH]\nAUTH=ABCD\n");
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ProfileTest, WritesKeepOtherLinesAndPlaceNewKeysAndSections) {
    WriteFile("; keep me\n[A]\nx=1\n\n[B]\ny=2\n");
    const char* p = path_.c_str();
    ASSERT_TRUE(platform::WritePrivateProfileString("a", "X", "9", p));  // replaces, keeps the name
    ASSERT_TRUE(
        platform::WritePrivateProfileString("A", "z", " 3 ", p));       // new key ends its section
    ASSERT_TRUE(platform::WritePrivateProfileString("C", "w", "", p));  // new section at the end
    EXPECT_EQ(ReadFile(), "; keep me\n[A]\nX=9\nz=3\n\n[B]\ny=2\n[C]\nw=\n");
    EXPECT_EQ(Read("C", "w"), "");
}

TEST_F(ProfileTest, WriteKeepsCrLfLineEndsAndTheFileMode) {
    WriteFile("[A]\r\nx=1\r\n");
    chmod(path_.c_str(), 0644);
    ASSERT_TRUE(platform::WritePrivateProfileString("A", "y", "2", path_.c_str()));
    EXPECT_EQ(ReadFile(), "[A]\r\nx=1\r\ny=2\r\n");
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // No temporary file is left beside it.
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir_)) entries += e.is_regular_file();
    EXPECT_EQ(entries, 1);
}

TEST_F(ProfileTest, WriteFailsWhereTheFolderIsMissing) {
    std::string missing = (dir_ / "no" / "file.ini").string();
    EXPECT_FALSE(platform::WritePrivateProfileString("A", "b", "c", missing.c_str()));
    EXPECT_FALSE(platform::WritePrivateProfileString("A", "", "c", path_.c_str()));
}

}  // namespace
