#include "receiver/control/HistoricoDias.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "common/Text1252.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/control/DataPacket.h"
#include "receiver/control/LeitorHistorico.h"
#include "receiver/control/Tabelas.h"
#include "receiver/control/TableFile.h"

namespace lumora {
namespace {

constexpr std::string_view kPrefixo = "Historico_";
constexpr std::string_view kExtensao = ".xml";

bool SoDigitos(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Numero(std::string_view s) {
    int n = 0;
    for (char c : s) n = n * 10 + (c - '0');
    return n;
}

std::optional<common::DateTime> DiaDoNome(const std::string& nome) {
    if (nome.size() != kPrefixo.size() + 8 + kExtensao.size() || !nome.starts_with(kPrefixo) ||
        !nome.ends_with(kExtensao)) {
        return std::nullopt;
    }
    const std::string_view data = std::string_view(nome).substr(kPrefixo.size(), 8);
    if (!SoDigitos(data)) return std::nullopt;
    return common::DateTime::FromDate(Numero(data.substr(0, 4)), Numero(data.substr(4, 2)),
                                      Numero(data.substr(6, 2)));
}

DiaHistorico LeUmaVez(const std::filesystem::path& arquivo) {
    DiaHistorico dia;
    dia.arquivo = arquivo;
    std::map<std::string, uint16_t, std::less<>> indices;
    const auto Acrescenta = [&](const LinhaLida& lida) {
        LinhaHistorico l;
        if (lida.dataHora) l.ms = lida.dataHora->Ms();
        if (lida.terminal) l.terminal = *lida.terminal;
        l.tamanho = static_cast<uint8_t>(std::min(lida.cracha.size(), l.cracha.size()));
        std::copy_n(lida.cracha.data(), l.tamanho, l.cracha.data());
        auto it = indices.find(lida.estado);
        if (it == indices.end()) {
            it =
                indices.emplace(std::string(lida.estado), static_cast<uint16_t>(dia.estados.size()))
                    .first;
            dia.estados.emplace_back(lida.estado);
        }
        l.estado = it->second;
        dia.linhas.push_back(l);
    };
    // A row of the receiver's files is some 90 bytes: room for all at once, rather than the
    // vector's doublings, which at a million rows would cost as much again for a moment.
    std::error_code erro;
    const auto tamanho = std::filesystem::file_size(arquivo, erro);
    if (!erro) dia.linhas.reserve(static_cast<size_t>(tamanho / 90));
    if (!PercorreLinhasHistorico(arquivo, Acrescenta)) {
        // Another producer's file (UTF-8 text, a change log ...): the receiver's own reading,
        // which knows them all. Only the history table is loaded; it never gets a file bound
        // to it, so nothing can write back.
        dia.linhas.clear();
        dia.estados.clear();
        indices.clear();
        TabelasReceptor tabelas;
        common::MemTable& t = tabelas.cdsHistorico;
        DataPacket pacote;
        {
            const std::string bytes = ReadWholeFile(arquivo.string());
            try {
                pacote = ReadDataPacket(bytes);
            } catch (const EDataPacketError& e) {
                throw e.WithPrefix(t.Name());
            }
        }
        LoadTableFromPacket(t, std::move(pacote));
        const int n = t.EntryCount();
        for (int i = 0; i < n; ++i) {
            const common::FieldValue dataHora = t.EntryValue(i, campo::kDataHora);
            const common::FieldValue terminal = t.EntryValue(i, campo::kTerminal);
            const common::FieldValue cracha = t.EntryValue(i, campo::kCracha);
            const common::FieldValue estado = t.EntryValue(i, campo::kEstado);
            LinhaLida l;
            if (const auto* v = std::get_if<common::DateTime>(&dataHora)) l.dataHora = *v;
            if (const auto* v = std::get_if<int32_t>(&terminal)) l.terminal = *v;
            if (const auto* v = std::get_if<std::string>(&cracha)) l.cracha = *v;
            if (const auto* v = std::get_if<std::string>(&estado)) l.estado = *v;
            Acrescenta(l);
        }
    }
    dia.linhas.shrink_to_fit();
    return dia;
}

// A file's rows in file order. The receiver adds rows to its night's file in place, in front
// of its closing tags: a read that meets such an addition sees a document cut short, and the
// next read a whole one.
DiaHistorico LeEmOrdem(const std::filesystem::path& arquivo) {
    constexpr int kTentativas = 6;
    for (int tentativa = 1;; ++tentativa) {
        try {
            DiaHistorico dia = LeUmaVez(arquivo);
            // What the reading held goes back to the system rather than staying with the
            // process for as long as the window is open.
            malloc_trim(0);
            return dia;
        } catch (const EDataPacketError&) {
            if (tentativa == kTentativas) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

void OrdenaPorHora(DiaHistorico& dia) {
    std::stable_sort(dia.linhas.begin(), dia.linhas.end(),
                     [](const LinhaHistorico& a, const LinhaHistorico& b) { return a.ms < b.ms; });
}

void Conta(Contagem& c, const std::string& estado) {
    ++c.total;
    if (estado == estado::kLiberado) ++c.liberado;
    if (estado == estado::kBloqueado) ++c.bloqueado;
}

std::string Utf8(const std::string& bytes1252) { return common::Cp1252ToUtf8(bytes1252); }

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kFimLinha = "\r\n";

std::string LinhaTotais(const std::string& grupo, const std::string& item, const Contagem& c) {
    return CampoCsv(grupo) + ";" + CampoCsv(item) + ";" + std::to_string(c.total) + ";" +
           std::to_string(c.liberado) + ";" + std::to_string(c.bloqueado) + std::string(kFimLinha);
}

std::string Hora(int h) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d:00", h);
    return b;
}

}  // namespace

std::vector<DiaArquivo> DiasComHistorico(const std::filesystem::path& pastaPrograma) {
    std::vector<DiaArquivo> dias;
    std::error_code erro;
    std::filesystem::directory_iterator it(pastaPrograma / "Historicos", erro);
    if (erro) return dias;
    for (; it != std::filesystem::directory_iterator(); it.increment(erro)) {
        if (erro) break;
        if (!it->is_regular_file(erro)) continue;
        if (const auto dia = DiaDoNome(it->path().filename().string())) {
            dias.push_back({*dia, it->path()});
        }
    }
    std::sort(dias.begin(), dias.end(),
              [](const DiaArquivo& a, const DiaArquivo& b) { return a.dia > b.dia; });
    return dias;
}

std::vector<DiaArquivo> DiasComHistorico(const std::filesystem::path& pastaPrograma,
                                         const std::filesystem::path& pastaParceira) {
    std::vector<DiaArquivo> dias = DiasComHistorico(pastaPrograma);
    if (pastaParceira.empty()) return dias;
    for (DiaArquivo& d : DiasComHistorico(pastaParceira)) {
        if (std::none_of(dias.begin(), dias.end(),
                         [&](const DiaArquivo& n) { return n.dia == d.dia; }))
            dias.push_back(std::move(d));
    }
    std::stable_sort(dias.begin(), dias.end(),
                     [](const DiaArquivo& a, const DiaArquivo& b) { return a.dia > b.dia; });
    return dias;
}

std::filesystem::path ArquivoDoDia(const std::filesystem::path& pastaPrograma,
                                   common::DateTime dia) {
    return pastaPrograma / "Historicos" / ("Historico_" + dia.Format("yyyymmdd") + ".xml");
}

std::optional<common::DateTime> LeDataIso(std::string_view texto) {
    if (texto.size() != 10 || texto[4] != '-' || texto[7] != '-') return std::nullopt;
    const auto ano = texto.substr(0, 4), mes = texto.substr(5, 2), dia = texto.substr(8, 2);
    if (!SoDigitos(ano) || !SoDigitos(mes) || !SoDigitos(dia)) return std::nullopt;
    return common::DateTime::FromDate(Numero(ano), Numero(mes), Numero(dia));
}

DiaHistorico LeDiaHistorico(const std::filesystem::path& arquivo) {
    DiaHistorico dia = LeEmOrdem(arquivo);
    OrdenaPorHora(dia);
    return dia;
}

struct TLeitorNoites::Estado {
    struct Pendente {
        DiaHistorico dia;  // its rows with a time to trust
        // Those without, each with the last trusted time before it in its file: its place.
        std::vector<std::pair<int64_t, LinhaHistorico>> incertas;
        std::map<std::string, uint16_t, std::less<>> estados;

        uint16_t Estado(const std::string& texto) {
            auto e = estados.find(texto);
            if (e == estados.end()) {
                e = estados.emplace(texto, static_cast<uint16_t>(dia.estados.size())).first;
                dia.estados.push_back(texto);
            }
            return e->second;
        }
    };
    int64_t primeiro = 0, ultimo = 0;
    int horaCorte = 0;
    std::vector<DiaArquivo> arquivos;  // oldest first
    size_t proximo = 0;
    std::map<int64_t, Pendente> noites;
    std::deque<std::pair<DiaHistorico, common::DateTime>> prontas;
    // The partner's nights, read by a reader of its own, one night ahead of ours at most.
    std::unique_ptr<TLeitorNoites> parceiro;
    std::filesystem::path pastaParceira;
    std::string falhaParceira;
    bool temNossa = false, temDaParceira = false;
    DiaHistorico nossa, daParceira;
    common::DateTime diaNossa, diaDaParceira;

    bool ProximaPropria(DiaHistorico& noite, common::DateTime& dia) {
        while (prontas.empty() && proximo < arquivos.size()) Le(arquivos[proximo++]);
        if (prontas.empty()) Prontas(noites.end());
        if (prontas.empty()) return false;
        noite = std::move(prontas.front().first);
        dia = prontas.front().second;
        prontas.pop_front();
        return true;
    }

    // The nights before `fim`, whole, in time order, to the ready ones. The rows of a time
    // not to trust go in at their file neighbours' places.
    void Prontas(std::map<int64_t, Pendente>::iterator fim) {
        const auto PorHora = [](const LinhaHistorico& a, const LinhaHistorico& b) {
            return a.ms < b.ms;
        };
        for (auto it = noites.begin(); it != fim;) {
            Pendente& p = it->second;
            std::stable_sort(p.dia.linhas.begin(), p.dia.linhas.end(), PorHora);
            if (!p.incertas.empty()) {
                std::stable_sort(p.incertas.begin(), p.incertas.end(),
                                 [](const auto& a, const auto& b) { return a.first < b.first; });
                std::vector<LinhaHistorico> linhas;
                linhas.reserve(p.dia.linhas.size() + p.incertas.size());
                auto c = p.dia.linhas.begin();
                for (const auto& [chave, l] : p.incertas) {
                    for (; c != p.dia.linhas.end() && c->ms <= chave; ++c) linhas.push_back(*c);
                    linhas.push_back(l);
                }
                linhas.insert(linhas.end(), c, p.dia.linhas.end());
                p.dia.linhas = std::move(linhas);
            }
            prontas.emplace_back(std::move(p.dia),
                                 common::DateTime::FromMs(it->first * common::DateTime::kMsPerDay));
            it = noites.erase(it);
        }
    }

    void Le(const DiaArquivo& a) {
        constexpr int64_t kHora = 3'600'000;
        constexpr uint16_t kSaiu = UINT16_MAX;  // a row gone to another night or set apart
        const int64_t d = a.dia.DayNumber();
        // A night's own file that cannot be read fails it; a neighbour's is that night's to
        // report, and only a restart's few rows of this one could stand in it.
        const bool propria = d >= primeiro && d <= ultimo;
        if (propria) noites[d].dia.arquivo = a.arquivo;
        DiaHistorico lido;
        try {
            lido = LeEmOrdem(a.arquivo);
        } catch (const EDataPacketError& e) {
            if (propria) throw e.WithPrefix(a.arquivo.filename().string());
            return;
        } catch (const common::Exception&) {
            if (propria) throw;  // a file error names its file
            return;
        }
        // Usually every row of a file is its own night's and that night has none yet: they
        // stay where they are, and are not copied (a million rows are 32 MiB).
        Pendente* dela = propria ? &noites[d] : nullptr;
        const bool noLugar = dela && dela->dia.linhas.empty() && dela->dia.estados.empty();
        if (noLugar) {
            for (const std::string& e : lido.estados) dela->Estado(e);
        }
        const int64_t inicio = d * common::DateTime::kMsPerDay + horaCorte * kHora;
        int64_t vizinha = inicio;  // the last trusted time in file order
        for (LinhaHistorico& l : lido.linhas) {
            const bool confiavel = l.ms != 0 && l.ms >= inicio - kHorasAntes * kHora &&
                                   l.ms < inicio + kDiasDepois * common::DateTime::kMsPerDay;
            const int64_t noite =
                confiavel ? NoiteDe(common::DateTime::FromMs(l.ms), horaCorte).DayNumber() : d;
            if (confiavel) vizinha = l.ms;
            if (noite < primeiro || noite > ultimo) {
                l.estado = kSaiu;
                continue;
            }
            if (noLugar && noite == d && confiavel) continue;
            Pendente& p = noites[noite];
            LinhaHistorico copia = l;
            copia.horaIncerta = !confiavel;
            copia.estado = p.Estado(lido.Estado(l));
            if (confiavel) {
                p.dia.linhas.push_back(copia);
            } else {
                p.incertas.emplace_back(vizinha, copia);
            }
            l.estado = kSaiu;
        }
        if (noLugar) {
            std::erase_if(lido.linhas, [](const LinhaHistorico& l) { return l.estado == kSaiu; });
            dela->dia.linhas = std::move(lido.linhas);
        }
        // No later file holds rows of the nights before this file's.
        Prontas(noites.lower_bound(d));
    }
};

TLeitorNoites::TLeitorNoites(const std::filesystem::path& pastaPrograma, common::DateTime de,
                             common::DateTime ate, int horaCorte,
                             const std::filesystem::path& pastaParceira)
    : e_(std::make_unique<Estado>()) {
    if (!pastaParceira.empty()) {
        e_->pastaParceira = pastaParceira;
        e_->parceiro = std::make_unique<TLeitorNoites>(pastaParceira, de, ate, horaCorte);
    }
    e_->primeiro = de.DayNumber();
    e_->ultimo = ate.DayNumber();
    e_->horaCorte = horaCorte;
    // A night's rows stand in its own file, the next one (a restart in the small hours) or
    // the few before (a run of several days): those files, oldest first.
    e_->arquivos = DiasComHistorico(pastaPrograma);
    std::erase_if(e_->arquivos, [&](const DiaArquivo& d) {
        return d.dia.DayNumber() < e_->primeiro - kDiasDepois || d.dia.DayNumber() > e_->ultimo + 1;
    });
    std::reverse(e_->arquivos.begin(), e_->arquivos.end());
}

TLeitorNoites::~TLeitorNoites() = default;

bool TLeitorNoites::Proxima(DiaHistorico& noite, common::DateTime& dia) {
    Estado& e = *e_;
    if (!e.parceiro && !e.temDaParceira && !e.temNossa) return e.ProximaPropria(noite, dia);
    if (!e.temNossa) e.temNossa = e.ProximaPropria(e.nossa, e.diaNossa);
    if (!e.temDaParceira && e.parceiro) {
        try {
            e.temDaParceira = e.parceiro->Proxima(e.daParceira, e.diaDaParceira);
        } catch (const std::exception& x) {
            e.falhaParceira = e.pastaParceira.string() + ": " + x.what();
            e.temDaParceira = false;
        }
        if (!e.temDaParceira) e.parceiro.reset();
    }
    const bool nossaAntes = e.temNossa && (!e.temDaParceira || e.diaNossa <= e.diaDaParceira);
    const bool daParceiraAntes = e.temDaParceira && (!e.temNossa || e.diaDaParceira <= e.diaNossa);
    if (!nossaAntes && !daParceiraAntes) return false;
    if (nossaAntes && daParceiraAntes) {
        noite = UneNoites(std::move(e.nossa), e.daParceira);
    } else {
        noite = std::move(nossaAntes ? e.nossa : e.daParceira);
    }
    dia = nossaAntes ? e.diaNossa : e.diaDaParceira;
    if (nossaAntes) e.temNossa = false;
    if (daParceiraAntes) e.temDaParceira = false;
    return true;
}

const std::string& TLeitorNoites::FalhaParceira() const { return e_->falhaParceira; }

namespace {

// A row as both PCs would hold it, for finding the rows they both hold.
std::string ChaveLinha(const LinhaHistorico& l, const std::string& estado) {
    std::string k(reinterpret_cast<const char*>(&l.ms), sizeof l.ms);
    k.append(reinterpret_cast<const char*>(&l.terminal), sizeof l.terminal);
    k += l.horaIncerta ? '?' : '.';
    k += l.Cracha();
    k += '\0';
    k += estado;
    return k;
}

}  // namespace

DiaHistorico UneNoites(DiaHistorico nossa, const DiaHistorico& parceira) {
    if (nossa.arquivo.empty()) nossa.arquivo = parceira.arquivo;
    if (parceira.linhas.empty()) return nossa;
    // The partner's rows that this PC holds too are left out, as many times as it holds them.
    std::unordered_map<std::string, int> nossas;
    nossas.reserve(nossa.linhas.size());
    for (const LinhaHistorico& l : nossa.linhas) ++nossas[ChaveLinha(l, nossa.Estado(l))];
    std::vector<uint16_t> indice(parceira.estados.size());
    for (size_t k = 0; k < parceira.estados.size(); ++k) {
        const auto it = std::find(nossa.estados.begin(), nossa.estados.end(), parceira.estados[k]);
        indice[k] = static_cast<uint16_t>(it - nossa.estados.begin());
        if (it == nossa.estados.end()) nossa.estados.push_back(parceira.estados[k]);
    }
    std::vector<LinhaHistorico> dela;
    dela.reserve(parceira.linhas.size());
    for (const LinhaHistorico& l : parceira.linhas) {
        const auto achada = nossas.find(ChaveLinha(l, parceira.Estado(l)));
        if (achada != nossas.end() && achada->second > 0) {
            --achada->second;
            continue;
        }
        LinhaHistorico copia = l;
        copia.estado = indice[l.estado];
        dela.push_back(copia);
    }
    if (dela.empty()) return nossa;
    // Both in time order: a merge, in which a row of a time not to trust goes as soon as its
    // own PC's rows reach it.
    std::vector<LinhaHistorico> linhas;
    linhas.reserve(nossa.linhas.size() + dela.size());
    size_t i = 0, j = 0;
    const auto& a = nossa.linhas;
    while (i < a.size() && j < dela.size()) {
        if (a[i].horaIncerta || (!dela[j].horaIncerta && a[i].ms <= dela[j].ms)) {
            linhas.push_back(a[i++]);
        } else {
            linhas.push_back(dela[j++]);
        }
    }
    linhas.insert(linhas.end(), a.begin() + static_cast<std::ptrdiff_t>(i), a.end());
    linhas.insert(linhas.end(), dela.begin() + static_cast<std::ptrdiff_t>(j), dela.end());
    nossa.linhas = std::move(linhas);
    return nossa;
}

void LeNoites(const std::filesystem::path& pastaPrograma, common::DateTime de, common::DateTime ate,
              int horaCorte,
              const std::function<void(DiaHistorico&& noite, common::DateTime dia)>& entrega,
              const std::filesystem::path& pastaParceira, std::string* falhaParceira) {
    TLeitorNoites leitor(pastaPrograma, de, ate, horaCorte, pastaParceira);
    DiaHistorico noite;
    common::DateTime dia;
    while (leitor.Proxima(noite, dia)) entrega(std::move(noite), dia);
    if (falhaParceira) *falhaParceira = leitor.FalhaParceira();
}

DiaHistorico LeNoite(const std::filesystem::path& pastaPrograma, common::DateTime noite,
                     int horaCorte, const std::filesystem::path& pastaParceira,
                     std::string* falhaParceira) {
    DiaHistorico achada;
    achada.arquivo = ArquivoDoDia(pastaPrograma, noite);
    LeNoites(
        pastaPrograma, noite, noite, horaCorte,
        [&](DiaHistorico&& dia, common::DateTime) {
            if (dia.arquivo.empty()) dia.arquivo = achada.arquivo;
            achada = std::move(dia);
        },
        pastaParceira, falhaParceira);
    return achada;
}

namespace {

// Adds `de`'s rows to `para`, their states renumbered to `para`'s.
void Junta(DiaHistorico& para, const DiaHistorico& de) {
    std::vector<uint16_t> indice(de.estados.size());
    for (size_t e = 0; e < de.estados.size(); ++e) {
        const auto it = std::find(para.estados.begin(), para.estados.end(), de.estados[e]);
        indice[e] = static_cast<uint16_t>(it - para.estados.begin());
        if (it == para.estados.end()) para.estados.push_back(de.estados[e]);
    }
    para.linhas.reserve(para.linhas.size() + de.linhas.size());
    for (LinhaHistorico l : de.linhas) {
        l.estado = indice[l.estado];
        para.linhas.push_back(l);
    }
}

}  // namespace

DiaHistorico LeFaixaDeNoites(const std::filesystem::path& pastaPrograma, common::DateTime de,
                             common::DateTime ate, int horaCorte,
                             const std::filesystem::path& pastaParceira,
                             std::string* falhaParceira) {
    if (de == ate) return LeNoite(pastaPrograma, de, horaCorte, pastaParceira, falhaParceira);
    DiaHistorico faixa;
    LeNoites(
        pastaPrograma, de, ate, horaCorte,
        [&](DiaHistorico&& noite, common::DateTime) { Junta(faixa, noite); }, pastaParceira,
        falhaParceira);
    return faixa;
}

DiaHistorico DiaDaBusca(const std::vector<Achado>& achados) {
    DiaHistorico dia;
    for (const Achado& a : achados) {
        auto it = std::find(dia.estados.begin(), dia.estados.end(), a.estado);
        if (it == dia.estados.end()) it = dia.estados.insert(it, a.estado);
        LinhaHistorico l = a.linha;
        l.estado = static_cast<uint16_t>(it - dia.estados.begin());
        dia.linhas.push_back(l);
    }
    return dia;
}

std::string TextoHora(const LinhaHistorico& l) {
    if (l.ms == 0) return {};
    std::string texto = common::DateTime::FromMs(l.ms).Format("dd/mm/yyyy hh:nn:ss");
    if (l.horaIncerta) texto += " (?)";
    return texto;
}

std::vector<int> FiltraHistorico(const DiaHistorico& dia, const FiltroHistorico& filtro) {
    std::optional<uint16_t> estado;
    if (filtro.estado) {
        const auto it = std::find(dia.estados.begin(), dia.estados.end(), *filtro.estado);
        if (it == dia.estados.end()) return {};
        estado = static_cast<uint16_t>(it - dia.estados.begin());
    }
    std::vector<int> saida;
    for (size_t i = 0; i < dia.linhas.size(); ++i) {
        const LinhaHistorico& l = dia.linhas[i];
        if (estado && l.estado != *estado) continue;
        if (filtro.terminal && l.terminal != *filtro.terminal) continue;
        if (!filtro.cracha.empty() && l.Cracha().find(filtro.cracha) == std::string_view::npos)
            continue;
        saida.push_back(static_cast<int>(i));
    }
    return saida;
}

TotaisHistorico Totaliza(const DiaHistorico& dia, const std::vector<int>& linhas) {
    TotaisHistorico t;
    std::vector<int> porEstado(dia.estados.size());
    for (int i : linhas) {
        const LinhaHistorico& l = dia.linhas[static_cast<size_t>(i)];
        const std::string& estado = dia.Estado(l);
        ++porEstado[l.estado];
        Conta(t.geral, estado);
        Conta(t.porTerminal[l.terminal], estado);
        Conta(l.horaIncerta ? t.horaIncerta
                            : t.porHora[static_cast<size_t>(
                                  common::DateTime::FromMs(l.ms).MsOfDay() / 3'600'000)],
              estado);
    }
    const auto primeira = std::find_if(dia.linhas.begin(), dia.linhas.end(),
                                       [](const LinhaHistorico& l) { return !l.horaIncerta; });
    if (primeira != dia.linhas.end()) {
        t.primeiraHora =
            static_cast<int>(common::DateTime::FromMs(primeira->ms).MsOfDay() / 3'600'000);
    }
    for (size_t e = 0; e < porEstado.size(); ++e) {
        if (porEstado[e] > 0) t.porEstado[dia.estados[e]] = porEstado[e];
    }
    return t;
}

std::string TextoTerminal(int32_t terminal) {
    if (terminal == kSemTerminal) return {};
    char b[16];
    std::snprintf(b, sizeof b, "%02d", static_cast<int>(terminal));
    return b;
}

std::string CampoCsv(std::string_view utf8) {
    // Anyone who reaches the terminal port can send a card number; a spreadsheet runs a cell
    // that begins like a formula. Such a field is kept as text by a leading apostrophe, which
    // the spreadsheet shows as nothing.
    const bool formula =
        !utf8.empty() && std::string_view("=+-@\t\r").find(utf8.front()) != std::string_view::npos;
    const std::string texto = formula ? "'" + std::string(utf8) : std::string(utf8);
    if (texto.find_first_of(";\"\r\n") == std::string::npos) return texto;
    std::string s = "\"";
    for (char c : texto) {
        if (c == '"') s += '"';
        s += c;
    }
    s += '"';
    return s;
}

std::string CsvLinhas(const DiaHistorico& dia, const std::vector<int>& linhas, bool cabecalho) {
    std::string s;
    if (cabecalho) {
        s = kBom;
        s += "Data Hora;Comanda;Estado;Equip.";
        s += kFimLinha;
    }
    s.reserve(s.size() + linhas.size() * 56);
    for (int i : linhas) {
        const LinhaHistorico& l = dia.linhas[static_cast<size_t>(i)];
        s += TextoHora(l);
        s += ';';
        s += CampoCsv(Utf8(std::string(l.Cracha())));
        s += ';';
        s += CampoCsv(Utf8(dia.Estado(l)));
        s += ';';
        s += CampoCsv(TextoTerminal(l.terminal));
        s += kFimLinha;
    }
    return s;
}

std::string CsvTotais(const TotaisHistorico& t) {
    std::string s(kBom);
    s += "Grupo;Item;Registros;Liberado;Bloqueado";
    s += kFimLinha;
    s += LinhaTotais("Total", "", t.geral);
    for (const auto& [texto, n] : t.porEstado) {
        Contagem c;
        c.total = n;
        if (texto == estado::kLiberado) c.liberado = n;
        if (texto == estado::kBloqueado) c.bloqueado = n;
        s += LinhaTotais("Estado", Utf8(texto), c);
    }
    for (const auto& [terminal, c] : t.porTerminal) {
        s += LinhaTotais("Equip.", TextoTerminal(terminal), c);
    }
    for (int k = 0; k < 24; ++k) {
        s += LinhaTotais("Hora", Hora(t.Hora(k)), t.porHora[static_cast<size_t>(t.Hora(k))]);
    }
    if (t.horaIncerta.total > 0) s += LinhaTotais("Hora", "incerta", t.horaIncerta);
    return s;
}

std::string TextoRelatorio(const DiaHistorico& dia, const TotaisHistorico& t) {
    return "Lumora report: " + dia.arquivo.filename().string() + ", " +
           std::to_string(dia.linhas.size()) + " rows\n" + CorpoRelatorio(t);
}

std::string TextoRelatorioNoites(common::DateTime de, common::DateTime ate,
                                 const std::vector<std::pair<common::DateTime, Contagem>>& noites,
                                 const TotaisHistorico& t) {
    std::string s = "Lumora report: nights " + de.Format("yyyy-mm-dd") + " to " +
                    ate.Format("yyyy-mm-dd") + ", " + std::to_string(t.geral.total) + " rows in " +
                    std::to_string(noites.size()) + (noites.size() == 1 ? " night\n" : " nights\n");
    char b[160];
    std::snprintf(b, sizeof b, "\nPer night:%31s %9s %9s\n", "rows", "Liberado", "Bloqueado");
    s += b;
    for (const auto& [dia, c] : noites) {
        std::snprintf(b, sizeof b, "  %-29s %9d %9d %9d\n", dia.Format("yyyy-mm-dd").c_str(),
                      c.total, c.liberado, c.bloqueado);
        s += b;
    }
    return s + CorpoRelatorio(t);
}

void Acumula(TotaisHistorico& soma, const TotaisHistorico& t) {
    const auto Soma = [](Contagem& a, const Contagem& b) {
        a.total += b.total;
        a.liberado += b.liberado;
        a.bloqueado += b.bloqueado;
    };
    // The hours of a range are listed from its first night's first one.
    if (soma.geral.total == 0) soma.primeiraHora = t.primeiraHora;
    Soma(soma.geral, t.geral);
    for (const auto& [estado, n] : t.porEstado) soma.porEstado[estado] += n;
    for (const auto& [terminal, c] : t.porTerminal) Soma(soma.porTerminal[terminal], c);
    for (size_t h = 0; h < 24; ++h) Soma(soma.porHora[h], t.porHora[h]);
    Soma(soma.horaIncerta, t.horaIncerta);
}

std::string CorpoRelatorio(const TotaisHistorico& t) {
    std::string s;
    char b[160];
    auto linha = [&](const char* rotulo, const std::string& item, const Contagem& c) {
        std::snprintf(b, sizeof b, "  %-8s %-20s %9d %9d %9d\n", rotulo, item.c_str(), c.total,
                      c.liberado, c.bloqueado);
        s += b;
    };
    s += "\nPer state:\n";
    for (const auto& [estado, n] : t.porEstado) {
        // Widths count characters; the UTF-8 of an accented letter is two bytes.
        const std::string texto = Utf8(estado);
        const int largura = 20 + static_cast<int>(texto.size() - estado.size());
        std::snprintf(b, sizeof b, "  %-*s %9d\n", largura, texto.c_str(), n);
        s += b;
    }
    std::snprintf(b, sizeof b, "\n  %-8s %-20s %9s %9s %9s\n", "", "", "rows", "Liberado",
                  "Bloqueado");
    s += "\nPer terminal and per hour:";
    s += b;
    for (const auto& [terminal, c] : t.porTerminal) {
        linha("Equip.", terminal == kSemTerminal ? "(none)" : TextoTerminal(terminal), c);
    }
    for (int k = 0; k < 24; ++k) {
        const Contagem& c = t.porHora[static_cast<size_t>(t.Hora(k))];
        if (c.total > 0) linha("Hour", Hora(t.Hora(k)), c);
    }
    if (t.horaIncerta.total > 0) linha("Hour", "? (time not trusted)", t.horaIncerta);
    linha("Total", "", t.geral);
    return s;
}

namespace {

// Whether the file's bytes hold `texto`, read a block at a time. A file that cannot be read
// counts as holding it: its reading then says why.
bool Contem(const std::filesystem::path& arquivo, std::string_view texto) {
    std::ifstream in(arquivo, std::ios::binary);
    if (!in) return true;
    constexpr size_t kBloco = 1 << 20;
    std::string janela;
    std::vector<char> bloco(kBloco);
    while (in.read(bloco.data(), kBloco) || in.gcount() > 0) {
        janela.append(bloco.data(), static_cast<size_t>(in.gcount()));
        if (janela.find(texto) != std::string::npos) return true;
        // What may hold the text's beginning stays for the next block.
        if (janela.size() >= texto.size()) janela.erase(0, janela.size() - texto.size() + 1);
    }
    return in.eof() ? false : true;
}

// The rows of one folder's files whose card holds `parte`, each with the key of its place.
void BuscaEm(const std::filesystem::path& pastaPrograma, std::string_view parte, int horaCorte,
             std::vector<Achado>& achados, std::vector<int64_t>& chaves) {
    constexpr int64_t kHora = 3'600'000;
    // The text as a file holds it, when escaping cannot change it: a file that does not hold
    // it anywhere holds no row with it, and costs a search of its bytes, not a reading.
    // Another producer may write a letter outside ASCII as a character reference: only plain
    // ASCII without the XML's own characters is sure to stand in a file as typed.
    const bool semEscape = parte.find_first_of("&<>\"'") == std::string_view::npos &&
                           std::all_of(parte.begin(), parte.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    for (const DiaArquivo& a : DiasComHistorico(pastaPrograma)) {
        if (semEscape && !parte.empty() && !Contem(a.arquivo, parte)) continue;
        const DiaHistorico lido = LeEmOrdem(a.arquivo);
        const int64_t d = a.dia.DayNumber();
        const int64_t inicio = d * common::DateTime::kMsPerDay + horaCorte * kHora;
        int64_t vizinha = inicio;
        for (const LinhaHistorico& l : lido.linhas) {
            const bool confiavel = l.ms != 0 && l.ms >= inicio - kHorasAntes * kHora &&
                                   l.ms < inicio + kDiasDepois * common::DateTime::kMsPerDay;
            if (confiavel) vizinha = l.ms;
            if (l.Cracha().find(parte) == std::string_view::npos) continue;
            Achado x;
            x.noite = confiavel ? NoiteDe(common::DateTime::FromMs(l.ms), horaCorte)
                                : common::DateTime::FromMs(d * common::DateTime::kMsPerDay);
            x.linha = l;
            x.linha.horaIncerta = !confiavel;
            x.estado = lido.Estado(l);
            achados.push_back(std::move(x));
            chaves.push_back(vizinha);
        }
    }
}

}  // namespace

std::vector<Achado> BuscaComanda(const std::filesystem::path& pastaPrograma, std::string_view parte,
                                 int horaCorte, const std::filesystem::path& pastaParceira,
                                 std::string* falhaParceira) {
    std::vector<Achado> achados;
    std::vector<int64_t> chaves;
    BuscaEm(pastaPrograma, parte, horaCorte, achados, chaves);
    if (!pastaParceira.empty()) {
        std::vector<Achado> dela;
        std::vector<int64_t> chavesDela;
        try {
            BuscaEm(pastaParceira, parte, horaCorte, dela, chavesDela);
        } catch (const std::exception& x) {
            if (falhaParceira) *falhaParceira = pastaParceira.string() + ": " + x.what();
            dela.clear();
        }
        // Each row once, however many of the two PCs hold it.
        std::unordered_map<std::string, int> nossas;
        for (const Achado& a : achados) ++nossas[ChaveLinha(a.linha, a.estado)];
        for (size_t k = 0; k < dela.size(); ++k) {
            const auto achada = nossas.find(ChaveLinha(dela[k].linha, dela[k].estado));
            if (achada != nossas.end() && achada->second > 0) {
                --achada->second;
                continue;
            }
            achados.push_back(std::move(dela[k]));
            chaves.push_back(chavesDela[k]);
        }
    }
    // Newest first: by night, then by time (a time not to trust at its neighbours' place).
    std::vector<size_t> ordem(achados.size());
    for (size_t i = 0; i < ordem.size(); ++i) ordem[i] = i;
    std::stable_sort(ordem.begin(), ordem.end(), [&](size_t a, size_t b) {
        if (achados[a].noite != achados[b].noite) return achados[a].noite > achados[b].noite;
        return chaves[a] > chaves[b];
    });
    std::vector<Achado> ordenados;
    ordenados.reserve(ordem.size());
    for (size_t i : ordem) ordenados.push_back(std::move(achados[i]));
    return ordenados;
}

std::string TextoBusca(std::string_view parte, const std::vector<Achado>& achados) {
    std::string s = "Lumora: card " + Utf8(std::string(parte)) + ": " +
                    std::to_string(achados.size()) + (achados.size() == 1 ? " row" : " rows") +
                    ", newest first\n";
    char b[200];
    for (const Achado& a : achados) {
        const std::string estado = Utf8(a.estado);
        const int largura = 20 + static_cast<int>(estado.size() - a.estado.size());
        std::snprintf(b, sizeof b, "  %s  %-23s  %-3s %-*s %s\n",
                      a.noite.Format("yyyy-mm-dd").c_str(), TextoHora(a.linha).c_str(),
                      TextoTerminal(a.linha.terminal).c_str(), largura, estado.c_str(),
                      Utf8(std::string(a.linha.Cracha())).c_str());
        s += b;
    }
    return s;
}

std::string CsvBusca(const std::vector<Achado>& achados) {
    std::string s(kBom);
    s += "Noite;Data Hora;Comanda;Estado;Equip.";
    s += kFimLinha;
    for (const Achado& a : achados) {
        s += a.noite.Format("dd/mm/yyyy");
        s += ';';
        s += TextoHora(a.linha);
        s += ';';
        s += CampoCsv(Utf8(std::string(a.linha.Cracha())));
        s += ';';
        s += CampoCsv(Utf8(a.estado));
        s += ';';
        s += CampoCsv(TextoTerminal(a.linha.terminal));
        s += kFimLinha;
    }
    return s;
}

}  // namespace lumora
