#include "receiver/control/DataPacket.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "common/Convert.h"
#include "common/Text1252.h"

namespace lumora {
namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

bool IsSpace(unsigned char c) { return c >= 1 && c <= 32; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A name another reader takes as an attribute name without surprises. Field names outside it
// are written with the offending bytes replaced and the real name kept in "fieldname".
bool IsPlainName(std::string_view name) {
    if (name.empty()) return false;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 32 || std::strchr("\"'<>=/&!#$%()*?\\", ch) != nullptr) return false;
    }
    return true;
}

std::string PlainName(std::string_view name) {
    if (name.empty()) return "_";
    std::string out(name);
    for (char& ch : out) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 32 || std::strchr("\"'<>=/&!#$%()*?\\", ch) != nullptr) ch = '_';
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Writing values. Whole files are rewritten after every change, so these append to the one
// output string and make no strings of their own.

// The entity each byte is written as; empty for a byte written as it is.
constexpr std::array<std::string_view, 256> kEntities = [] {
    std::array<std::string_view, 256> e{};
    e['<'] = "&lt;";
    e['>'] = "&gt;";
    e['&'] = "&amp;";
    e['\''] = "&apos;";
    e['"'] = "&quot;";
    e['\r'] = "&#013;";
    e['\n'] = "&#010;";
    e['\t'] = "&#009;";
    e['\\'] = "&#092;";
    return e;
}();

// common::IntToStrMin, appended: the sign, then the digits filled on the left with zeros up to
// `digits` (at most 20).
void AppendIntMin(std::string& out, int64_t value, int digits) {
    const bool negative = value < 0;
    // Through unsigned so that the most negative value does not overflow.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char buffer[24];
    char* const end = buffer + sizeof buffer;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (end - p < digits) *--p = '0';
    if (negative) *--p = '-';
    out.append(p, static_cast<size_t>(end - p));
}

// yyyymmdd: depends on the day alone.
void AppendDate(std::string& out, common::DateTime value) {
    const auto p = value.Decode();
    AppendIntMin(out, p.year, 4);
    AppendIntMin(out, p.month, 2);
    AppendIntMin(out, p.day, 2);
}

