// The simulator's little script language: one step per line, run by the terminal-sim
// program against every terminal it plays.
#pragma once

#include <chrono>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TerminalMessages.h"

namespace termsim {

// card <number> [dd/mm/yy hh:nn:ss]   card read, stamped now unless a time is given
// turn [outcome]                      turnstile result; "G" turned, anything else did not
// release                             release request
// raw <text>                          any bytes; \r \n \t \\ and \xHH escapes
// wait <ms>                           show what arrives for that long
// expect <code> [ms]                  the next message not yet checked has that code
//                                     ($ or wake, 01, 02, 03, 20) and is well formed
// expect none [ms]                    nothing arrives for that long
// close | abort                       orderly close, or reset
struct Step {
    enum Kind { Card, Turn, Release, Raw, Wait, Expect, ExpectNone, Close, Abort } kind;
    std::string text;                             // card number, outcome, raw bytes, expected code
    std::optional<CardTime> at;                   // card: time fields given in the script
    std::optional<std::chrono::milliseconds> ms;  // wait, expect: given in the script
};

// Throws SimError naming what is wrong with the line.
Step ParseStep(std::string_view line);
// Blank lines and lines starting with "#" are skipped; errors name the line number.
std::vector<Step> ParseScript(std::istream& in);
std::string Unescape(std::string_view text);

}  // namespace termsim
