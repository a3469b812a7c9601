// Windows-1252 text: every text of the system is one byte per character, held in std::string.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace common {

// The Unicode code point of a Windows-1252 byte. Bytes 0x80 to 0x9F differ from Latin-1;
// the five unassigned ones map to the C1 control of the same number.
char32_t CodePointOf1252(unsigned char byte);

// The Windows-1252 byte for a code point, or nothing when the code page has none.
std::optional<unsigned char> ByteFor(char32_t codePoint);

// Windows-1252 bytes to UTF-8.
std::string Cp1252ToUtf8(const std::string& text);
// A JSON string, quotes included, of a UTF-8 text: quotes, backslashes and control characters
// escaped, and "<", ">" and "&" as well, so that nothing a terminal, a module or a file holds
// can read as markup wherever the JSON lands.
std::string JsonString(std::string_view utf8);

// UTF-8 to Windows-1252; characters the code page lacks become '?'.
// Returns nothing when the input is not well-formed UTF-8.
std::optional<std::string> Utf8ToCp1252(const std::string& utf8);

}  // namespace common
