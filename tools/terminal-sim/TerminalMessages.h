// What a turnstile terminal sends and how it reads the receiver's replies, written
// independently of the receiver's own code so that the two can check each other.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace termsim {

constexpr char kCR = '\r';
constexpr std::string_view kWake = "$";
constexpr std::size_t kDisplayWidth = 16;

// Date and time fields of a card read as the terminal's own clock has them.
struct CardTime {
    int day = 1, month = 1, year = 0;  // year: two digits
    int hour = 0, minute = 0, second = 0;
    static CardTime Now();  // local time
};

// Every field followed by ";", then CR.
std::string BuildMessage(const std::vector<std::string>& fields);
// "01;09;;0000000000001234;;25;12;24;14;31;05;\r"
std::string BuildCardRead(std::string_view terminal, std::string_view card, const CardTime& at);
// "01;10;G;;\r"; any outcome other than exactly "G" means the turnstile did not turn.
std::string BuildTurnstileResult(std::string_view terminal, std::string_view outcome);
// "01;21;\r"
std::string BuildReleaseRequest(std::string_view terminal);

// Cuts the receiver's byte stream into frames: the wake is the lone "$" with no CR, every
// other frame runs up to and including its CR. A frame never starts with "$" otherwise,
// so a "$" at the start of the buffer is always a wake.
class FrameSplitter {
  public:
    void Feed(std::string_view bytes) { buffer_.append(bytes); }
    std::optional<std::string> Next();
    // Bytes received that do not yet form a frame.
    const std::string& Pending() const { return buffer_; }

  private:
    std::string buffer_;
};

// Fields of one frame; the CR is dropped, and text after the last ";" (a framing fault on
// the sender's side) still counts as a final field.
std::vector<std::string> SplitFields(std::string_view frame);

enum class ReplyKind { Wake, Clock, Release, Refusal, HandIn, Other };
const char* ReplyKindName(ReplyKind kind);

// A frame classified by its code, and checked against the format: field count, the final
// ";" and CR, two-digit dates, time values, 16-byte display lines, the day of the week.
// `problem` is empty when the frame is well formed.
struct Reply {
    ReplyKind kind = ReplyKind::Other;
    std::vector<std::string> fields;
    std::string problem;

    bool WellFormed() const { return problem.empty(); }
    // "$" for the wake, else field 2.
    std::string Code() const;
    const std::string& Field(std::size_t index) const;  // 0-based; empty when missing
};
Reply ParseReply(std::string_view frame);

// Clock message: equipment; "01"; dd; mm; yy; hh; nn; ss; day of week (01 = Sunday).
struct ClockMessage {
    std::string equipment;
    int day, month, year, hour, minute, second, dayOfWeek;
};
std::optional<ClockMessage> ParseClock(const Reply& reply);

// Release (02): t; "02"; "S"; time; L1; L2.  Refusal (03): t; "03"; time; L1; L2.
// Hand-in (20): t; "20"; relay time; L1; L2.
struct DisplayReply {
    std::string terminal;
    int seconds;
    std::string line1, line2;
};
std::optional<DisplayReply> ParseDisplayReply(const Reply& reply);

// 1 = Sunday ... 7 = Saturday, for a full year.
int DayOfWeek(int year, int month, int day);

// The bytes with CR as "<CR>", LF as "<LF>" and any other control or non-ASCII byte as
// "<xHH>", so a log line shows exactly what went over the wire.
std::string Visible(std::string_view bytes);

// One line for a person: "clock 01 25/12/24 14:30:00 day 04", "refusal 07 05 |...|...|".
std::string Describe(const Reply& reply);

}  // namespace termsim
