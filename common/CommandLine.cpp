// Reading our options out of argv before Qt sees it.
#include "common/CommandLine.h"

#include <string_view>

namespace common {

CommandLineOptions ReadCommandLine(int& argc, char** argv, bool acceptsProgramFolder) {
    CommandLineOptions o;
    constexpr std::string_view kFolder = "--program-folder";
    constexpr std::string_view kListen = "--listen-address";
    constexpr std::string_view kMonitor = "--monitor";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        // "--name VALUE" or "--name=VALUE"; nothing when the value is missing altogether.
        // The next word is the value unless it is an option itself: "--program-folder
        // --help" lacks its folder rather than naming one "--help".
        const auto valor = [&](std::string_view nome) -> std::optional<std::string_view> {
            if (a != nome) return a.substr(nome.size() + 1);
            if (i + 1 < argc && !std::string_view(argv[i + 1]).starts_with("--")) return argv[++i];
            return std::nullopt;
        };
        const auto duas = [&](bool jaDada, std::string_view nome) {
            if (jaDada && o.error.empty()) o.error = std::string(nome) + " is given twice";
        };
        // An option whose value may be empty; given twice or without one is an error.
        const auto texto = [&](std::string_view nome, std::optional<std::string>& destino,
                               const char* falta) {
            duas(destino.has_value(), nome);
            if (const auto v = valor(nome)) {
                destino = std::string(*v);
            } else {
                o.error = std::string(nome) + " needs " + falta;
            }
        };
        const auto eh = [&](std::string_view nome) {
            return a == nome || (a.starts_with(nome) && a[nome.size()] == '=');
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (acceptsProgramFolder && eh(kFolder)) {
            duas(o.programFolder.has_value(), kFolder);
            const auto pasta = valor(kFolder);
            if (!pasta || pasta->empty()) {
                o.error = "--program-folder needs a folder";
            } else {
                o.programFolder = std::string(*pasta);
            }
        } else if (acceptsProgramFolder && eh(kListen)) {
            // Empty is a value: every address, whatever Config.ini says.
            texto(kListen, o.listenAddress, "an address");
        } else if (acceptsProgramFolder && eh(kMonitor)) {
            // Empty is a value: no endpoint, whatever Config.ini says.
            texto(kMonitor, o.monitor, "[ADDRESS:]PORT");
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
