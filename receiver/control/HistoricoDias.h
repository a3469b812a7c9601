// Past nights: the day files in Historicos/, read only, with filters, totals and CSV export.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"

namespace lumora {

// A history day file present in the program folder.
struct DiaArquivo {
    common::DateTime dia;  // midnight of the file's day
    std::filesystem::path arquivo;
};

// The day files of Historicos/, newest day first. Names that are not
// "Historico_<yyyymmdd>.xml" with a real date are left out. None when the folder is missing.
std::vector<DiaArquivo> DiasComHistorico(const std::filesystem::path& pastaPrograma);
// The days of both folders, each once: this PC's file where it has one, else the partner's.
std::vector<DiaArquivo> DiasComHistorico(const std::filesystem::path& pastaPrograma,
                                         const std::filesystem::path& pastaParceira);
std::filesystem::path ArquivoDoDia(const std::filesystem::path& pastaPrograma,
                                   common::DateTime dia);
// "2026-12-05" to that day; nothing for any other text.
std::optional<common::DateTime> LeDataIso(std::string_view texto);

// Terminal value of a row whose Terminal field is empty.
constexpr int32_t kSemTerminal = INT32_MIN;

// One row as the past-nights views keep it: a hundred thousand of them fit in a few MiB.
struct LinhaHistorico {
    int64_t ms = 0;  // DataHora, common::DateTime::Ms; 0 when the row has none
    int32_t terminal = kSemTerminal;
    uint16_t estado = 0;  // index into DiaHistorico::estados
    uint8_t tamanho = 0;  // bytes of `cracha` in use
    // The row's time cannot be trusted (missing, or far from its night: a terminal's wrong
    // clock): it keeps its place among its file's rows and counts in no hour.
    bool horaIncerta = false;
    std::array<char, 16> cracha{};
    std::string_view Cracha() const { return {cracha.data(), tamanho}; }
};
// The time of a row as the views show it: "dd/mm/yyyy hh:nn:ss", with " (?)" behind one that
// cannot be trusted, and nothing for none.
std::string TextoHora(const LinhaHistorico& l);

// A whole day's file, or a night, rows in time order (ties in file order).
struct DiaHistorico {
    std::filesystem::path arquivo;     // the night's own file (it may have none: then empty)
    std::vector<std::string> estados;  // the state texts seen, Windows-1252, first seen first
    std::vector<LinhaHistorico> linhas;
    const std::string& Estado(const LinhaHistorico& l) const { return estados[l.estado]; }
};

// Reads a day's file without ever writing to it or its folder, through the receiver's own
// history file parser (other producers' columns are ignored). A file the receiver is adding to
// may be caught half written: it is read again for up to about a second before it counts as
// damaged. Raises common::EFileError when it cannot be read, EDataPacketError when damaged.
DiaHistorico LeDiaHistorico(const std::filesystem::path& arquivo);

// Nights, not files. A night's rows are those whose time falls in it (from its cut hour to the
// next day's, NoiteDe), from whichever file holds them: a restart in the small hours before
// the receiver kept one file per night left a night in two files, a run of several days one
// file for several nights. A row whose time is missing or lies far from its file's night (more
// than kHorasAntes before its cut hour or kDiasDepois days after) cannot be trusted: it stays
// in its file's night, in its place among that file's rows, marked horaIncerta. The nights
// from `de` to `ate` (midnights) come to `noite` in order, each once it is whole, those with no
// row and no file of their own left out; only a few nights' rows are held at a time. A night's
// own file that cannot be read raises, as LeDiaHistorico does; a neighbour's is left out.
constexpr int kHorasAntes = 12;
constexpr int kDiasDepois = 3;
//
// With a partner folder (the program folder of the other receiver of a standby pair, or a copy
// of it): each night is this folder's and the partner's rows as one night, each row once
// (UneNoites). The partner's files are read as this folder's are, except that one that cannot
// be read leaves the partner out from there on (FalhaParceira says why) instead of failing:
// a share that is away must not cost this PC's own report.
// The same, a night at a time when asked for.
class TLeitorNoites {
  public:
    TLeitorNoites(const std::filesystem::path& pastaPrograma, common::DateTime de,
                  common::DateTime ate, int horaCorte,
                  const std::filesystem::path& pastaParceira = {});
    ~TLeitorNoites();
    // The next night and its day (midnight); false when none is left.
    bool Proxima(DiaHistorico& noite, common::DateTime& dia);
    // Why the partner's rows were left out; empty when they were not.
    const std::string& FalhaParceira() const;

