// Profile (INI) files: sections and keys matched without regard to case, Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace common {

// The integer of a profile flag: decimal with an optional sign, or hexadecimal after "0x",
// "0X", "$", "x" or "X" (also after a sign); nothing unless the whole text is such a number
// within 32 bits (hexadecimal up to FFFFFFFF, which wraps to negative values).
std::optional<int32_t> ParseProfileInteger(const std::string& text);

// A profile file held in memory: read once, changed key by key, written back as a whole.
//
// Reading: a section is the lines after "[name]" up to the next header; a key line is
// "name=value". Names and values lose their surrounding blanks, a value loses one pair of
// enclosing quotes ('...' or "..."). The first section and the first key of a name win.
// Lines starting with ";" are comments. Lines before the first header belong to no section.
// Writing: an existing key's line is replaced in place, a missing key goes after the last
// line of its section, a missing section is added at the end of the file. Every other line
// is kept byte for byte, and so is the file's line end (LF, or CR LF when the file used it);
// stray CRs just before a line's LF count as part of that line end.
class ProfileFile {
  public:
    // Reads the file; a file that does not exist is an empty profile. Raises EFileError
    // "Cannot open file "<path>". <reason>" when it exists but cannot be read.
    explicit ProfileFile(std::filesystem::path path);

    const std::filesystem::path& Path() const { return path_; }
    bool Existed() const { return existed_; }

    bool SectionExists(const std::string& section) const;
    std::optional<std::string> Find(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    // The key's value read with ParseProfileInteger; `fallback` when the key is missing or
    // its value is not wholly a number.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t fallback) const;

    // Changes the copy in memory; a value is cut at its first line break, which the file
    // could not hold.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The file's text as Save writes it.
    std::string Text() const;
    // Replaces the file atomically and durably (ReplaceFileContents); raises EFileError.
    void Save() const;

  private:
    // Index of the header line of the first section with that name, or -1.
    int SectionLine(const std::string& section) const;
    // Index of the first key line with that name in the section starting after `header`, or -1.
    int KeyLine(int header, const std::string& key) const;
    int SectionEnd(int header) const;  // one past the section's last line

    std::filesystem::path path_;
    bool existed_ = false;
    std::vector<std::string> lines_;
    bool crlf_ = false;
    bool finalNewline_ = true;
};

// One-call forms for programs that read or write a single key.
std::string ReadProfileString(const std::filesystem::path& path, const std::string& section,
                              const std::string& key, const std::string& fallback);
int32_t ReadProfileInteger(const std::filesystem::path& path, const std::string& section,
                           const std::string& key, int32_t fallback);
void WriteProfileString(const std::filesystem::path& path, const std::string& section,
                        const std::string& key, const std::string& value);

}  // namespace common
