// The receiver's table files in its program folder: loading at start-up, reloading the card
// list, saving the history, and writing back at close.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "common/DateTime.h"
#include "receiver/control/Motor.h"
#include "receiver/control/Tabelas.h"

namespace lumora {

// Hours before this (a whole hour, 0 to 23) belong to the night of the day before: a night
// from evening to morning keeps one history file, named after the evening's date, as the
// start-up date named it when the receiver was started each evening.
constexpr int kHoraCorteHistorico = 12;
// Midnight of the day that names the night `agora` belongs to.
common::DateTime NoiteDe(common::DateTime agora, int horaCorte = kHoraCorteHistorico);

class TArquivosReceptor : public IArquivosMotor {
  public:
    TArquivosReceptor(TabelasReceptor& tabelas, std::filesystem::path pastaPrograma);
    ~TArquivosReceptor() override;

    // Start-up: loads Equip.xml (or starts empty), Comandas.xml (or creates it empty), and
    // the history of the night `noite` (NoiteDe) in Historicos/, creating folder and file
    // when missing. Returns false when a file could not be taken up: that file has been
    // moved aside under a new name and the program is to end.
    bool Inicia(common::DateTime noite);
    // At the cut hour: the night's history is saved and synced, its rows leave memory, and
    // the history of `noite` is taken up as at start-up (an unreadable file of that night is
    // moved aside and the night starts empty). False when `noite` is the current one. Raises
    // when the old night cannot be saved (its rows stay, bound to its file) or the new file
    // cannot be written (the table is the new night's, and the next save tries again).
    bool ViraNoite(common::DateTime noite);
    // Midnight of the night whose history is open.
    common::DateTime Noite() const { return noite_; }

    // Re-reads Comandas.xml (before every card check and from the "Atualizar Lista" button).
    // A failure leaves the card list closed and raises.
    void RecarregaComandas() override;
    // Brings today's file up to the history table: the records added since the last save are
    // written in front of the file's closing tags and synced; after any other change (an edit,
    // a deletion, emptying, or a file changed by someone else) the file is rewritten whole.
    // Either way the file's bytes are those a whole-file save would write.
    void SalvaHistorico() override;

    // `aviso` is called on another thread when a background sync of the history failed; the
    // program then calls RefazHistorico on its own thread.
    void AoFalharSincronia(std::function<void()> aviso);
    // After a failed sync: the file is written whole (atomically, synced) at once, since the
    // disk may not hold the last additions. Raises when that fails too.
    void RefazHistorico();
    // The call that syncs the history's additions (fdatasync); for a test's failing one.
    void TrocaSincronia(std::function<int(int)> sincroniza);

    // Close: writes the card list back (unless the file on disk changed since it was last
    // loaded), then the history; both tables are closed. Raises on the first failure after
    // having tried both.
    void Fecha();
    // Writes Equip.xml when the equipment table changed since it was loaded; closes it.
    void FechaEquipamentos();

    // What the start-up repair of a damaged history did ("<file>": ...), for the start-up
    // line; empty when the history needed none.
    const std::string& ReparoHistorico() const;

    // Called when the gates are quiet (a timer): once the history file's times have settled
    // after our last addition, its bytes are compared with the table's now, instead of at
    // the first turnstile result after the quiet spell, which would wait for it (a whole
    // day's history is serialised and read for it).
    void ConfirmaHistoricoEmRepouso();

    // How often the card list file's bytes were read (diagnostics and tests).
    long LeiturasComandas() const { return leiturasComandas_; }
    // How often the history file's bytes were compared with the table's (the same).
    long ComparacoesHistorico() const { return comparacoesHistorico_; }
    // Whether the system's notices of writes tell that a recently written card list is still
    // as read (on a local file system); off, it is read and compared at every card read, as
    // on a network share. On by default; a test turns it off.
    void UsaAvisosDeEscrita(bool usa);

    const std::filesystem::path& ArquivoEquipamentos() const { return equip_; }
    const std::filesystem::path& ArquivoComandas() const { return comandas_; }
    const std::filesystem::path& ArquivoHistorico() const { return historico_; }

  private:
    struct Estado;
    void AbreHistorico(common::DateTime noite);
    void SalvaHistorico(bool fechando);
    void AcrescentaHistorico();
    // Whether the table and the history file are as at our last write: no edit or deletion
    // since, and the file's identity the one we left it with.
    bool HistoricoAindaNosso();
    // Whether the history file still holds what we last wrote. Its identity alone says so
    // once its times are old enough; before, only its bytes can, and they are compared when
    // the times have settled or `mesmoRecente` (at close).
    bool HistoricoComoEscrito(bool mesmoRecente);
    // After loading: whether the file holds exactly what a save would write.
    void ConfereHistorico();
    // Cuts a history file whose last addition was interrupted back to its complete records
    // and writes it whole. False when the file is damaged otherwise.
    bool ReparaHistorico();
    TabelasReceptor& tabelas_;
    std::filesystem::path pasta_;
    std::filesystem::path equip_;
    std::filesystem::path comandas_;
    std::filesystem::path historico_;
    common::DateTime noite_;
    std::unique_ptr<Estado> estado_;
    long leiturasComandas_ = 0;
    long comparacoesHistorico_ = 0;
};

}  // namespace lumora