  private:
    struct Estado;
    std::unique_ptr<Estado> e_;
};
void LeNoites(const std::filesystem::path& pastaPrograma, common::DateTime de, common::DateTime ate,
              int horaCorte,
              const std::function<void(DiaHistorico&& noite, common::DateTime dia)>& noite,
              const std::filesystem::path& pastaParceira = {},
              std::string* falhaParceira = nullptr);
// One night so; empty when it has no row (its file, when there is one, is named all the same).
DiaHistorico LeNoite(const std::filesystem::path& pastaPrograma, common::DateTime noite,
                     int horaCorte, const std::filesystem::path& pastaParceira = {},
                     std::string* falhaParceira = nullptr);
// One night from the rows of two PCs: in time order, a row of a time not to trust where it
// stood among its own PC's rows, and a row both hold (the same time to the millisecond,
// terminal, state and card: a copy of the same file, or of the same traffic) once. This PC's
// file names the night, else the partner's.
DiaHistorico UneNoites(DiaHistorico nossa, const DiaHistorico& parceira);

struct FiltroHistorico {
    std::string cracha;                 // part of the card number; empty: any
    std::optional<int32_t> terminal;    // kSemTerminal: rows without one
    std::optional<std::string> estado;  // exact state text
};
// Positions in `dia.linhas` of the rows that pass, in order.
std::vector<int> FiltraHistorico(const DiaHistorico& dia, const FiltroHistorico& filtro);

struct Contagem {
    int total = 0;
    int liberado = 0;
    int bloqueado = 0;
};
struct TotaisHistorico {
    Contagem geral;
    std::map<std::string, int> porEstado;  // byte order of the texts
    std::map<int32_t, Contagem> porTerminal;
    std::array<Contagem, 24> porHora{};
    Contagem horaIncerta;  // the rows whose time cannot be trusted: in no hour
    // The hour of the day's first row with a time to trust: a night's hours are listed from
    // there on, so that 23:00 comes before 00:00.
    int primeiraHora = 0;
    int Hora(int k) const { return (primeiraHora + k) % 24; }
};
TotaisHistorico Totaliza(const DiaHistorico& dia, const std::vector<int>& linhas);

// CSV for a spreadsheet on a Brazilian desktop: UTF-8 with a byte order mark (else it takes
// the bytes for another code page), ";" between fields (the "," is the decimal comma there),
// CRLF line ends, a header line, fields quoted when they hold ";", quotes or line breaks. A
// field that begins with "=", "+", "-", "@", a tab or a CR gets an apostrophe in front, so that
// no spreadsheet takes it for a formula.
std::string CampoCsv(std::string_view utf8);
// `cabecalho`: with the byte order mark and the header line (a range's later nights go without).
std::string CsvLinhas(const DiaHistorico& dia, const std::vector<int>& linhas,
                      bool cabecalho = true);
std::string CsvTotais(const TotaisHistorico& totais);

// The report of one day as printed by the command line, in UTF-8.
std::string TextoRelatorio(const DiaHistorico& dia, const TotaisHistorico& totais);
// Its totals per state, terminal and hour.
std::string CorpoRelatorio(const TotaisHistorico& totais);
// The report of a range of nights: a line per night, then the range's totals.
std::string TextoRelatorioNoites(common::DateTime de, common::DateTime ate,
                                 const std::vector<std::pair<common::DateTime, Contagem>>& noites,
                                 const TotaisHistorico& totais);
// Adds a night's totals to a range's.
void Acumula(TotaisHistorico& soma, const TotaisHistorico& totais);

// A card's story: every row of every night in the folder whose card holds `parte`, newest
// first, each with its night. Files that do not hold the text at all are not read.
struct Achado {
    common::DateTime noite;
    LinhaHistorico linha;
    std::string estado;
};
std::vector<Achado> BuscaComanda(const std::filesystem::path& pastaPrograma, std::string_view parte,
                                 int horaCorte, const std::filesystem::path& pastaParceira = {},
                                 std::string* falhaParceira = nullptr);
// Their rows as a day of the past-nights window, newest first.
DiaHistorico DiaDaBusca(const std::vector<Achado>& achados);
// The nights from `de` to `ate` as one day of rows, night after night.
DiaHistorico LeFaixaDeNoites(const std::filesystem::path& pastaPrograma, common::DateTime de,
                             common::DateTime ate, int horaCorte,
                             const std::filesystem::path& pastaParceira = {},
                             std::string* falhaParceira = nullptr);
// As printed by the command line (UTF-8), and as CSV with the night first.
std::string TextoBusca(std::string_view parte, const std::vector<Achado>& achados);
std::string CsvBusca(const std::vector<Achado>& achados);
// A terminal number as shown ("01"), empty for none.
std::string TextoTerminal(int32_t terminal);

}  // namespace lumora
