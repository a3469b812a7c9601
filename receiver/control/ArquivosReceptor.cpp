#include "receiver/control/ArquivosReceptor.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

// A descriptor kept open for as long as it names the file we write.
struct Descritor {
    int fd = -1;
    Descritor() = default;
    Descritor(const Descritor&) = delete;
    Descritor& operator=(const Descritor&) = delete;
    ~Descritor() { Fecha(); }
    void Fecha() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// The system's notices of writes to one file (inotify), where they can be believed: on a
// local file system every write to the file, by any program on this computer, is noticed. On
// a network share another computer's writes are not, and nothing is believed.
class AvisosDeEscrita {
  public:
    AvisosDeEscrita() = default;
    AvisosDeEscrita(const AvisosDeEscrita&) = delete;
    AvisosDeEscrita& operator=(const AvisosDeEscrita&) = delete;
    ~AvisosDeEscrita() { Solta(); }

    // Called just before the file's bytes are read: from now on any write to it is noticed.
    void Arma(const fs::path& arquivo) {
        Solta();
        if (!ligados_ || !SistemaLocal(arquivo)) return;
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) return;
        if (::inotify_add_watch(
                fd_, arquivo.c_str(),
                IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
            Solta();
            return;
        }
        escrito_ = false;
    }
    // True when notices are believed and none came since Arma: the bytes read then are the
    // file's bytes now. Once a notice came it stays until the next Arma.
    bool Quieto() {
        if (fd_ < 0) return false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                escrito_ = true;  // every event of this watch is about the file itself
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) break;
            Solta();  // the notices themselves failed: believe nothing
            return false;
        }
        return !escrito_;
    }
    // A test takes the way of a network share.
    void Liga(bool ligados) {
        ligados_ = ligados;
        if (!ligados_) Solta();
    }

  private:
    static bool SistemaLocal(const fs::path& arquivo) {
        struct statfs sf {};
        if (::statfs(arquivo.c_str(), &sf) != 0) return false;
        switch (static_cast<unsigned long>(sf.f_type)) {
            case EXT4_SUPER_MAGIC:  // also ext2 and ext3
            case XFS_SUPER_MAGIC:
            case BTRFS_SUPER_MAGIC:
            case TMPFS_MAGIC:
            case F2FS_SUPER_MAGIC:
                return true;
            default:
                return false;
        }
    }
    void Solta() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    bool escrito_ = false;
    bool ligados_ = true;
};

bool AntesDe(const timespec& t, const timespec& limite) {
    return t.tv_sec < limite.tv_sec || (t.tv_sec == limite.tv_sec && t.tv_nsec < limite.tv_nsec);
}

// Whether a file's times, read at `leitura`, are old enough that no later write can share them.
bool Assentado(const Identidade& id, timespec leitura) {
    leitura.tv_sec -= kGranularidadeSegura;
    return AntesDe(id.modificacao, leitura) && AntesDe(id.mudanca, leitura);
}

common::DateTime Meianoite(common::DateTime t) {
    return common::DateTime::FromMs(t.DayNumber() * common::DateTime::kMsPerDay);
}

}  // namespace

common::DateTime NoiteDe(common::DateTime agora, int horaCorte) {
    constexpr int64_t kMsPorHora = 3'600'000;
    const bool madrugada = agora.MsOfDay() < int64_t{horaCorte} * kMsPorHora;
    return common::DateTime::FromMs((agora.DayNumber() - (madrugada ? 1 : 0)) *
                                    common::DateTime::kMsPerDay);
}

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
    // Until the identity can be trusted (the venue's program may rewrite the list every few
    // seconds at a busy exit), the system's notices say whether the file was written since
    // its bytes were read; without them the bytes are read and compared at every card read.
    AvisosDeEscrita avisosComandas;

    // The history file as we last wrote it: while the table's revision stays the one written
    // and the file is still the one we wrote, new records are added in front of its closing
    // tags instead of rewriting it whole.
    bool historicoConhecido = false;
    uint64_t revisaoHistorico = 0;
    int registrosHistorico = 0;
    Identidade identidadeHistorico;
    // Whether the file's bytes were last compared with the table's once its times were old
    // enough: until then a write by someone else in the same time tick as ours would leave
    // the identity as it was.
    bool historicoConfirmado = false;
    // What the start-up repair of the history did, for the start-up line; empty when none.
    std::string reparo;
    // The history file as we last wrote it, open: an addition per turnstile result must not
    // cost an open and a close besides its write. Let go whenever the file is written whole
    // (a new file takes the name) or is no longer the one we wrote.
    Descritor historicoAberto;
    // Syncs the additions to disk without holding up the event loop.
    TSincronizaArquivo sincroniza;
};

