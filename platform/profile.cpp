#include "profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
namespace {

// Larger files are not settings files; reading stops there so a stray file cannot exhaust memory.
constexpr std::size_t kMaxFileSize = 1 << 20;

struct ProfileFile {
    std::vector<std::string> lines;  // without their line ends
    std::string lineEnd = "\n";      // "\r\n" when the file uses it
    bool endsWithNewline = true;
};

std::string_view Trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// The key of a "key=value" line, or nothing for comments, blanks and section lines.
std::optional<std::string_view> KeyOf(std::string_view line) {
    std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return std::nullopt;
    auto eq = trimmed.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Trim(trimmed.substr(0, eq));
}

std::string_view ValueOf(std::string_view line) { return Trim(line.substr(line.find('=') + 1)); }

// Reads the file; a missing file is an empty profile, an unreadable or oversized one fails.
std::optional<ProfileFile> Load(const char* path, bool* exists) {
    ProfileFile file;
    *exists = false;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        if (errno == ENOENT) return file;
        return std::nullopt;
    }
    *exists = true;
    std::string content;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (content.size() + got > kMaxFileSize) {
            std::fclose(f);
            return std::nullopt;
        }
        content.append(chunk, got);
    }
    std::fclose(f);

    if (content.find("\r\n") != std::string::npos) file.lineEnd = "\r\n";
    file.endsWithNewline = content.empty() || content.back() == '\n';
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        file.lines.push_back(std::move(line));
        start = end + 1;
    }
    return file;
}

struct Location {
    std::optional<std::size_t> sectionLine;  // the "[section]" line
    std::size_t sectionEnd = 0;              // one past the last key line of the section
    std::optional<std::size_t> keyLine;
};

Location Find(const ProfileFile& file, std::string_view section, std::string_view key) {
    Location where;
    bool inside = false;
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        if (auto name = SectionOf(file.lines[i])) {
            if (inside) break;  // the first section of that name is the one that counts
            inside = SameName(*name, section);
            if (inside) {
                where.sectionLine = i;
                where.sectionEnd = i + 1;
            }
            continue;
        }
        if (!inside) continue;
        if (auto k = KeyOf(file.lines[i])) {
            where.sectionEnd = i + 1;
            if (!where.keyLine && SameName(*k, key)) where.keyLine = i;
        }
    }
    return where;
}

std::optional<std::string> ReadValue(const char* section, const char* key, const char* path) {
    if (!section || !key || !path) return std::nullopt;
    bool exists = false;
    auto file = Load(path, &exists);
    if (!file) return std::nullopt;
    Location where = Find(*file, Trim(section), Trim(key));
    if (!where.keyLine) return std::nullopt;
    return std::string(ValueOf(file->lines[*where.keyLine]));
}

bool WriteAtomically(const char* path, const std::string& content, bool existed) {
    std::string target(path);
    std::string temp = target + ".tmpXXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());  // created with mode 0600
    if (fd < 0) return false;
    struct stat old {};
    if (existed && stat(path, &old) == 0) fchmod(fd, old.st_mode & 07777);

    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            unlink(name.data());
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0 || rename(name.data(), path) != 0) {
        unlink(name.data());
        return false;
    }
    return true;
}

}  // namespace

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path) {
    auto value = ReadValue(section, key, path);
    if (!value) return defaultValue;
    errno = 0;
    long number = std::strtol(value->c_str(), nullptr, 10);
    if (errno == ERANGE) return 0;
    return static_cast<int>(std::clamp<long>(number, INT32_MIN, INT32_MAX));
}

std::size_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, std::size_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    auto value = ReadValue(section, key, path);
    std::string_view text =
        value ? std::string_view(*value) : std::string_view(defaultValue ? defaultValue : "");
    std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* path) {
    if (!section || !key || !value || !path) return false;
    std::string_view sectionName = Trim(section);
    std::string_view keyName = Trim(key);
    if (sectionName.empty() || keyName.empty()) return false;

    bool existed = false;
    auto file = Load(path, &existed);
    if (!file) return false;
    std::string entry = std::string(keyName) + "=" + std::string(Trim(value));

    Location where = Find(*file, sectionName, keyName);
    if (where.keyLine) {
        file->lines[*where.keyLine] = entry;
    } else if (where.sectionLine) {
        file->lines.insert(file->lines.begin() + static_cast<long>(where.sectionEnd), entry);
    } else {
        std::string header(1, '[');
        header.append(sectionName).push_back(']');
        file->lines.push_back(std::move(header));
        file->lines.push_back(entry);
        file->endsWithNewline = true;
    }

    std::string content;
    for (std::size_t i = 0; i < file->lines.size(); ++i) {
        content += file->lines[i];
        if (i + 1 < file->lines.size() || file->endsWithNewline) content += file->lineEnd;
    }
    return WriteAtomically(path, content, existed);
}

}  // namespace platform
