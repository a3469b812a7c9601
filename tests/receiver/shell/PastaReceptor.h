// What the end-to-end tests of the real receiver share: a venue's files written by the
// receiver's own file code, and a terminal that connects as soon as the program listens.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TerminalSim.h"
#include "common/DateTime.h"
#include "receiver/control/ArquivosReceptor.h"

namespace lumora::teste {

// A program folder with one card on the list and equipment "01" at 127.0.0.5, or the
// equipment given (the folder is made if missing). Returns the night's history file the
// receiver will write there.
inline std::filesystem::path SemeiaPasta(
    const std::filesystem::path& pasta, const std::string& cartao,
    const std::vector<std::pair<std::string, std::string>>& equipamentos = {{"01", "127.0.0.5"}}) {
    std::filesystem::create_directories(pasta);
    TabelasReceptor t;
    TArquivosReceptor arquivos(t, pasta);
    if (!arquivos.Inicia(NoiteDe(common::Now()))) return {};
    t.cdsComandas.Insert();
    t.cdsComandas.SetString(campo::kNumComanda, cartao);
    t.cdsComandas.Post();
    for (const auto& [numero, ip] : equipamentos) {
        t.cdsEquipamentos.Insert();
        t.cdsEquipamentos.SetString(campo::kNumEquipamento, numero);
        t.cdsEquipamentos.SetString(campo::kIP, ip);
        t.cdsEquipamentos.Post();
    }
    arquivos.Fecha();
    arquivos.FechaEquipamentos();
    return arquivos.ArquivoHistorico();
}

// Connects `terminal` from `origem` to `destino` once the automatic start (about 2 s after
// start-up) has opened the port. Empty when connected, else why not, with what `diagnostico`
// adds (the program's own output, typically).
inline std::string ConectaQuandoAbrir(termsim::SimTerminal& terminal, uint16_t porta,
                                      const std::function<std::string()>& diagnostico,
                                      std::chrono::seconds limite = std::chrono::seconds(15),
                                      const std::string& destino = "127.0.0.1",
                                      const std::string& origem = "127.0.0.5") {
    const auto fim = std::chrono::steady_clock::now() + limite;
    for (;;) {
        try {
            terminal.Connect(destino, porta, origem, std::chrono::seconds(1));
            return {};
        } catch (const termsim::SimError& e) {
            if (std::chrono::steady_clock::now() > fim)
                return std::string(e.what()) + "; the program said:\n" + diagnostico();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

}  // namespace lumora::teste
