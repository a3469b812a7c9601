#include "receiver/control/ArquivosReceptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

#include "common/AtomicFile.h"
#include "common/Exception.h"
#include "receiver/control/SincronizaArquivo.h"
#include "receiver/control/TableFile.h"

namespace lumora {

namespace fs = std::filesystem;

namespace {

// What tells one state of a file from another without reading it.
struct Identidade {
    dev_t dispositivo = 0;
    ino_t inode = 0;
    off_t tamanho = 0;
    timespec modificacao{};
    timespec mudanca{};

    bool operator==(const Identidade& o) const {
        return dispositivo == o.dispositivo && inode == o.inode && tamanho == o.tamanho &&
               modificacao.tv_sec == o.modificacao.tv_sec &&
               modificacao.tv_nsec == o.modificacao.tv_nsec && mudanca.tv_sec == o.mudanca.tv_sec &&
               mudanca.tv_nsec == o.mudanca.tv_nsec;
    }
};

Identidade DeStat(const struct stat& st) {
    return Identidade{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool Identifica(const fs::path& arquivo, Identidade& id) {
    struct stat st {};
    if (::stat(arquivo.c_str(), &st) != 0) return false;
    id = DeStat(st);
    return true;
}

// File systems keep modification times to their own granularity (one or two seconds on some),
// so two writes close together may leave the same time. A time at least this far before the
// moment we read the file cannot be shared by a later write.
constexpr time_t kGranularidadeSegura = 3;

bool AntesDe(const timespec& t, const timespec& limite) {
    return t.tv_sec < limite.tv_sec || (t.tv_sec == limite.tv_sec && t.tv_nsec < limite.tv_nsec);
}

}  // namespace

struct TArquivosReceptor::Estado {
    TableFileExtras extrasEquip;
    TableFileExtras extrasComandas;
    TableFileExtras extrasHistorico;
    // The bytes the card list was last parsed from: an unchanged file is not parsed again,
    // and at close a file that no longer holds them was written by someone else meanwhile.
    std::string bytesComandas;
    bool comandasEmCache = false;
    // The card list file's identity when those bytes were read, when it can be trusted: the
    // file had not been modified for a while then, so any later write changes the identity.
    Identidade identidadeComandas;
    bool identidadeConfiavel = false;

    // The history file as we last wrote it: while the table's revision stays the one written
    // and the file is still the one we wrote, new records are added in front of its closing
    // tags instead of rewriting it whole.
    bool historicoConhecido = false;
    uint64_t revisaoHistorico = 0;
    int registrosHistorico = 0;
    Identidade identidadeHistorico;
    // Syncs the additions to disk without holding up the event loop.
    TSincronizaArquivo sincroniza;
};

namespace {

// A file we cannot take up is kept under a new name beside the old one: its rows may still
// be worth recovering by hand.
[[noreturn]] void FalhaGravacao(const std::string& caminho, int erro) {
    throw common::EFileError("Cannot create file \"" + caminho + "\". " + std::strerror(erro));
}

void PoeDeLado(const fs::path& arquivo) {
    std::error_code erro;
    if (!fs::exists(arquivo, erro)) return;
    const std::string carimbo = common::Now().Format("yyyymmdd-hhnnss");
    fs::path destino = arquivo;
    destino += ".damaged-" + carimbo;
    for (int n = 2; fs::exists(destino, erro); ++n) {
        destino = arquivo;
        destino += ".damaged-" + carimbo + "-" + std::to_string(n);
    }
    fs::rename(arquivo, destino, erro);
}

}  // namespace

TArquivosReceptor::TArquivosReceptor(TabelasReceptor& tabelas, fs::path pastaPrograma)
    : tabelas_(tabelas),
      pasta_(std::move(pastaPrograma)),
      equip_(pasta_ / "Equip.xml"),
      comandas_(pasta_ / "Comandas.xml"),
      estado_(std::make_unique<Estado>()) {}

TArquivosReceptor::~TArquivosReceptor() = default;

bool TArquivosReceptor::Inicia(common::DateTime hoje) {
    // Saves cut short by a crash may have left their temporary files behind.
    for (const char* nome : {"Equip.xml", "Comandas.xml", "Config.ini"})
        common::RemoveTemporaryFiles(pasta_ / nome);
    // Equipment: starts empty without a file; the file appears once something is stored.
    try {
        if (fs::exists(equip_)) {
            estado_->extrasEquip = LoadTableFromFile(tabelas_.cdsEquipamentos, equip_.string());
        } else {
            tabelas_.cdsEquipamentos.Open();
        }
    } catch (const std::exception&) {
        tabelas_.cdsEquipamentos.Close();
        PoeDeLado(equip_);
        return false;
    }

    // Card list: created empty at once, so that the venue's program finds a file to fill.
    try {
        if (fs::exists(comandas_)) {
            RecarregaComandas();
        } else {
            tabelas_.cdsComandas.Open();
            SaveTableToFile(tabelas_.cdsComandas, comandas_.string());
            estado_->bytesComandas = ReadWholeFile(comandas_.string());
            estado_->comandasEmCache = true;
        }
    } catch (const std::exception&) {
        tabelas_.cdsComandas.Close();
        PoeDeLado(comandas_);
        return false;
    }

    // History of the day of start-up; the name stays for the whole run.
    historico_ = pasta_ / "Historicos" / ("Historico_" + hoje.Format("yyyymmdd") + ".xml");
    try {
        fs::create_directories(historico_.parent_path());
        // A save cut short by a crash may have left its temporary file behind.
        common::RemoveTemporaryFiles(historico_);
        if (fs::exists(historico_)) {
            try {
                estado_->extrasHistorico =
                    LoadTableFromFile(tabelas_.cdsHistorico, historico_.string());
            } catch (const EDataPacketError&) {
                // The last addition may have been cut short: keep every complete record.
                if (!ReparaHistorico()) throw;
                estado_->extrasHistorico =
                    LoadTableFromFile(tabelas_.cdsHistorico, historico_.string());
            }
            ConfereHistorico();
        } else {
            tabelas_.cdsHistorico.Open();
            SalvaHistorico();
        }
    } catch (const std::exception&) {
        tabelas_.cdsHistorico.Close();
        PoeDeLado(historico_);
        return false;
    }
    return true;
}

void TArquivosReceptor::RecarregaComandas() {
    auto& lista = tabelas_.cdsComandas;
    Estado& e = *estado_;
    const bool carregada = e.comandasEmCache && lista.Active() && !lista.Modified() &&
                           lista.State() == common::TableState::Browse;
    Identidade antes;
    const bool identificada = Identifica(comandas_, antes);
    // The usual case, at every card read: the file is the one loaded, and nothing has
    // written it since.
    if (carregada && identificada && e.identidadeConfiavel && antes == e.identidadeComandas) return;

    timespec leitura{};
    ::clock_gettime(CLOCK_REALTIME, &leitura);
    std::string bytes;
    try {
        bytes = ReadWholeFile(comandas_.string());
        ++leiturasComandas_;
        if (!carregada || bytes != e.bytesComandas) {
            e.comandasEmCache = false;
            DataPacket pacote;
            try {
                pacote = ReadDataPacket(bytes);
            } catch (const EDataPacketError& erro) {
                throw erro.WithPrefix(lista.Name());
            }
            e.extrasComandas = LoadTableFromPacket(lista, std::move(pacote));
            e.bytesComandas = std::move(bytes);
            e.comandasEmCache = true;
        }
    } catch (...) {
        e.comandasEmCache = false;
        e.identidadeConfiavel = false;
        lista.Close();
        throw;
    }
    // The identity read before the bytes stands for them only when the file did not change
    // while it was read, and when its modification time is old enough that a later write
    // could not share it.
    Identidade depois;
    timespec limite = leitura;
    limite.tv_sec -= kGranularidadeSegura;
    e.identidadeComandas = antes;
    e.identidadeConfiavel = identificada && Identifica(comandas_, depois) && depois == antes &&
                            AntesDe(antes.modificacao, limite) && AntesDe(antes.mudanca, limite);
}

void TArquivosReceptor::SalvaHistorico() {
    auto& historico = tabelas_.cdsHistorico;
    Estado& e = *estado_;
    Identidade atual;
    if (e.historicoConhecido && historico.Revision() == e.revisaoHistorico &&
        historico.EntryCount() >= e.registrosHistorico && Identifica(historico_, atual) &&
        atual == e.identidadeHistorico) {
        if (historico.EntryCount() > e.registrosHistorico) AcrescentaHistorico();
        return;
    }
    e.historicoConhecido = false;
    SaveTableToFile(historico, historico_.string(), &e.extrasHistorico);
    if (Identifica(historico_, e.identidadeHistorico)) {
        e.historicoConhecido = true;
        e.revisaoHistorico = historico.Revision();
        e.registrosHistorico = historico.EntryCount();
    }
}

void TArquivosReceptor::ConfereHistorico() {
    // A file just as we would write it takes additions from the first save on; one written
    // otherwise (another program, an older layout) is rewritten whole at the first save.
    Estado& e = *estado_;
    Identidade id;
    if (!Identifica(historico_, id)) return;
    const std::string escrito = WriteTablePacket(tabelas_.cdsHistorico, &e.extrasHistorico);
    if (static_cast<off_t>(escrito.size()) != id.tamanho ||
        ReadWholeFile(historico_.string()) != escrito)
        return;
    e.identidadeHistorico = id;
    e.revisaoHistorico = tabelas_.cdsHistorico.Revision();
    e.registrosHistorico = tabelas_.cdsHistorico.EntryCount();
    e.historicoConhecido = true;
}

void TArquivosReceptor::AcrescentaHistorico() {
    auto& historico = tabelas_.cdsHistorico;
    Estado& e = *estado_;
    e.historicoConhecido = false;  // until the addition is complete and synced
    std::string novos = WriteTablePacketRows(historico, e.registrosHistorico, &e.extrasHistorico);
    novos.append(kDataPacketTail);
    const off_t tamanho = e.identidadeHistorico.tamanho;
    const off_t inicio = tamanho - static_cast<off_t>(kDataPacketTail.size());
    const std::string caminho = historico_.string();
    const int fd = ::open(caminho.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) FalhaGravacao(caminho, errno);
    // The new records and the closing tags go over the old closing tags. A crash in between
    // leaves every record written before and at most a part of the new ones, which the next
    // start cuts off (ReparaHistorico).
    std::size_t escritos = 0;
    int erro = 0;
    while (escritos < novos.size()) {
        const ssize_t n = ::pwrite(fd, novos.data() + escritos, novos.size() - escritos,
                                   inicio + static_cast<off_t>(escritos));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            erro = n < 0 ? errno : EIO;
            break;
        }
        escritos += static_cast<std::size_t>(n);
    }
    if (erro != 0) {
        // Back to the file as it was, whole, if the disk lets us.
        if (::ftruncate(fd, tamanho) == 0) {
            (void)::pwrite(fd, kDataPacketTail.data(), kDataPacketTail.size(), inicio);
            (void)::fdatasync(fd);
        }
        ::close(fd);
        FalhaGravacao(caminho, erro);
    }
    struct stat st {};
    const bool identificado = ::fstat(fd, &st) == 0;
    ::close(fd);
    // The rows are in the file now: no crash of the program can lose them. Keeping them through
    // a power cut is the sync thread's part; the event loop goes on meanwhile.
    const int erroSincronia = e.sincroniza.Pede(caminho);
    if (erroSincronia != 0) FalhaGravacao(caminho, erroSincronia);  // written whole next time
    if (!identificado) return;
    e.identidadeHistorico = DeStat(st);
    e.registrosHistorico = historico.EntryCount();
    e.historicoConhecido = true;
}

bool TArquivosReceptor::ReparaHistorico() {
    std::string bytes;
    try {
        bytes = ReadWholeFile(historico_.string());
    } catch (const std::exception&) {
        return false;
    }
    const auto inicioLinhas = bytes.find("<ROWDATA>");
    if (inicioLinhas == std::string::npos) return false;
    // Our rows end in "/>", and no value holds a bare ">". The cut part is what follows the
    // last complete row (or the opening of the row data): a partial row, partial closing
    // tags, or the zeros a file system may show after a crash.
    const std::size_t dados = inicioLinhas + std::string_view("<ROWDATA>").size();
    auto Valido = [&](const std::string& texto) {
        try {
            common::MemTable prova(tabelas_.cdsHistorico.Name(), tabelas_.cdsHistorico.Fields());
            LoadTableFromPacket(prova, ReadDataPacket(texto));
            return true;
        } catch (const std::exception&) {
            return false;
        }
    };
    std::string reparado;
    std::size_t fim = bytes.size();
    for (int tentativa = 0; tentativa < 16 && reparado.empty(); ++tentativa) {
        const std::size_t barra = fim >= 2 ? bytes.rfind("/>", fim - 2) : std::string::npos;
        const std::size_t corte = barra == std::string::npos || barra < dados ? dados : barra + 2;
        std::string candidato = bytes.substr(0, corte);
        candidato.append(kDataPacketTail);
        if (candidato != bytes && Valido(candidato)) reparado = std::move(candidato);
        if (corte == dados) break;
        fim = barra;
    }
    if (reparado.empty()) return false;
    common::ReplaceFileContents(historico_, reparado);
    return true;
}

void TArquivosReceptor::Fecha() {
    std::exception_ptr primeira;
    auto& lista = tabelas_.cdsComandas;
    try {
        if (lista.Active()) {
            // Write back only over the file we loaded (or none): a newer card list written
            // meanwhile by the venue's program must not be replaced by our older copy.
            std::error_code erro;
            bool nossa = !fs::exists(comandas_, erro);
            if (!nossa && estado_->comandasEmCache) {
                nossa = ReadWholeFile(comandas_.string()) == estado_->bytesComandas;
            }
            if (nossa) SaveTableToFile(lista, comandas_.string(), &estado_->extrasComandas);
        }
    } catch (...) {
        primeira = std::current_exception();
    }
    lista.Close();
    estado_->comandasEmCache = false;

    try {
        if (tabelas_.cdsHistorico.Active()) SalvaHistorico();
        // Everything added is on disk before the program ends.
        if (const int erro = estado_->sincroniza.Aguarda(); erro != 0) {
            estado_->historicoConhecido = false;
            FalhaGravacao(historico_.string(), erro);
        }
        tabelas_.cdsHistorico.Close();
    } catch (...) {
        // The rows stay in memory: the caller may try again.
        if (!primeira) primeira = std::current_exception();
    }
    if (primeira) std::rethrow_exception(primeira);
}

void TArquivosReceptor::FechaEquipamentos() {
    auto& equip = tabelas_.cdsEquipamentos;
    if (equip.Active() && equip.Modified()) {
        if (equip.State() != common::TableState::Browse) equip.Cancel();
        SaveTableToFile(equip, equip_.string(), &estado_->extrasEquip);
    }
    equip.Close();
}

}  // namespace lumora
