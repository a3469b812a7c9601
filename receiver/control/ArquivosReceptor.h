// The receiver's table files in its program folder: loading at start-up, reloading the card
// list, saving the history, and writing back at close.
#pragma once

#include <filesystem>
#include <string>

#include "common/DateTime.h"
#include "receiver/control/Motor.h"
#include "receiver/control/Tabelas.h"

namespace lumora {

class TArquivosReceptor : public IArquivosMotor {
  public:
    TArquivosReceptor(TabelasReceptor& tabelas, std::filesystem::path pastaPrograma);
    ~TArquivosReceptor() override;

    // Start-up: loads Equip.xml (or starts empty), Comandas.xml (or creates it empty), and
    // today's history in Historicos/ (creating folder and file when missing). The history
    // file is named once, from `hoje`. Returns false when a file could not be taken up: that
    // file has been moved aside under a new name and the program is to end.
    bool Inicia(common::DateTime hoje);

    // Re-reads Comandas.xml (before every card check and from the "Atualizar Lista" button).
    // A failure leaves the card list closed and raises.
    void RecarregaComandas() override;
    // Writes the whole history to today's file.
    void SalvaHistorico() override;

    // Close: writes the card list back (unless the file on disk changed since it was last
    // loaded), then the history; both tables are closed. Raises on the first failure after
    // having tried both.
    void Fecha();
    // Writes Equip.xml when the equipment table changed since it was loaded; closes it.
    void FechaEquipamentos();

    const std::filesystem::path& ArquivoEquipamentos() const { return equip_; }
    const std::filesystem::path& ArquivoComandas() const { return comandas_; }
    const std::filesystem::path& ArquivoHistorico() const { return historico_; }

  private:
    struct Estado;
    TabelasReceptor& tabelas_;
    std::filesystem::path pasta_;
    std::filesystem::path equip_;
    std::filesystem::path comandas_;
    std::filesystem::path historico_;
    std::unique_ptr<Estado> estado_;
};

}  // namespace lumora
