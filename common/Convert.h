// Conversions between texts and numbers with the programs' own rules and error texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace common {

// Decimal text to a 32-bit integer: leading blanks and one sign allowed, nothing after
// the digits. Raises EConvertError "'<text>' is not a valid integer value" otherwise.
int32_t StrToInt(const std::string& text);
std::optional<int32_t> TryStrToInt(const std::string& text);

// The text of an integer with at least `digits` digits, zero-padded after the sign:
// IntToStrMin(7, 2) is "07", IntToStrMin(-5, 2) is "-05", IntToStrMin(300, 2) is "300".
std::string IntToStrMin(int64_t value, int digits);

// Removes blanks and control characters (every byte up to 32) from both ends.
std::string Trim(const std::string& text);

// ASCII letters folded to lower case; every other byte as it is.
constexpr char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
// Equal texts when ASCII letters are compared without regard to case (names of fields,
// attributes and types in files).
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// The conversion error's text for a given input.
std::string InvalidIntegerText(const std::string& text);

}  // namespace common
