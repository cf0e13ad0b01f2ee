#include "profile_text.h"

#include <algorithm>
#include <cctype>

namespace platform {
namespace {

struct ProfileFile {
    std::vector<std::string> lines;  // without their line ends
    std::string lineEnd = "\n";      // "\r\n" when the file uses it
    bool endsWithNewline = true;
    bool byteOrderMark = false;
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

// The value of a key line, without one pair of double quotes around it.
std::string_view ValueOf(std::string_view line) {
    std::string_view value = Trim(line.substr(line.find('=') + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

// A leading UTF-8 byte-order mark, as Windows editors write it; kept on write.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

ProfileFile Parse(std::string_view content) {
    ProfileFile file;
    if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        file.byteOrderMark = true;
        content.remove_prefix(kByteOrderMark.size());
    }
    if (content.find("\r\n") != std::string_view::npos) file.lineEnd = "\r\n";
    file.endsWithNewline = content.empty() || content.back() == '\n';
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        std::string line(content.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        file.lines.push_back(std::move(line));
        start = end + 1;
    }
    return file;
}

std::string Serialize(const ProfileFile& file) {
    std::string content(file.byteOrderMark ? kByteOrderMark : std::string_view());
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        content += file.lines[i];
        if (i + 1 < file.lines.size() || file.endsWithNewline) content += file.lineEnd;
    }
    return content;
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

// Sets the entry's key in `file`: in place when the key exists, else at the end of its section,
// else in a new section at the end of the file.
void Set(ProfileFile& file, const ProfileEntry& entry) {
    const std::string_view section = Trim(entry.section);
    const std::string_view key = Trim(entry.key);
    std::string line(key);
    line.append("=").append(Trim(entry.value));
    const Location where = Find(file, section, key);
    if (where.keyLine) {
        file.lines[*where.keyLine] = std::move(line);
    } else if (where.sectionLine) {
        file.lines.insert(file.lines.begin() + static_cast<long>(where.sectionEnd),
                          std::move(line));
    } else {
        std::string header(1, '[');
        header.append(section).push_back(']');
        file.lines.push_back(std::move(header));
        file.lines.push_back(std::move(line));
        file.endsWithNewline = true;
    }
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key) {
    const ProfileFile file = Parse(content);
    const Location where = Find(file, Trim(section), Trim(key));
    if (!where.keyLine) return std::nullopt;
    return std::string(ValueOf(file.lines[*where.keyLine]));
}

std::string SetProfileEntries(std::string_view content, const std::vector<ProfileEntry>& entries) {
    ProfileFile file = Parse(content);
    for (const ProfileEntry& entry : entries) Set(file, entry);
    return Serialize(file);
}

}  // namespace platform