// Thh:nn:sssss (seconds and milliseconds in one number); nothing at exactly midnight. A time
// of day always fills its digits, so it is put together in one piece.
void AppendTime(std::string& out, int64_t msOfDay) {
    if (msOfDay == 0) return;
    const auto hour = static_cast<int>(msOfDay / 3'600'000);
    const auto minute = static_cast<int>(msOfDay / 60'000 % 60);
    auto secondsMs = static_cast<int>(msOfDay % 60'000);
    char text[] = "Thh:nn:sssss";
    text[1] = static_cast<char>('0' + hour / 10);
    text[2] = static_cast<char>('0' + hour % 10);
    text[4] = static_cast<char>('0' + minute / 10);
    text[5] = static_cast<char>('0' + minute % 10);
    for (int i = 11; i >= 7; --i, secondsMs /= 10)
        text[i] = static_cast<char>('0' + secondsMs % 10);
    out.append(text, sizeof text - 1);
}

// ---------------------------------------------------------------------------------------------
// Scanner: cuts the document into start tags, end tags and text. Comments, processing
// instructions and declarations are passed over here. Never recurses.

struct RawAttribute {
    std::string_view name;
    std::string_view value;  // still escaped
};

enum class TokenKind { Start, End, Text, CData, Eof };

struct Token {
    TokenKind kind = TokenKind::Eof;
    std::string_view name;  // element name, or the text of Text and CData
    bool selfClosing = false;
};

[[noreturn]] void Refuse(const char* text) { throw EDataPacketError(text); }

class Scanner {
  public:
    explicit Scanner(std::string_view doc) : doc_(doc) {}

    // Attributes of the last start tag.
    const std::vector<RawAttribute>& Attributes() const { return attrs_; }

    Token Next() {
        Token t;
        for (;;) {
            if (pos_ >= doc_.size()) return t;  // Eof
            if (doc_[pos_] != '<') {
                const size_t lt = doc_.find('<', pos_);
                const size_t end = lt == std::string_view::npos ? doc_.size() : lt;
                t.kind = TokenKind::Text;
                t.name = doc_.substr(pos_, end - pos_);
                pos_ = end;
                return t;
            }
            const std::string_view rest = doc_.substr(pos_);
            if (rest.starts_with("<!--")) {
                SkipPast(4, "-->");
            } else if (rest.starts_with("<![CDATA[")) {
                const size_t end = doc_.find("]]>", pos_ + 9);
                if (end == std::string_view::npos) Refuse(kMismatchInDatapacket);
                t.kind = TokenKind::CData;
                t.name = doc_.substr(pos_ + 9, end - pos_ - 9);
                pos_ = end + 3;
                return t;
            } else if (rest.starts_with("<?")) {
                SkipPast(2, "?>");
            } else if (rest.starts_with("<!")) {
                SkipPast(2, ">");
            } else if (rest.starts_with("</")) {
                pos_ += 2;
                t.kind = TokenKind::End;
                t.name = ReadName();
                SkipSpace();
                if (pos_ >= doc_.size() || doc_[pos_] != '>') Refuse(kMismatchInDatapacket);
                ++pos_;
                return t;
            } else {
                ++pos_;
                t.kind = TokenKind::Start;
                t.name = ReadName();
                t.selfClosing = ReadAttributes('/');
                return t;
            }
        }
    }

    // Reads the attributes of an XML declaration whose "<?xml" starts at the current position;
    // false when it is not one we can read (it is then left for Next to pass over).
    bool ReadDeclaration() {
        const std::string_view rest = doc_.substr(pos_);
        if (!rest.starts_with("<?xml") || rest.size() < 6 ||
            !(IsSpace(static_cast<unsigned char>(rest[5])) || rest[5] == '?')) {
            return false;
        }
        const size_t saved = pos_;
        pos_ += 5;
        try {
            ReadAttributes('?');
            return true;
        } catch (const EDataPacketError&) {
            pos_ = saved;
            attrs_.clear();
            return false;
        }
    }

  private:
    void SkipPast(size_t skip, std::string_view terminator) {
        const size_t end = doc_.find(terminator, pos_ + skip);
        if (end == std::string_view::npos) Refuse(kMismatchInDatapacket);
        pos_ = end + terminator.size();
    }

    void SkipSpace() {
        while (pos_ < doc_.size() && IsSpace(static_cast<unsigned char>(doc_[pos_]))) ++pos_;
    }

    bool IsNameEnd(char c) const {
        return IsSpace(static_cast<unsigned char>(c)) || c == '>' || c == '/' || c == '=' ||
               c == '?';
    }

    std::string_view ReadName() {
        const size_t begin = pos_;
        while (pos_ < doc_.size() && !IsNameEnd(doc_[pos_])) ++pos_;
        if (pos_ == begin) Refuse(kMismatchInDatapacket);
        return doc_.substr(begin, pos_ - begin);
    }

    // Reads name="value" pairs up to ">" or closer + ">"; true when the tag ended with the
    // closer (an empty element, or the end of a declaration).
    bool ReadAttributes(char closer) {
        attrs_.clear();
        for (;;) {
            SkipSpace();
            if (pos_ >= doc_.size()) Refuse(kMismatchInDatapacket);
            const char c = doc_[pos_];
            if (c == '>' && closer == '/') {
                ++pos_;
                return false;
            }
            if (c == closer) {
                if (pos_ + 1 >= doc_.size() || doc_[pos_ + 1] != '>') {
                    Refuse(kMismatchInDatapacket);
                }
                pos_ += 2;
                return true;
            }
            RawAttribute a;
            a.name = ReadName();
            SkipSpace();
            if (pos_ >= doc_.size() || doc_[pos_] != '=') Refuse(kMismatchInDatapacket);
            ++pos_;
            SkipSpace();
            if (pos_ >= doc_.size() || (doc_[pos_] != '"' && doc_[pos_] != '\'')) {
                Refuse(kMismatchInDatapacket);
            }
            const char quote = doc_[pos_++];
            const size_t end = doc_.find(quote, pos_);
            if (end == std::string_view::npos) Refuse(kMismatchInDatapacket);
            a.value = doc_.substr(pos_, end - pos_);
            pos_ = end + 1;
            attrs_.push_back(a);
        }
    }

    std::string_view doc_;
    size_t pos_ = 0;
    std::vector<RawAttribute> attrs_;
};

const RawAttribute* FindRaw(const std::vector<RawAttribute>& attrs, std::string_view name) {
    for (const auto& a : attrs) {
        if (common::SameTextIgnoringCase(a.name, name)) return &a;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Reader: the packet's structure on top of the scanner.

class Reader {
  public:
    explicit Reader(std::string_view doc) : scan_(doc) {}

    DataPacket Read() {
        Token t = NextElement();
        bool root = false;
        if (IsStart(t, "DATAPACKET")) {
            if (t.selfClosing) Refuse(kMismatchInDatapacket);
            root = true;
            t = NextElement();
        }
        if (IsStart(t, "METADATA")) {
            if (t.selfClosing) Refuse(kMismatchInDatapacket);
            ReadMetadata();
            t = NextElement();
        }
        if (!IsStart(t, "ROWDATA")) Refuse(kMismatchInDatapacket);
        if (!t.selfClosing) ReadRows();
        if (root) {
            for (;;) {
                t = NextElement();
                if (t.kind == TokenKind::End && t.name == "DATAPACKET") break;
                SkipUnknown(t);
            }
        }
        // Whatever follows the packet is no concern of the reader.
        return std::move(packet_);
    }

  private:
    static bool IsStart(const Token& t, std::string_view name) {
        return t.kind == TokenKind::Start && t.name == name;
    }

    // The next start or end tag; text between elements is passed over.
    Token NextElement() {
        for (;;) {
            Token t = scan_.Next();
            if (t.kind != TokenKind::Text && t.kind != TokenKind::CData) return t;
        }
    }

    // An element the reader has no use for: passed over with all it holds. An end tag or the
    // end of the document in its place is a tag that closes nothing open.
    void SkipUnknown(const Token& t) {
        if (t.kind != TokenKind::Start) Refuse(kMismatchInDatapacket);
        if (!t.selfClosing) SkipContent(t.name);
    }

    // After the start tag `name`: passes over everything up to its matching end tag.
    void SkipContent(std::string_view name) {
        std::vector<std::string_view> open{name};
        while (!open.empty()) {
            const Token t = NextElement();
            if (t.kind == TokenKind::Start) {
                if (!t.selfClosing) open.push_back(t.name);
            } else if (t.kind == TokenKind::End && t.name == open.back()) {
                open.pop_back();
            } else {
                Refuse(kMismatchInDatapacket);
            }
        }
    }

    // The text an element holds, entities decoded; elements inside it are passed over.
    std::string ReadContent(std::string_view name) {
        std::string text;
        std::vector<std::string_view> open{name};
        while (!open.empty()) {
            const Token t = scan_.Next();
            switch (t.kind) {
                case TokenKind::Text:
                    if (open.size() == 1) text += UnescapeText(t.name);
                    break;
                case TokenKind::CData:
                    if (open.size() == 1) text += t.name;
                    break;
                case TokenKind::Start:
                    if (!t.selfClosing) open.push_back(t.name);
                    break;
                case TokenKind::End:
                    if (t.name != open.back()) Refuse(kMismatchInDatapacket);
                    open.pop_back();
                    break;
                case TokenKind::Eof:
                    Refuse(kMismatchInDatapacket);
            }
        }
        return text;
    }

    void ReadMetadata() {
        Token t = NextElement();
        if (!IsStart(t, "FIELDS")) Refuse(kMismatchInDatapacket);
        if (!t.selfClosing) ReadFields();
        for (;;) {
            t = NextElement();
            if (t.kind == TokenKind::End && t.name == "METADATA") break;
            if (IsStart(t, "PARAMS")) {
                for (const auto& a : scan_.Attributes()) {
                    packet_.params.push_back({std::string(a.name), UnescapeText(a.value)});
                }
                if (!t.selfClosing) ReadParamChildren();
            } else {
                SkipUnknown(t);
            }
        }
        fieldIndex_.reserve(packet_.fields.size());
        for (size_t i = 0; i < packet_.fields.size(); ++i) {
            fieldIndex_.emplace(packet_.fields[i].name, i);  // the first of a name wins
        }
    }

    void ReadFields() {
        for (;;) {
            const Token t = NextElement();
            if (t.kind == TokenKind::End && t.name == "FIELDS") return;
            if (IsStart(t, "FIELD")) {
                ReadField();
                if (!t.selfClosing) SkipContent(t.name);  // a nested packet's own fields
            } else {
                SkipUnknown(t);
            }
        }
    }

    void ReadField() {
        const auto& attrs = scan_.Attributes();
        const RawAttribute* name = FindRaw(attrs, "attrname");
        if (name == nullptr) name = FindRaw(attrs, "tagname");
        if (name == nullptr) Refuse(kMismatchInDatapacket);
        const RawAttribute* type = FindRaw(attrs, "fieldtype");
        if (type == nullptr) Refuse(kInvalidFieldType);
        const auto canonical = CanonicalFieldType(UnescapeText(type->value));
        if (!canonical) Refuse(kInvalidFieldType);
        // A nested packet's rows are not read; the field would be written back without them.
        if (*canonical == "nested") return;
        PacketField f;
        f.name = UnescapeText(name->value);
        f.type = std::string(*canonical);
        for (const auto& a : attrs) {
            if (common::SameTextIgnoringCase(a.name, "attrname") ||
                common::SameTextIgnoringCase(a.name, "tagname") ||
                common::SameTextIgnoringCase(a.name, "fieldtype")) {
                continue;
            }
            f.params.push_back({std::string(a.name), UnescapeText(a.value)});
        }
        packet_.fields.push_back(std::move(f));
    }

    void ReadParamChildren() {
        for (;;) {
            const Token t = NextElement();
            if (t.kind == TokenKind::End && t.name == "PARAMS") return;
            if (IsStart(t, "PARAM")) {
                const auto& attrs = scan_.Attributes();
                const RawAttribute* name = FindRaw(attrs, "Name");
                const RawAttribute* value = FindRaw(attrs, "Value");
                if (name != nullptr) {
                    packet_.params.push_back(
                        {UnescapeText(name->value), value ? UnescapeText(value->value) : ""});
                }
                if (!t.selfClosing) SkipContent(t.name);
            } else {
                SkipUnknown(t);
            }
        }
    }

    std::optional<size_t> FieldOf(std::string_view name) const {
        const auto it = fieldIndex_.find(name);
        if (it == fieldIndex_.end()) return std::nullopt;
        return it->second;
    }

    void ReadRows() {
        for (;;) {
            const Token t = NextElement();
            if (t.kind == TokenKind::End && t.name == "ROWDATA") return;
            if (t.kind != TokenKind::Start || !t.name.starts_with("ROW")) {
                Refuse(kMismatchInDatapacket);
            }
            PacketRow row;
            for (const auto& a : scan_.Attributes()) {
                if (const auto f = FieldOf(a.name)) {
                    row.values.emplace_back(*f, UnescapeText(a.value));
                } else if (common::SameTextIgnoringCase(a.name, "RowState")) {
                    row.rowState = DecodeInteger(UnescapeText(a.value)).value_or(0);
                }
            }
            if (!t.selfClosing) ReadRowChildren(t.name, row);
            // The first value given for a field is the one that counts.
            std::stable_sort(row.values.begin(), row.values.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            row.values.erase(
                std::unique(row.values.begin(), row.values.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                row.values.end());
            packet_.rows.push_back(std::move(row));
        }
    }

    // The element form: each value is a child element named after its field.
    void ReadRowChildren(std::string_view rowName, PacketRow& row) {
        for (;;) {
            const Token t = NextElement();
            if (t.kind == TokenKind::End && t.name == rowName) return;
            if (t.kind != TokenKind::Start) Refuse(kMismatchInDatapacket);
            const auto f = FieldOf(t.name);
            if (!f) {
                SkipUnknown(t);
                continue;
            }
            row.values.emplace_back(*f, t.selfClosing ? std::string() : ReadContent(t.name));
        }
    }

    Scanner scan_;
    DataPacket packet_;
    std::unordered_map<std::string_view, size_t> fieldIndex_;
};

// Reads a run of decimal digits as a number no larger than `limit`; nothing otherwise.
std::optional<size_t> ParseCount(std::string_view digits, size_t limit) {
    if (digits.empty() || digits.size() > 18) return std::nullopt;
    size_t v = 0;
    for (const char c : digits) {
        if (!IsDigit(c)) return std::nullopt;
        v = v * 10 + static_cast<size_t>(c - '0');
    }
    if (v > limit) return std::nullopt;
    return v;
}

int ReadDigits(std::string_view text, size_t& pos, size_t count) {
    int v = 0;
    for (size_t i = 0; i < count; ++i, ++pos) {
        if (pos >= text.size() || !IsDigit(text[pos])) return -1;
        v = v * 10 + (text[pos] - '0');
    }
    return v;
}

// hh:nn:sssss from pos to the end of the text, as milliseconds of the day.
std::optional<int64_t> ReadTime(std::string_view text, size_t pos) {
    const int hour = ReadDigits(text, pos, 2);
    if (hour < 0 || pos >= text.size() || text[pos++] != ':') return std::nullopt;
    const int minute = ReadDigits(text, pos, 2);
    if (minute < 0 || pos >= text.size() || text[pos++] != ':') return std::nullopt;
    const size_t digits = text.size() - pos;
    if (digits < 1 || digits > 5) return std::nullopt;
    int secondsMs = ReadDigits(text, pos, digits);
    if (secondsMs < 0) return std::nullopt;
    for (size_t i = digits; i < 5; ++i) secondsMs *= 10;
    const int second = secondsMs / 1000;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return (hour * 60LL + minute) * 60'000 + secondsMs;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

const std::string* FindAttribute(const PacketAttributes& attributes, std::string_view name) {
    for (const auto& a : attributes) {
        if (a.name == name) return &a.value;
    }
    return nullptr;
}

const std::string& PacketField::FieldName() const {
    const std::string* own = FindAttribute(params, "fieldname");
    return own != nullptr ? *own : name;
}

const std::string* PacketRow::Value(size_t field) const {
    const auto it = std::lower_bound(values.begin(), values.end(), field,
                                     [](const auto& v, size_t f) { return v.first < f; });
    return it != values.end() && it->first == field ? &it->second : nullptr;
}

void PacketRow::Set(size_t field, std::string value) {
    const auto it = std::lower_bound(values.begin(), values.end(), field,
                                     [](const auto& v, size_t f) { return v.first < f; });
    if (it != values.end() && it->first == field) {
        it->second = std::move(value);
    } else {
        values.emplace(it, field, std::move(value));
    }
}

std::optional<size_t> DataPacket::FieldIndex(std::string_view name) const {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name == name) return i;
    }
    return std::nullopt;
}

const std::vector<std::string_view>& KnownFieldTypes() {
    static const std::vector<std::string_view> kTypes = {
        "string",   "string.uni",  "i1",      "i2",     "i4",       "i8",       "ui1",  "ui2",
        "ui4",      "boolean",     "r8",      "r10",    "fixed",    "fixedFMT", "date", "time",
        "dateTime", "SQLdateTime", "bin.hex", "nested", "IntArray", "UIntArray"};
    return kTypes;
}

std::optional<std::string_view> CanonicalFieldType(std::string_view type) {
    for (const auto known : KnownFieldTypes()) {
        if (common::SameTextIgnoringCase(known, type)) return known;
    }
    return std::nullopt;
}

void AppendEscaped(std::string& out, std::string_view text) {
    // Runs of bytes that need no entity go out in one piece.
    const char* run = text.data();
    const char* const end = run + text.size();
    for (const char* p = run; p != end; ++p) {
        const std::string_view entity = kEntities[static_cast<unsigned char>(*p)];
        if (entity.empty()) continue;
        out.append(run, static_cast<size_t>(p - run));
        out += entity;
        run = p + 1;
    }
    out.append(run, static_cast<size_t>(end - run));
}

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

std::string UnescapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t amp = text.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, amp - i));
        i = amp;
        const std::string_view rest = text.substr(amp);
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"&amp;", '&'}, {"&apos;", '\''}, {"&gt;", '>'}, {"&lt;", '<'}, {"&quot;", '"'}};
        bool done = false;
        for (const auto& [entity, c] : kNamed) {
            if (rest.starts_with(entity)) {
                out += c;
                i += entity.size();
                done = true;
                break;
            }
        }
        if (!done && rest.starts_with("&#")) {
            const bool hex = rest.size() > 2 && (rest[2] == 'x' || rest[2] == 'X');
            size_t j = hex ? 3 : 2;
            const size_t first = j;
            uint32_t code = 0;
            for (; j < rest.size(); ++j) {
                const char c = rest[j];
                int digit;
                if (IsDigit(c))
                    digit = c - '0';
                else if (hex && common::LowerAscii(c) >= 'a' && common::LowerAscii(c) <= 'f')
                    digit = common::LowerAscii(c) - 'a' + 10;
                else
                    break;
                // Past anything a character can be, the number only needs to stay large.
                code = std::min<uint32_t>(code * (hex ? 16 : 10) + digit, 0x110000);
            }
            if (j > first && j < rest.size() && rest[j] == ';') {
                if (code <= 255) {
                    out += static_cast<char>(code);
                } else {
                    const auto byte = common::ByteFor(code);
                    out += byte ? static_cast<char>(*byte) : '?';
                }
                i += j + 1;
                done = true;
            }
        }
        if (!done) {
            out += '&';
            ++i;
        }
    }
    return out;
}

