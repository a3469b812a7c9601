// Config.ini: the settings of section CONFIGS, read into and written from the controls.
#pragma once

#include <filesystem>
#include <string>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace lumora {

// The controls that hold the settings while the program runs, in the file's key order.
struct ControlesConfig {
    QLineEdit* edMsg1Lib = nullptr;
    QLineEdit* edMsg2Lib = nullptr;
    QLineEdit* edMsg1Blo = nullptr;
    QLineEdit* edMsg2Blo = nullptr;
    QLineEdit* edMsg1Aguardo = nullptr;
    QLineEdit* edMsg2Aguardo = nullptr;
    QLineEdit* edTempoGiro = nullptr;
    QLineEdit* edTempoRele = nullptr;
    QCheckBox* ckAutoInit = nullptr;
    QCheckBox* ckMinimizeInit = nullptr;
    QRadioButton* rbListaBranca = nullptr;
    QRadioButton* rbListaNegra = nullptr;
    // The address to listen on, a key of its own after the twelve (kEnderecoEscuta).
    QLineEdit* edEnderecoEscuta = nullptr;
};

inline const std::string kSecaoConfig = "CONFIGS";
// Empty or missing: every address of the computer. Written only when it has a value or was in
// the file already, so a file without it stays the twelve keys; never written while the field
// is read-only (the address came from the command line for this run only).
inline const std::string kEnderecoEscuta = "Endereco_Escuta";

// The hour at which a running receiver begins the next night's history file (0 to 23); read
// once at start-up, never written, so a file without it stays as it was.
inline const std::string kHoraCorte = "Hora_Corte_Historico";
// The cut hour of Config.ini; the default (kHoraCorteHistorico) when the file or the key is
// missing, and when the value is not a whole hour from 0 to 23 (then `erro` says so).
int LeHoraCorte(const std::filesystem::path& arquivo, std::string* erro = nullptr);

// The monitoring endpoint, "[ADDRESS:]PORT" (empty or missing: none), and whether its status
// page shows card numbers ("1"; anything else: not). Read once at start-up, never written.
inline const std::string kMonitorHttp = "Monitor_Http";
inline const std::string kMonitorComandas = "Monitor_Mostra_Comandas";
struct ConfigMonitor {
    std::string endereco;
    bool mostraComandas = false;
};
ConfigMonitor LeConfigMonitor(const std::filesystem::path& arquivo);

// The program folder of the other receiver of a standby pair (a share, or a copy that a timer
// keeps), whose history past nights and reports read as well: each night as one, each row
// once. A relative path is taken from `pastaPrograma`. Empty or missing: none. Read where it is
// used, never written.
inline const std::string kPastaParceira = "Pasta_Parceiro";
std::filesystem::path LePastaParceira(const std::filesystem::path& pastaPrograma);

// Reads the twelve keys in order, each into its control; a missing key, or a flag that is not
// wholly a number, gives the key's default (black-list mode for a file without mode keys). The
// white-list option is set before the black-list one. Returns false, touching nothing, when
// the file does not exist. A file that exists but cannot be read counts as holding no keys.
bool LeConfigIni(const std::filesystem::path& arquivo, const ControlesConfig& c);

// Writes the twelve keys in order from the controls as they stand, then the listen address: texts
// as typed (in quotes only where reading would otherwise change them), flags as "1" or "0". Other
// sections and keys of the file are kept. Raises EFileError.
void GravaConfigIni(const std::filesystem::path& arquivo, const ControlesConfig& c);

// Chooses an option (which clears the other of its pair) or clears only this one.
void DefineOpcao(QRadioButton* opcao, bool escolhida);

}  // namespace lumora
