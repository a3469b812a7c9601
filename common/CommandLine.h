// The options both programs answer on their command line, read before any window exists.
#pragma once

#include <optional>
#include <string>

namespace common {

struct CommandLineOptions {
    bool help = false;
    bool version = false;
    std::optional<std::string> programFolder;  // --program-folder DIR
    std::optional<std::string> listenAddress;  // --listen-address ADDR (may be empty: every one)
    std::optional<std::string> monitor;        // --monitor [ADDR:]PORT (may be empty: none)
    std::string error;                         // not empty: the line was not understood
};

// Takes our own options out of argv (argc shrinks accordingly) and leaves the rest, Qt's own
// single-dash options among them, for the application object. `--program-folder`,
// `--listen-address` and `--monitor` (the receiver's) are options only where `acceptsProgramFolder`
// says so; any other "--" word is an error, so that a mistyped option never starts a window that
// silently ignores it.
CommandLineOptions ReadCommandLine(int& argc, char** argv, bool acceptsProgramFolder);

}  // namespace common