namespace {

// A file we cannot take up is kept under a new name beside the old one: its rows may still
// be worth recovering by hand.
[[noreturn]] void FalhaGravacao(const std::string& caminho, int erro) {
    throw common::EFileError("Cannot create file \"" + caminho + "\". " + std::strerror(erro));
}

fs::path NomeDeLado(const fs::path& arquivo) {
    std::error_code erro;
    const std::string carimbo = common::Now().Format("yyyymmdd-hhnnss");
    fs::path destino = arquivo;
    destino += ".damaged-" + carimbo;
    for (int n = 2; fs::exists(destino, erro); ++n) {
        destino = arquivo;
        destino += ".damaged-" + carimbo + "-" + std::to_string(n);
    }
    return destino;
}

void PoeDeLado(const fs::path& arquivo) {
    std::error_code erro;
    if (!fs::exists(arquivo, erro)) return;
    fs::rename(arquivo, NomeDeLado(arquivo), erro);
}

}  // namespace

TArquivosReceptor::TArquivosReceptor(TabelasReceptor& tabelas, fs::path pastaPrograma)
    : tabelas_(tabelas),
      pasta_(std::move(pastaPrograma)),
      equip_(pasta_ / "Equip.xml"),
      comandas_(pasta_ / "Comandas.xml"),
      estado_(std::make_unique<Estado>()) {}

TArquivosReceptor::~TArquivosReceptor() = default;

bool TArquivosReceptor::Inicia(common::DateTime noite) {
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

    // History of the night of start-up, until the next cut hour.
    try {
        AbreHistorico(noite);
    } catch (const std::exception&) {
        tabelas_.cdsHistorico.Close();
        PoeDeLado(historico_);
        return false;
    }
    return true;
}

void TArquivosReceptor::AbreHistorico(common::DateTime noite) {
    noite_ = Meianoite(noite);
    historico_ = pasta_ / "Historicos" / ("Historico_" + noite_.Format("yyyymmdd") + ".xml");
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
}

