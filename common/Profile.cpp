// Profile (INI) files: reading, changing and atomically rewriting sections and keys.
#include "common/Profile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/AtomicFile.h"
#include "common/Exception.h"

namespace common {
namespace {

// Windows-1252 case folding: ASCII letters and the accented letters of the code page.
unsigned char Fold(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    switch (c) {
        case 0x8A:
            return 0x9A;  // S caron
        case 0x8C:
            return 0x9C;  // OE
        case 0x8E:
            return 0x9E;  // Z caron
        case 0x9F:
            return 0xFF;  // Y diaeresis
        default:
            return c;
    }
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// The section name of a header line, or nothing when the line is not a header.
std::optional<std::string> HeaderName(const std::string& line) {
    const std::string t = TrimBlanks(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const size_t close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return TrimBlanks(t.substr(1, close - 1));
}

struct KeyValue {
    std::string key;
    std::string value;
};

std::optional<KeyValue> SplitKeyLine(const std::string& line) {
    const std::string t = TrimBlanks(line);
    if (t.empty() || t.front() == ';') return std::nullopt;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return KeyValue{TrimBlanks(t.substr(0, eq)), TrimBlanks(t.substr(eq + 1))};
}

std::string StripQuotes(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<int32_t> ParseProfileInteger(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        hex = true;
        i += 2;
    } else if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        i += 1;
    }
    if (i == text.size()) return std::nullopt;
    uint64_t value = 0;
    const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    for (; i < text.size(); ++i) {
        const int digit =
            hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > limit) return std::nullopt;
    }
    // Hexadecimal covers all 32 bits; the wrap to a negative value is intended ($FFFFFFFF = -1).
    const uint32_t bits = static_cast<uint32_t>(value);
    const uint32_t result = negative ? 0u - bits : bits;
    return static_cast<int32_t>(result);
}

ProfileFile::ProfileFile(std::filesystem::path path) : path_(std::move(path)) {
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) return;
    if (std::filesystem::is_directory(path_, ec)) {
        throw EFileError("Cannot open file \"" + path_.string() + "\". " + std::strerror(EISDIR));
    }
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        throw EFileError("Cannot open file \"" + path_.string() + "\". " + std::strerror(errno));
    }
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) {
        throw EFileError("Cannot open file \"" + path_.string() + "\". " + std::strerror(errno));
    }
    existed_ = true;
    const std::string text = all.str();
    if (text.empty()) return;
    size_t start = 0;
    bool firstLine = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool hasNewline = end != std::string::npos;
        if (!hasNewline) end = text.size();
        std::string line = text.substr(start, end - start);
        // Every CR before the LF belongs to the line's end. Keeping a stray one in the line
        // would not survive writing: "k=1" CR CR LF would read "1" CR now and "1" after a save.
        if (!line.empty() && line.back() == '\r') {
            while (!line.empty() && line.back() == '\r') line.pop_back();
            if (firstLine) crlf_ = true;
        }
        firstLine = false;
        lines_.push_back(std::move(line));
        finalNewline_ = hasNewline;
        start = end + 1;
    }
}

int ProfileFile::SectionLine(const std::string& section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = HeaderName(lines_[i]);
        if (name && SameName(*name, section)) return static_cast<int>(i);
    }
    return -1;
}

int ProfileFile::SectionEnd(int header) const {
    size_t i = static_cast<size_t>(header) + 1;
    while (i < lines_.size() && !HeaderName(lines_[i])) ++i;
    return static_cast<int>(i);
}

int ProfileFile::KeyLine(int header, const std::string& key) const {
    const int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i) {
        const auto kv = SplitKeyLine(lines_[i]);
        if (kv && SameName(kv->key, key)) return i;
    }
    return -1;
}

bool ProfileFile::SectionExists(const std::string& section) const {
    return SectionLine(section) >= 0;
}

std::optional<std::string> ProfileFile::Find(const std::string& section,
                                             const std::string& key) const {
    const int header = SectionLine(section);
    if (header < 0) return std::nullopt;
    const int line = KeyLine(header, key);
    if (line < 0) return std::nullopt;
    return StripQuotes(SplitKeyLine(lines_[line])->value);
}

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
    return Find(section, key).value_or(fallback);
}

int32_t ProfileFile::ReadInteger(const std::string& section, const std::string& key,
                                 int32_t fallback) const {
    const auto text = Find(section, key);
    if (!text) return fallback;
    return ParseProfileInteger(*text).value_or(fallback);
}

void ProfileFile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value) {
    const std::string line = key + "=" + value.substr(0, value.find_first_of("\r\n"));
    finalNewline_ = true;
    const int header = SectionLine(section);
    if (header < 0) {
        if (!lines_.empty() && !TrimBlanks(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
        return;
    }
    const int existing = KeyLine(header, key);
    if (existing >= 0) {
        lines_[existing] = line;
        return;
    }
    // After the section's last non-blank line, so the blank line before the next header stays.
    int at = SectionEnd(header);
    while (at > header + 1 && TrimBlanks(lines_[at - 1]).empty()) --at;
    lines_.insert(lines_.begin() + at, line);
}

std::string ProfileFile::Text() const {
    const char* eol = crlf_ ? "\r\n" : "\n";
    std::string out;
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i];
        if (i + 1 < lines_.size() || finalNewline_) out += eol;
    }
    return out;
}

void ProfileFile::Save() const { ReplaceFileContents(path_, Text()); }

std::string ReadProfileString(const std::filesystem::path& path, const std::string& section,
                              const std::string& key, const std::string& fallback) {
    return ProfileFile(path).ReadString(section, key, fallback);
}

int32_t ReadProfileInteger(const std::filesystem::path& path, const std::string& section,
                           const std::string& key, int32_t fallback) {
    return ProfileFile(path).ReadInteger(section, key, fallback);
}

void WriteProfileString(const std::filesystem::path& path, const std::string& section,
                        const std::string& key, const std::string& value) {
    ProfileFile file(path);
    file.WriteString(section, key, value);
    file.Save();
}

}  // namespace common
