#include "Script.h"

#include <cstdio>
#include <cstdlib>

#include "TerminalSim.h"

namespace termsim {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Splits off the first word; `rest` keeps everything after the blanks that follow it.
std::string_view Word(std::string_view text, std::string_view& rest) {
    auto end = text.find_first_of(" \t");
    if (end == std::string_view::npos) {
        rest = {};
        return text;
    }
    rest = Trim(text.substr(end));
    return text.substr(0, end);
}

std::chrono::milliseconds Millis(std::string_view text, std::string_view line) {
    std::string digits(text);
    char* end = nullptr;
    long value = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || value < 0)
        throw SimError("'" + std::string(line) + "': '" + digits + "' is not milliseconds");
    return std::chrono::milliseconds(value);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == '\\')
            out += '\\';
        else if (c == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                 HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            throw SimError("unknown escape '\\" + std::string(1, c) + "' in '" + std::string(text) +
                           "'");
        }
    }
    return out;
}

Step ParseStep(std::string_view line) {
    std::string_view rest;
    std::string_view verb = Word(Trim(line), rest);
    auto bad = [&](const std::string& why) {
        return SimError("'" + std::string(Trim(line)) + "': " + why);
    };

    if (verb == "card") {
        std::string_view when;
        std::string_view card = Word(rest, when);
        if (card.empty()) throw bad("card needs a number");
        Step step{Step::Card, std::string(card), std::nullopt, std::nullopt};
        if (!when.empty()) {
            CardTime t;
            char tail = 0;
            if (std::sscanf(std::string(when).c_str(), "%d/%d/%d %d:%d:%d%c", &t.day, &t.month,
                            &t.year, &t.hour, &t.minute, &t.second, &tail) != 6)
                throw bad("card time is not dd/mm/yy hh:nn:ss");
            step.at = t;
        }
        return step;
    }
    if (verb == "turn") return Step{Step::Turn, std::string(rest), std::nullopt, std::nullopt};
    if (verb == "release" && rest.empty())
        return Step{Step::Release, {}, std::nullopt, std::nullopt};
    if (verb == "raw") {
        // The raw text runs to the end of the line, its own blanks included.
        auto start = line.find("raw") + 3;
        std::string_view text = line.substr(start);
        if (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        return Step{Step::Raw, Unescape(text), std::nullopt, std::nullopt};
    }
    if (verb == "wait") {
        if (rest.empty()) throw bad("wait needs milliseconds");
        return Step{Step::Wait, {}, std::nullopt, Millis(rest, line)};
    }
    if (verb == "expect") {
        std::string_view after;
        std::string code(Word(rest, after));
        if (code.empty()) throw bad("expect needs a code");
        if (code == "wake") code = "$";
        Step step{code == "none" ? Step::ExpectNone : Step::Expect, code, std::nullopt,
                  std::nullopt};
        if (!after.empty()) step.ms = Millis(after, line);
        return step;
    }
    if ((verb == "close" || verb == "abort") && rest.empty())
        return Step{verb == "close" ? Step::Close : Step::Abort, {}, std::nullopt, std::nullopt};
    throw bad("unknown step (card, turn, release, raw, wait, expect, close, abort)");
}

std::vector<Step> ParseScript(std::istream& in) {
    std::vector<Step> steps;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string_view text = Trim(line);
        if (text.empty() || text.front() == '#') continue;
        try {
            steps.push_back(ParseStep(line));
        } catch (const SimError& e) {
            throw SimError("line " + std::to_string(number) + ": " + e.what());
        }
    }
    return steps;
}

}  // namespace termsim