bool TArquivosReceptor::ViraNoite(common::DateTime noite) {
    const common::DateTime nova = Meianoite(noite);
    if (nova == noite_) return false;
    Estado& e = *estado_;
    auto& historico = tabelas_.cdsHistorico;
    // The night that ends is on disk, whole, before its rows leave memory; a failure leaves
    // them here, still bound to their file, for the next try.
    if (historico.Active()) {
        if (historico.State() != common::TableState::Browse) historico.Cancel();
        SalvaHistorico(false);
    }
    if (const int erro = e.sincroniza.Aguarda(); erro != 0) {
        e.historicoConhecido = false;
        SalvaHistorico(false);
    }
    historico.Close();
    e.historicoAberto.Fecha();
    e.historicoConhecido = false;
    e.historicoConfirmado = false;
    e.extrasHistorico = {};
    e.reparo.clear();
    try {
        AbreHistorico(nova);
    } catch (const EDataPacketError&) {
        // A file of that night we cannot read (another program's, damaged beyond repair) is
        // kept aside, and the night starts empty: the gates must go on being recorded.
        historico.Close();
        PoeDeLado(historico_);
        e.extrasHistorico = {};
        historico.Open();
        SalvaHistorico(false);
    } catch (...) {
        // The new file could not be written (a full disk): the table is open for the night's
        // rows, and every save tries the file again.
        if (!historico.Active()) historico.Open();
        throw;
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
    if (carregada && identificada && antes == e.identidadeComandas) {
        if (e.identidadeConfiavel) return;
        if (e.avisosComandas.Quieto()) {
            // Nothing wrote it since its bytes were read; once its times are old enough, they
            // tell a later write alone and the notices are not asked again.
            timespec agora{};
            ::clock_gettime(CLOCK_REALTIME, &agora);
            e.identidadeConfiavel = Assentado(antes, agora);
            return;
        }
    }

    timespec leitura{};
    ::clock_gettime(CLOCK_REALTIME, &leitura);
    std::string bytes;
    try {
        e.avisosComandas.Arma(comandas_);
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

void TArquivosReceptor::SalvaHistorico() { SalvaHistorico(false); }

void TArquivosReceptor::UsaAvisosDeEscrita(bool usa) { estado_->avisosComandas.Liga(usa); }

void TArquivosReceptor::AoFalharSincronia(std::function<void()> aviso) {
    estado_->sincroniza.AoFalhar(std::move(aviso));
}

void TArquivosReceptor::TrocaSincronia(std::function<int(int)> sincroniza) {
    estado_->sincroniza.TrocaChamada(std::move(sincroniza));
}

void TArquivosReceptor::RefazHistorico() {
    if (estado_->sincroniza.TomaErro() == 0 || !tabelas_.cdsHistorico.Active()) return;
    estado_->historicoConhecido = false;
    SalvaHistorico(false);
}

const std::string& TArquivosReceptor::ReparoHistorico() const { return estado_->reparo; }

bool TArquivosReceptor::HistoricoComoEscrito(bool mesmoRecente) {
    Estado& e = *estado_;
    if (e.historicoConfirmado) return true;
    timespec agora{};
    ::clock_gettime(CLOCK_REALTIME, &agora);
    const bool assentado = Assentado(e.identidadeHistorico, agora);
    // While the times are recent, comparing would not settle anything for the next addition;
    // the comparison waits for the first save after a pause (or the close).
    if (!assentado && !mesmoRecente) return true;
    auto& historico = tabelas_.cdsHistorico;
    ++comparacoesHistorico_;
    std::string esperado = WriteTablePacket(historico, &e.extrasHistorico);
    const std::size_t novos =
        WriteTablePacketRows(historico, e.registrosHistorico, &e.extrasHistorico).size();
    esperado.erase(esperado.size() - kDataPacketTail.size() - novos, novos);
    std::string atual;
    try {
        atual = ReadWholeFile(historico_.string());
    } catch (const std::exception&) {
        return false;
    }
    if (atual != esperado) return false;
    Identidade depois;
    e.historicoConfirmado =
        assentado && Identifica(historico_, depois) && depois == e.identidadeHistorico;
    return true;
}

bool TArquivosReceptor::HistoricoAindaNosso() {
    const Estado& e = *estado_;
    const auto& historico = tabelas_.cdsHistorico;
    Identidade atual;
    return e.historicoConhecido && historico.Revision() == e.revisaoHistorico &&
           historico.EntryCount() >= e.registrosHistorico && Identifica(historico_, atual) &&
           atual == e.identidadeHistorico;
}

void TArquivosReceptor::ConfirmaHistoricoEmRepouso() {
    Estado& e = *estado_;
    if (e.historicoConfirmado || !tabelas_.cdsHistorico.Active() || !HistoricoAindaNosso()) return;
    // Not as we wrote it: the next save writes it whole, as it would have found out itself.
    if (!HistoricoComoEscrito(false)) e.historicoConhecido = false;
}

void TArquivosReceptor::SalvaHistorico(bool fechando) {
    auto& historico = tabelas_.cdsHistorico;
    Estado& e = *estado_;
    if (HistoricoAindaNosso() && HistoricoComoEscrito(fechando)) {
        if (historico.EntryCount() > e.registrosHistorico) AcrescentaHistorico();
        return;
    }
    e.historicoConhecido = false;
    e.historicoAberto.Fecha();
    SaveTableToFile(historico, historico_.string(), &e.extrasHistorico);
    if (Identifica(historico_, e.identidadeHistorico)) {
        e.historicoConhecido = true;
        e.historicoConfirmado = false;
        e.revisaoHistorico = historico.Revision();
        e.registrosHistorico = historico.EntryCount();
    }
}

void TArquivosReceptor::ConfereHistorico() {
    // A file just as we would write it takes additions from the first save on; one written
    // otherwise (another program, an older layout) is rewritten whole at the first save.
    Estado& e = *estado_;
    Identidade id;
    timespec leitura{};
    ::clock_gettime(CLOCK_REALTIME, &leitura);
    if (!Identifica(historico_, id)) return;
    const std::string escrito = WriteTablePacket(tabelas_.cdsHistorico, &e.extrasHistorico);
    if (static_cast<off_t>(escrito.size()) != id.tamanho ||
        ReadWholeFile(historico_.string()) != escrito)
        return;
    e.identidadeHistorico = id;
    e.revisaoHistorico = tabelas_.cdsHistorico.Revision();
    e.registrosHistorico = tabelas_.cdsHistorico.EntryCount();
    e.historicoConhecido = true;
    Identidade depois;
    e.historicoConfirmado =
        Assentado(id, leitura) && Identifica(historico_, depois) && depois == id;
}

void TArquivosReceptor::AcrescentaHistorico() {
    auto& historico = tabelas_.cdsHistorico;
    Estado& e = *estado_;
    e.historicoConhecido = false;  // until the addition is complete and synced
    e.historicoConfirmado = false;
    std::string novos = WriteTablePacketRows(historico, e.registrosHistorico, &e.extrasHistorico);
    novos.append(kDataPacketTail);
    const off_t tamanho = e.identidadeHistorico.tamanho;
    const off_t inicio = tamanho - static_cast<off_t>(kDataPacketTail.size());
    const std::string caminho = historico_.string();
    if (e.historicoAberto.fd < 0) {
        e.historicoAberto.fd = ::open(caminho.c_str(), O_WRONLY | O_CLOEXEC);
        if (e.historicoAberto.fd < 0) FalhaGravacao(caminho, errno);
    }
    const int fd = e.historicoAberto.fd;
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
        e.historicoAberto.Fecha();  // the write's own error is the one to show
        FalhaGravacao(caminho, erro);
    }
    struct stat st {};
    const bool identificado = ::fstat(fd, &st) == 0;
    // A write that a network file system fails only later (at its close, or at the sync) is
    // reported by the sync thread, and the file is then written whole.
    if (!identificado) e.historicoAberto.Fecha();
    // The rows are in the file now: no crash of the program can lose them. Keeping them through
    // a power cut is the sync thread's part; the event loop goes on meanwhile.
    if (e.sincroniza.Pede(caminho) != 0) {
        // An earlier sync failed: the disk may not hold rows added before these. The file is
        // written whole, atomically and synced, now.
        SalvaHistorico(false);
        return;
    }
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
    const std::size_t dados = inicioLinhas + std::string_view("<ROWDATA>").size();
    const std::string_view cabecalho(bytes.data(), dados);

    // The row data cut into its rows. Our rows are "<ROW .../>", and no value holds a bare
    // "<" or ">": a row that meets another "<" before its "/>" (or the end of the file) is
    // torn. Whatever is not a row (the closing tags, their remains after a cut addition, the
    // zeros a file system may show after a crash) is left out.
    struct Trecho {
        std::string_view texto;
        bool completo;
    };
    std::vector<Trecho> linhas;
    std::size_t lixoAntes = 0;  // bytes of something else than rows, before the last row
    std::size_t lixo = 0;
    for (std::size_t p = dados; p < bytes.size();) {
        const std::size_t menor = bytes.find('<', p);
        const std::size_t ate = menor == std::string::npos ? bytes.size() : menor;
        for (std::size_t i = p; i < ate; ++i)
            if (bytes[i] != ' ' && bytes[i] != '\r' && bytes[i] != '\n') ++lixo;
        if (menor == std::string::npos) break;
        const bool linha = bytes.compare(menor, 4, "<ROW") == 0 && menor + 4 < bytes.size() &&
                           (bytes[menor + 4] == ' ' || bytes[menor + 4] == '/');
        const std::size_t proximo = bytes.find('<', menor + 1);
        if (!linha) {
            lixo += (proximo == std::string::npos ? bytes.size() : proximo) - menor;
            p = proximo == std::string::npos ? bytes.size() : proximo;
            continue;
        }
        lixoAntes = lixo;
        const std::size_t barra = bytes.find("/>", menor);
        const bool completo = barra != std::string::npos && barra < proximo;
        const std::size_t fim =
            completo ? barra + 2 : (proximo == std::string::npos ? bytes.size() : proximo);
        linhas.push_back({std::string_view(bytes).substr(menor, fim - menor), completo});
        p = fim;
    }

    const auto Documento = [&](auto primeiro, auto ultimo) {
        std::string texto(cabecalho);
        for (auto it = primeiro; it != ultimo; ++it) texto.append(it->texto);
        texto.append(kDataPacketTail);
        return texto;
    };
    const auto Valido = [&](const std::string& texto) {
        try {
            common::MemTable prova(tabelas_.cdsHistorico.Name(), tabelas_.cdsHistorico.Fields());
            LoadTableFromPacket(prova, ReadDataPacket(texto));
            return true;
        } catch (const std::exception&) {
            return false;
        }
    };
    // Every complete row that reads, found by halves: a few bad rows among many cost a few
    // loads each, not one load per row.
    std::vector<Trecho> completas;
    for (const auto& t : linhas)
        if (t.completo) completas.push_back(t);
    std::vector<bool> boa(completas.size(), false);
    const auto Separa = [&](auto&& self, std::size_t de, std::size_t ate) -> void {
        if (de == ate) return;
        if (Valido(Documento(completas.begin() + de, completas.begin() + ate))) {
            std::fill(boa.begin() + de, boa.begin() + ate, true);
        } else if (ate - de > 1) {
            const std::size_t meio = de + (ate - de) / 2;
            self(self, de, meio);
            self(self, meio, ate);
        }
    };
    if (!Valido(Documento(completas.begin(), completas.begin()))) return false;
    Separa(Separa, 0, completas.size());
    std::vector<Trecho> mantidas;
    for (std::size_t i = 0; i < completas.size(); ++i)
        if (boa[i]) mantidas.push_back(completas[i]);
    const std::string reparado = Documento(mantidas.begin(), mantidas.end());
    if (reparado == bytes) return false;

    // A crash during an addition leaves at most its last row cut short, and remains of the
    // old closing tags or zeros after the rows: cutting that off loses nothing that was
    // complete. Anything more (a damaged row, or something else between rows) drops what
    // may still be recovered by hand, so the original stays beside the repaired file.
    const int perdidas = static_cast<int>(linhas.size() - mantidas.size());
    const bool soUltimaCortada =
        lixoAntes == 0 && (perdidas == 0 || (perdidas == 1 && !linhas.back().completo));
    Estado& e = *estado_;
    e.reparo.clear();
    if (soUltimaCortada) {
        e.reparo = "\"" + historico_.string() + "\": an addition cut short was removed";
    } else {
        const fs::path copia = NomeDeLado(historico_);
        std::error_code erro;
        fs::create_hard_link(historico_, copia, erro);
        if (erro) fs::copy_file(historico_, copia, erro);
        if (erro) return false;  // moved aside whole instead
        e.reparo = "\"" + historico_.string() + "\": " + std::to_string(perdidas) +
                   (perdidas == 1 ? " damaged row was" : " damaged rows were") + " dropped";
        if (lixoAntes > 0) e.reparo += ", and " + std::to_string(lixoAntes) + " unreadable bytes";
        e.reparo += "; the original is kept as \"" + copia.string() + "\"";
    }
    e.historicoAberto.Fecha();
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
        if (tabelas_.cdsHistorico.Active()) SalvaHistorico(true);
        // Everything added is on disk before the program ends. A sync that failed may have
        // left the disk without some of the additions, and syncing the same file again
        // proves nothing (the system may have given up those pages): the file is written
        // whole, atomically and synced, once more; only that failing is reported.
        if (const int erro = estado_->sincroniza.Aguarda(); erro != 0) {
            estado_->historicoConhecido = false;
            if (!tabelas_.cdsHistorico.Active()) FalhaGravacao(historico_.string(), erro);
            SalvaHistorico(true);
        }
        tabelas_.cdsHistorico.Close();
        estado_->historicoAberto.Fecha();
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