void AppendInteger(std::string& out, int64_t value) { AppendIntMin(out, value, 1); }

std::string EncodeInteger(int64_t value) {
    std::string out;
    AppendInteger(out, value);
    return out;
}

std::optional<int32_t> DecodeInteger(std::string_view text) {
    // A digit must come before any letter; blanks, signs and the like are passed over.
    bool digitFirst = false;
    for (const char c : text) {
        if (IsDigit(c)) {
            digitFirst = true;
            break;
        }
        if (IsLetter(c)) break;
    }
    if (!digitFirst) return std::nullopt;
    size_t i = 0;
    while (i < text.size() && IsSpace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const size_t first = i;
    int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (i == first) return std::nullopt;
    if (negative) value = -value;
    if (value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(value);
}

void AppendDateTime(std::string& out, common::DateTime value) {
    AppendDate(out, value);
    AppendTime(out, value.MsOfDay());
}

std::string EncodeDateTime(common::DateTime value) {
    std::string out;
    AppendDateTime(out, value);
    return out;
}

std::optional<common::DateTime> DecodeDateTime(std::string_view text) {
    size_t pos = 0;
    const int year = ReadDigits(text, pos, 4);
    const int month = year < 0 ? -1 : ReadDigits(text, pos, 2);
    const int day = month < 0 ? -1 : ReadDigits(text, pos, 2);
    if (day < 0 || month > 12 || day > 31) return std::nullopt;
    const auto date = common::DateTime::FromDate(year, month, day);
    if (!date) return std::nullopt;
    if (pos == text.size()) return date;
    if (text[pos] != 'T') return std::nullopt;
    const auto ms = ReadTime(text, pos + 1);
    if (!ms) return std::nullopt;
    return common::DateTime::FromMs(date->Ms() + *ms);
}

std::optional<common::DateTime> DecodeTimeOfDay(std::string_view text) {
    const auto ms = ReadTime(text, 0);
    if (!ms) return std::nullopt;
    return common::DateTime::FromMs(*ms);
}

DataPacketWriter::DataPacketWriter(const std::vector<PacketField>& fields,
                                   const PacketAttributes& params)
    : out_(kDeclaration), opener_(fields.size()) {
    out_ += "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";

    // The name each field's values go under in a row; a later field whose name is taken
    // already could not be told apart in a row and gets no values.
    std::vector<std::string> rowName(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        const PacketField& f = fields[i];
        rowName[i] = IsPlainName(f.name) ? f.name : PlainName(f.name);
        fieldNamedRowState_ =
            fieldNamedRowState_ || common::SameTextIgnoringCase(rowName[i], "RowState");
        out_ += "<FIELD attrname=\"";
        AppendEscaped(out_, rowName[i]);
        out_ += "\" fieldtype=\"";
        AppendEscaped(out_, f.type);
        out_ += '"';
        std::unordered_set<std::string_view> written;
        for (const auto& p : f.params) {
            if (!IsPlainName(p.name) || common::SameTextIgnoringCase(p.name, "attrname") ||
                common::SameTextIgnoringCase(p.name, "tagname") ||
                common::SameTextIgnoringCase(p.name, "fieldtype") ||
                !written.insert(p.name).second) {
                continue;
            }
            out_ += ' ';
            out_ += p.name;
            out_ += "=\"";
            AppendEscaped(out_, p.value);
            out_ += '"';
        }
        if (rowName[i] != f.name && !written.contains("fieldname")) {
            out_ += " fieldname=\"";
            AppendEscaped(out_, f.name);
            out_ += '"';
        }
        out_ += "/>";
    }
    std::unordered_set<std::string_view> taken;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (taken.insert(rowName[i]).second) opener_[i] = ' ' + rowName[i] + "=\"";
    }
    out_ += "</FIELDS><PARAMS";
    std::unordered_set<std::string_view> written;
    for (const auto& p : params) {
        if (!IsPlainName(p.name) || !written.insert(p.name).second) continue;
        out_ += ' ';
        out_ += p.name;
        out_ += "=\"";
        AppendEscaped(out_, p.value);
        out_ += '"';
    }
    out_ += "/></METADATA><ROWDATA>";
}

void DataPacketWriter::ReserveRows(size_t rows, size_t fields) {
    constexpr size_t kTypicalValue = 16;  // a card number; a date-time is 20, a terminal 1 or 2
    size_t row = std::string_view("<ROW/>").size();
    for (size_t i = 0; i < fields && i < opener_.size(); ++i) {
        if (!opener_[i].empty()) row += opener_[i].size() + kTypicalValue + 1;
    }
    out_.reserve(out_.size() + rows * row + std::string_view("</ROWDATA></DATAPACKET>").size());
}

void DataPacketWriter::BeginRow(int32_t rowState) {
    out_ += "<ROW";
    // A field of that name would take the status for its own value.
    if (rowState != 0 && !fieldNamedRowState_) {
        out_ += " RowState=\"";
        AppendInteger(out_, rowState);
        out_ += '"';
    }
}

bool DataPacketWriter::OpenValue(size_t field) {
    if (field >= opener_.size() || opener_[field].empty()) return false;
    out_ += opener_[field];
    return true;
}

void DataPacketWriter::TextValue(size_t field, std::string_view text) {
    if (!OpenValue(field)) return;
    AppendEscaped(out_, text);
    out_ += '"';
}

void DataPacketWriter::IntegerValue(size_t field, int64_t value) {
    if (!OpenValue(field)) return;
    AppendInteger(out_, value);
    out_ += '"';
}

void DataPacketWriter::DateTimeValue(size_t field, common::DateTime value) {
    if (!OpenValue(field)) return;
    const int64_t day = value.DayNumber();
    if (lastDate_.empty() || day != lastDay_) {
        lastDate_.clear();
        AppendDate(lastDate_, value);
        lastDay_ = day;
    }
    out_ += lastDate_;
    AppendTime(out_, value.MsOfDay());
    out_ += '"';
}

std::string DataPacketWriter::Finish() {
    out_ += kDataPacketTail;
    return std::move(out_);
}

std::string WriteDataPacket(const DataPacket& packet) {
    DataPacketWriter writer(packet.fields, packet.params);
    for (const auto& row : packet.rows) {
        writer.BeginRow(row.rowState);
        for (const auto& [field, value] : row.values) writer.TextValue(field, value);
        writer.EndRow();
    }
    return writer.Finish();
}

DataPacket ParseDataPacket(std::string_view bytes) {
    if (bytes.empty()) Refuse(kMissingDataPacket);
    if (bytes.size() >= 4 && bytes.substr(0, 4) == std::string_view("\x96\x19\xE0\xBD", 4)) {
        Refuse(kBinaryDataPacket);
    }
    bool utf8 = false;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        utf8 = true;
        bytes.remove_prefix(3);
    }
    while (!bytes.empty() && IsSpace(static_cast<unsigned char>(bytes.front()))) {
        bytes.remove_prefix(1);
    }
    if (bytes.empty() || bytes.front() != '<') Refuse(kMismatchInDatapacket);

    Scanner declaration(bytes);
    if (declaration.ReadDeclaration()) {
        for (const auto& a : declaration.Attributes()) {
            if (common::SameTextIgnoringCase(a.name, "encoding") &&
                common::SameTextIgnoringCase(a.value, "UTF-8"))
                utf8 = true;
        }
    }
    if (utf8) {
        if (auto text = common::Utf8ToCp1252(std::string(bytes))) {
            return Reader(*text).Read();
        }
    }
    return Reader(bytes).Read();
}

