// Reading our options out of argv before Qt sees it.
#include "common/CommandLine.h"

#include <string_view>

namespace common {

CommandLineOptions ReadCommandLine(int& argc, char** argv, bool acceptsProgramFolder) {
    CommandLineOptions o;
    constexpr std::string_view kFolder = "--program-folder";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (acceptsProgramFolder &&
                   (a == kFolder || (a.starts_with(kFolder) && a[kFolder.size()] == '='))) {
            // "--program-folder DIR" or "--program-folder=DIR"
            const std::string_view valor =
                a == kFolder ? (i + 1 < argc ? argv[++i] : "") : a.substr(kFolder.size() + 1);
            if (valor.empty()) {
                o.error = "--program-folder needs a folder";
            } else {
                o.programFolder = std::string(valor);
            }
        } else if (a.substr(0, 2) == "--") {
            if (o.error.empty()) o.error = "unknown option " + std::string(a);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return o;
}

}  // namespace common
