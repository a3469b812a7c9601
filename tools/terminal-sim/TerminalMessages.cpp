#include "TerminalMessages.h"

#include <cstdio>
#include <ctime>

namespace termsim {

namespace {

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// A whole number written with exactly two digits, inside [low, high].
std::optional<int> TwoDigitField(std::string_view text, int low, int high) {
    if (text.size() != 2 || !AllDigits(text)) return std::nullopt;
    int value = (text[0] - '0') * 10 + (text[1] - '0');
    if (value < low || value > high) return std::nullopt;
    return value;
}

// Seconds as the receiver writes them: at least two digits, zero-padded.
std::optional<int> TimeValue(std::string_view text) {
    if (text.size() < 2 || text.size() > 9 || !AllDigits(text)) return std::nullopt;
    if (text.size() > 2 && text[0] == '0') return std::nullopt;  // padded beyond two digits
    int value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

std::string CheckClock(const std::vector<std::string>& f) {
    if (f.size() != 9) return "clock message has " + std::to_string(f.size()) + " fields, not 9";
    auto day = TwoDigitField(f[2], 1, 31);
    auto month = TwoDigitField(f[3], 1, 12);
    auto year = TwoDigitField(f[4], 0, 99);
    if (!day || !month || !year) return "clock date is not dd;mm;yy";
    if (*day > DaysInMonth(2000 + *year, *month)) return "clock date does not exist";
    if (!TwoDigitField(f[5], 0, 23) || !TwoDigitField(f[6], 0, 59) || !TwoDigitField(f[7], 0, 59))
        return "clock time is not hh;nn;ss";
    auto dow = TwoDigitField(f[8], 1, 7);
    if (!dow) return "day of week is not 01..07";
    if (*dow != DayOfWeek(2000 + *year, *month, *day))
        return "day of week " + f[8] + " does not match the date";
    return {};
}

std::string CheckLines(const std::string& l1, const std::string& l2) {
    if (l1.size() != kDisplayWidth || l2.size() != kDisplayWidth)
        return "display lines are " + std::to_string(l1.size()) + " and " +
               std::to_string(l2.size()) + " bytes, not 16";
    return {};
}

std::string CheckDisplayReply(ReplyKind kind, const std::vector<std::string>& f) {
    std::size_t want = kind == ReplyKind::Release ? 6 : 5;
    if (f.size() != want)
        return std::string(ReplyKindName(kind)) + " message has " + std::to_string(f.size()) +
               " fields, not " + std::to_string(want);
    std::size_t t = 2;
    if (kind == ReplyKind::Release) {
        if (f[2] != "S") return "release flag is '" + f[2] + "', not 'S'";
        t = 3;
    }
    if (!TimeValue(f[t])) return "time value '" + f[t] + "' is not two or more digits";
    return CheckLines(f[t + 1], f[t + 2]);
}

}  // namespace

CardTime CardTime::Now() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return CardTime{tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string BuildMessage(const std::vector<std::string>& fields) {
    std::string message;
    for (const auto& field : fields) {
        message += field;
        message += ';';
    }
    message += kCR;
    return message;
}

std::string BuildCardRead(std::string_view terminal, std::string_view card, const CardTime& at) {
    return BuildMessage({std::string(terminal), "09", "", std::string(card), "", TwoDigits(at.day),
                         TwoDigits(at.month), TwoDigits(at.year % 100), TwoDigits(at.hour),
                         TwoDigits(at.minute), TwoDigits(at.second)});
}

std::string BuildTurnstileResult(std::string_view terminal, std::string_view outcome) {
    return BuildMessage({std::string(terminal), "10", std::string(outcome), ""});
}

std::string BuildReleaseRequest(std::string_view terminal) {
    return BuildMessage({std::string(terminal), "21"});
}

std::optional<std::string> FrameSplitter::Next() {
    if (buffer_.empty()) return std::nullopt;
    if (buffer_.front() == '$') {
        buffer_.erase(0, 1);
        return std::string(kWake);
    }
    auto cr = buffer_.find(kCR);
    if (cr == std::string::npos) return std::nullopt;
    std::string frame = buffer_.substr(0, cr + 1);
    buffer_.erase(0, cr + 1);
    return frame;
}

std::vector<std::string> SplitFields(std::string_view frame) {
    if (!frame.empty() && frame.back() == kCR) frame.remove_suffix(1);
    std::vector<std::string> fields;
    while (!frame.empty()) {
        auto semi = frame.find(';');
        if (semi == std::string_view::npos) {
            fields.emplace_back(frame);
            break;
        }
        fields.emplace_back(frame.substr(0, semi));
        frame.remove_prefix(semi + 1);
    }
    return fields;
}

const char* ReplyKindName(ReplyKind kind) {
    switch (kind) {
        case ReplyKind::Wake:
            return "wake";
        case ReplyKind::Clock:
            return "clock";
        case ReplyKind::Release:
            return "release";
        case ReplyKind::Refusal:
            return "refusal";
        case ReplyKind::HandIn:
            return "hand-in";
        case ReplyKind::Other:
            break;
    }
    return "other";
}

std::string Reply::Code() const { return kind == ReplyKind::Wake ? "$" : Field(1); }

const std::string& Reply::Field(std::size_t index) const {
    static const std::string kEmpty;
    return index < fields.size() ? fields[index] : kEmpty;
}

Reply ParseReply(std::string_view frame) {
    Reply reply;
    if (frame == kWake) {
        reply.kind = ReplyKind::Wake;
        return reply;
    }
    reply.fields = SplitFields(frame);
    const std::string& code = reply.Field(1);
    if (code == "01")
        reply.kind = ReplyKind::Clock;
    else if (code == "02")
        reply.kind = ReplyKind::Release;
    else if (code == "03")
        reply.kind = ReplyKind::Refusal;
    else if (code == "20")
        reply.kind = ReplyKind::HandIn;

    if (frame.empty() || frame.back() != kCR) {
        reply.problem = "no CR at the end";
    } else if (frame.find('$') != std::string_view::npos) {
        reply.problem = "'$' inside a message";
    } else if (frame.size() < 2 || frame[frame.size() - 2] != ';') {
        reply.problem = "last field not followed by ';'";
    } else if (reply.kind == ReplyKind::Other) {
        reply.problem = "unknown code '" + code + "'";
    } else if (reply.kind == ReplyKind::Clock) {
        reply.problem = CheckClock(reply.fields);
    } else {
        reply.problem = CheckDisplayReply(reply.kind, reply.fields);
    }
    return reply;
}

std::optional<ClockMessage> ParseClock(const Reply& reply) {
    if (reply.kind != ReplyKind::Clock || !reply.WellFormed()) return std::nullopt;
    const auto& f = reply.fields;
    auto n = [&](int i) { return (f[i][0] - '0') * 10 + (f[i][1] - '0'); };
    return ClockMessage{f[0], n(2), n(3), n(4), n(5), n(6), n(7), n(8)};
}

std::optional<DisplayReply> ParseDisplayReply(const Reply& reply) {
    if (!reply.WellFormed()) return std::nullopt;
    if (reply.kind != ReplyKind::Release && reply.kind != ReplyKind::Refusal &&
        reply.kind != ReplyKind::HandIn)
        return std::nullopt;
    std::size_t t = reply.kind == ReplyKind::Release ? 3 : 2;
    const auto& f = reply.fields;
    return DisplayReply{f[0], *TimeValue(f[t]), f[t + 1], f[t + 2]};
}

int DayOfWeek(int year, int month, int day) {
    // Sakamoto's method: 0 = Sunday.
    static const int kOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) year -= 1;
    int dow = (year + year / 4 - year / 100 + year / 400 + kOffset[month - 1] + day) % 7;
    return dow + 1;
}

std::string Visible(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "<CR>";
        } else if (c == '\n') {
            out += "<LF>";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<x%02X>", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Describe(const Reply& reply) {
    std::string text = ReplyKindName(reply.kind);
    if (auto clock = ParseClock(reply)) {
        char when[64];
        std::snprintf(when, sizeof when, " %02d/%02d/%02d %02d:%02d:%02d day %02d", clock->day,
                      clock->month, clock->year, clock->hour, clock->minute, clock->second,
                      clock->dayOfWeek);
        text += " " + clock->equipment + when;
    } else if (auto shown = ParseDisplayReply(reply)) {
        text += " " + shown->terminal + " " + TwoDigits(shown->seconds) + "s |" + shown->line1 +
                "|" + shown->line2 + "|";
    }
    if (!reply.WellFormed()) text += " MALFORMED: " + reply.problem;
    return text;
}

}  // namespace termsim