void MergeChangeLog(DataPacket& packet) {
    constexpr size_t kNone = static_cast<size_t>(-1);
    const size_t n = packet.rows.size();
    std::vector<size_t> before(n, kNone);  // the version this row replaces
    std::vector<size_t> after(n, kNone);   // the version that replaces this row

    std::string log;
    bool hasLog = false;
    for (const auto& p : packet.params) {
        if (p.name == "CHANGE_LOG" && !hasLog) {
            log = p.value;
            hasLog = true;
        }
    }
    std::erase_if(packet.params, [](const PacketAttribute& p) { return p.name == "CHANGE_LOG"; });

    bool clean = hasLog;
    if (clean) {
        std::vector<size_t> numbers;
        size_t i = 0;
        while (clean && i < log.size()) {
            if (IsSpace(static_cast<unsigned char>(log[i]))) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < log.size() && !IsSpace(static_cast<unsigned char>(log[j]))) ++j;
            // Row numbers must name rows; the status of a triple is not used.
            const bool rowNumber = numbers.size() % 3 != 2;
            const auto v = ParseCount(std::string_view(log).substr(i, j - i),
                                      rowNumber ? n : std::numeric_limits<size_t>::max());
            if (!v)
                clean = false;
            else
                numbers.push_back(*v);
            i = j;
        }
        if (numbers.size() % 3 != 0) clean = false;
        for (size_t k = 0; clean && k < numbers.size(); k += 3) {
            const size_t row = numbers[k];
            const size_t base = numbers[k + 1];
            if (row == 0)
                clean = false;
            else if (base == 0)
                continue;
            else if (base == row || after[base - 1] != kNone || before[row - 1] != kNone) {
                clean = false;
            } else {
                after[base - 1] = row - 1;
                before[row - 1] = base - 1;
            }
        }
    }
    // Every chain must start somewhere; a loop means the log cannot be trusted.
    std::vector<size_t> newest(n, kNone);
    if (clean) {
        size_t reached = 0;
        for (size_t r = 0; r < n; ++r) {
            if (before[r] != kNone) continue;
            size_t v = r;
            ++reached;
            while (after[v] != kNone) {
                v = after[v];
                ++reached;
            }
            newest[r] = v;
        }
        clean = reached == n;
    }
    if (!clean) {
        std::fill(before.begin(), before.end(), kNone);
        for (size_t r = 0; r < n; ++r) newest[r] = r;
    }

    std::vector<PacketRow> rows;
    for (size_t r = 0; r < n; ++r) {
        if (before[r] != kNone) continue;
        PacketRow& shown = packet.rows[newest[r]];
        if (shown.rowState & (kRowDeleted | kRowOriginal)) continue;
        shown.rowState = 0;
        rows.push_back(std::move(shown));
    }
    packet.rows = std::move(rows);
}

DataPacket ReadDataPacket(std::string_view bytes) {
    DataPacket packet = ParseDataPacket(bytes);
    MergeChangeLog(packet);
    return packet;
}

}  // namespace lumora
