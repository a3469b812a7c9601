// The real receiver under a venue's load: Lumora started in a temporary program folder with
// automatic start, driven by simulated terminals, beside a trivial server under the same load.
//
// What the isolated benchmarks cannot show is the program itself: its event loop, its
// windows, its files on this machine's disk. So the built executable is copied into a fresh
// folder with Config.ini, Equip.xml, Comandas.xml and (optionally) a day's history, started
// headless, and measured from the outside: latencies at the terminals, CPU time and disk
// writes from /proc. The floor is an in-process server that answers every card read at once
// with a fixed hand-in; the ratio says how far the program is from the cost of the sockets.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "LoadDriver.h"
#include "TerminalSim.h"
#include "common/Convert.h"
#include "common/DateTime.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/control/Tabelas.h"
#include "receiver/control/TableFile.h"
#include "tests/support/ClienteHttp.h"
#include "tests/support/PortaLivre.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// The first terminal's address; terminal i connects from the i-th address after it.
const char* const kPrimeiraOrigem = "127.1.0.1";

struct Falha : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------
// Options

struct Opcoes {
    std::string lumora;
    fs::path pastaTemp = "/tmp";
    std::string cenarios = "abc";
    bool cenariosDados = false;
    int terminais = 256;
    int cartoes = 100000;
    // Percent of the card reads with a card the list does not hold (refused, a row each).
    int recusadas = 0;
    int linhasHistorico = 50000;
    seconds duracao{20};
    milliseconds intervalo{2000};
    milliseconds intervaloSozinho{25};
    seconds duracaoSozinho{10};
    uint64_t semente = 0;
    bool manter = false;
    bool escondida = false;  // the window hidden at start-up, as a PC in a rack runs it
    seconds amostra{60};     // how often a long run is sampled
    int minutos = 0;         // a long run of (b): this many minutes
    seconds duracaoPiso{0};  // the floor's run when shorter than the program's (0: the same)
    seconds caixa{0};        // the venue's program saves the card list this often (0: never)
    seconds raspagem{0};     // the monitoring endpoint is scraped this often (0: endpoint off)
};

void Uso(FILE* saida) {
    std::fprintf(
        saida,
        "Usage: bench_lumora_load [options]\n"
        "Runs the built Lumora in a temporary program folder under simulated terminals,\n"
        "and the same load against a trivial in-process server, and prints both.\n"
        "Scenarios: a) empty history  b) history already holding rows  c) one terminal\n"
        "           s) saturation: the terminals of (b), each cycling as fast as answers\n"
        "              come, giving cycles per second at 100 %% of one core\n"
        "Runs of a minute or more are sampled every minute: CPU per cycle and its ratio\n"
        "to the floor's, resident memory, descriptors, history rows.\n"
        "\n"
        "  --lumora PATH          the executable to measure (default: this build's)\n"
        "  --hidden               start it with its window hidden (Inicio_Minimizado=1)\n"
        "  --scenarios LIST       which scenarios, e.g. ab (default abc; s on request)\n"
        "  --minutes N            a long run: scenario b for N minutes (scenarios default\n"
        "                         to b), the floor for at most 2 minutes of it\n"
        "  --sample S             seconds between samples of a long run (default 60)\n"
        "  --floor-duration S     seconds of the floor's run (default: as the program's)\n"
        "  --terminals N          terminals in a and b (default 256)\n"
        "  --cards N              cards in Comandas.xml (default 100000)\n"
        "  --history-rows N       rows of the day's history in b (default 50000)\n"
        "  --duration S           seconds of cycles in a and b (default 20)\n"
        "  --interval MS          mean time between a terminal's card reads (2000)\n"
        "  --alone-interval MS    the same for the lone terminal of c (default 25)\n"
        "  --alone-duration S     seconds of cycles in c (default 10)\n"
        "  --quick                64 terminals, 10000 cards, 5000 rows, 5 s, 3 s\n"
        "  --folder DIR           where the temporary program folders go (default /tmp;\n"
        "                         it must be on a disk for the write figures)\n"
        "  --seed N               seed of the random moments and cards\n"
        "  --keep                 keep the temporary program folders\n"
        "  --refused P            P %% of the card reads with a card not on the list\n"
        "                         (refused: a history row each, no turnstile result)\n"
        "  --scrape S             the monitoring endpoint on, /metrics and /health asked\n"
        "                         every S seconds during the load, as Prometheus would\n"
        "  --cashier S            the venue's program saves the card list again every S\n"
        "                         seconds during the load, one card more each time, to a\n"
        "                         new file renamed over the old (as at an exit whose\n"
        "                         cashier adds each card paid)\n");
}

Opcoes LeOpcoes(int argc, char** argv) {
    Opcoes o;
#ifdef LUMORA_EXE
    o.lumora = LUMORA_EXE;
#endif
    o.semente = static_cast<uint64_t>(steady_clock::now().time_since_epoch().count());
    auto numero = [&](int& i, const std::string& nome) -> long {
        if (i + 1 >= argc) throw Falha(nome + " needs a value");
        const std::string texto = argv[++i];
        char* fim = nullptr;
        errno = 0;
        const long v = std::strtol(texto.c_str(), &fim, 10);
        if (errno != 0 || fim == texto.c_str() || *fim != '\0' || v < 0)
            throw Falha(nome + ": '" + texto + "' is not a whole number");
        return v;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Uso(stdout);
            std::exit(0);
        } else if (a == "--lumora" && i + 1 < argc) {
            o.lumora = argv[++i];
        } else if (a == "--folder" && i + 1 < argc) {
            o.pastaTemp = argv[++i];
        } else if (a == "--scenarios" && i + 1 < argc) {
            o.cenarios = argv[++i];
            o.cenariosDados = true;
            if (o.cenarios.empty() || o.cenarios.find_first_not_of("abcs") != std::string::npos)
                throw Falha("--scenarios takes letters among a, b, c and s");
        } else if (a == "--terminals") {
            o.terminais = static_cast<int>(numero(i, a));
        } else if (a == "--cards") {
            o.cartoes = static_cast<int>(numero(i, a));
        } else if (a == "--history-rows") {
            o.linhasHistorico = static_cast<int>(numero(i, a));
        } else if (a == "--duration") {
            o.duracao = seconds(numero(i, a));
        } else if (a == "--interval") {
            o.intervalo = milliseconds(numero(i, a));
        } else if (a == "--alone-interval") {
            o.intervaloSozinho = milliseconds(numero(i, a));
        } else if (a == "--alone-duration") {
            o.duracaoSozinho = seconds(numero(i, a));
        } else if (a == "--minutes") {
            o.minutos = static_cast<int>(numero(i, a));
        } else if (a == "--sample") {
            o.amostra = seconds(numero(i, a));
        } else if (a == "--floor-duration") {
            o.duracaoPiso = seconds(numero(i, a));
        } else if (a == "--seed") {
            o.semente = static_cast<uint64_t>(numero(i, a));
        } else if (a == "--quick") {
            o.terminais = 64;
            o.cartoes = 10000;
            o.linhasHistorico = 5000;
            o.duracao = 5s;
            o.duracaoSozinho = 3s;
        } else if (a == "--keep") {
            o.manter = true;
        } else if (a == "--refused") {
            o.recusadas = static_cast<int>(numero(i, a));
            if (o.recusadas > 100) throw Falha("--refused is a percentage, 0 to 100");
        } else if (a == "--scrape") {
            o.raspagem = seconds(numero(i, a));
        } else if (a == "--cashier") {
            o.caixa = seconds(numero(i, a));
        } else if (a == "--hidden") {
            o.escondida = true;
        } else {
            throw Falha("unknown option '" + a + "' (--help lists them)");
        }
    }
    if (o.lumora.empty()) throw Falha("no Lumora executable known to this build: give --lumora");
    if (o.minutos > 0) {
        o.duracao = minutes(o.minutos);
        if (!o.cenariosDados) o.cenarios = "b";
        if (o.duracaoPiso.count() == 0) o.duracaoPiso = std::min<seconds>(o.duracao, 120s);
    }
    if (o.amostra.count() < 1) throw Falha("--sample must be at least 1 s");
    if (o.terminais < 1 || o.terminais > 256)
        throw Falha("--terminals must be 1 to 256 (the receiver takes 256 connections)");
    if (o.cartoes < 1) throw Falha("--cards must be at least 1");
    if (o.duracao.count() < 1 || o.duracaoSozinho.count() < 1)
        throw Falha("durations must be at least 1 s");
    if (o.intervalo.count() < 1 || o.intervaloSozinho.count() < 1)
        throw Falha("intervals must be at least 1 ms");
    return o;
}

// ---------------------------------------------------------------------------------------
// The child process and what Ctrl-C must clean up

std::mutex g_guarda;
pid_t g_filho = -1;
std::vector<fs::path> g_pastas;

void LembraPasta(const fs::path& p) {
    std::lock_guard<std::mutex> l(g_guarda);
    g_pastas.push_back(p);
}

void EsquecePasta(const fs::path& p) {
    std::lock_guard<std::mutex> l(g_guarda);
    std::erase(g_pastas, p);
}

// Ctrl-C or a kill of the benchmark still ends the program under test and removes the
// temporary folders. The signals are blocked everywhere and taken here.
void VigiaSinais(sigset_t sinais) {
    int sinal = 0;
    if (sigwait(&sinais, &sinal) != 0) return;
    std::lock_guard<std::mutex> l(g_guarda);
    if (g_filho > 0) {
        ::kill(g_filho, SIGKILL);
        ::waitpid(g_filho, nullptr, 0);
    }
    for (const auto& p : g_pastas) {
        std::error_code e;
        fs::remove_all(p, e);
    }
    std::fprintf(stderr, "\ninterrupted: program under test killed, temporary folders removed\n");
    std::_Exit(128 + sinal);
}

class Programa {
  public:
    Programa(const fs::path& exe, const fs::path& pasta, uint16_t porta) {
        // Everything the child needs is built before fork: between fork and exec only
        // async-signal-safe calls are allowed in a process with threads.
        const std::string caminho = exe.string();
        const std::string saida = (pasta / "output.log").string();
        std::vector<std::string> ambiente;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string v = *e;
            if (v.rfind("QT_QPA_PLATFORM=", 0) == 0 || v.rfind("LUMORA_PORTA_TCP=", 0) == 0 ||
                v.rfind("XDG_RUNTIME_DIR=", 0) == 0)
                continue;
            ambiente.push_back(v);
        }
        ambiente.push_back("QT_QPA_PLATFORM=offscreen");
        ambiente.push_back("LUMORA_PORTA_TCP=" + std::to_string(porta));
        // Its own runtime folder: the single-instance lock of a receiver running elsewhere on
        // this machine must not stop this one (nor a box wait for an operator).
        const fs::path runtime = pasta / "run";
        fs::create_directory(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        ambiente.push_back("XDG_RUNTIME_DIR=" + runtime.string());
        std::vector<char*> envp;
        for (auto& v : ambiente) envp.push_back(v.data());
        envp.push_back(nullptr);
        std::string arg0 = caminho;
        char* argv[] = {arg0.data(), nullptr};
        const std::string dir = pasta.string();
        const pid_t pai = ::getpid();

        std::lock_guard<std::mutex> l(g_guarda);
        pid_ = ::fork();
        if (pid_ < 0) throw Falha(std::string("fork failed: ") + std::strerror(errno));
        if (pid_ == 0) {
            sigset_t nenhum;
            sigemptyset(&nenhum);
            ::sigprocmask(SIG_SETMASK, &nenhum, nullptr);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != pai) ::_exit(126);
            const int fd = ::open(saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            if (::chdir(dir.c_str()) != 0) ::_exit(126);
            ::execve(caminho.c_str(), argv, envp.data());
            ::_exit(127);
        }
        g_filho = pid_;
    }

    ~Programa() {
        if (Vivo()) {
            ::kill(pid_, SIGKILL);
            Espera(-1);
        }
    }

    pid_t Pid() const { return pid_; }
    bool Vivo() const { return pid_ > 0 && !status_; }

    // Waits up to `ms` (-1: for ever) for the program to end; its wait status, once ended.
    std::optional<int> Espera(int ms) {
        const auto limite = steady_clock::now() + milliseconds(ms);
        while (!status_) {
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, ms < 0 ? 0 : WNOHANG);
            if (r == pid_) {
                status_ = st;
                std::lock_guard<std::mutex> l(g_guarda);
                g_filho = -1;
                break;
            }
            if (r < 0 && errno != EINTR) break;
            if (ms >= 0 && steady_clock::now() >= limite) break;
            if (ms >= 0) std::this_thread::sleep_for(20ms);
        }
        return status_;
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string TextoStatus(int st) {
    if (WIFEXITED(st)) return "exit status " + std::to_string(WEXITSTATUS(st));
    if (WIFSIGNALED(st)) return std::string("killed by ") + strsignal(WTERMSIG(st));
    return "wait status " + std::to_string(st);
}

std::string Cauda(const fs::path& arquivo, size_t linhas = 12) {
    std::ifstream in(arquivo);
    std::vector<std::string> todas;
    for (std::string l; std::getline(in, l);) todas.push_back(l);
    std::string out;
    for (size_t i = todas.size() > linhas ? todas.size() - linhas : 0; i < todas.size(); ++i)
        out += "    | " + todas[i] + "\n";
    return out.empty() ? "    (no output)\n" : out;
}

bool Escutando(uint16_t porta) {
    // From the kernel's socket table rather than by connecting: a probe connection would be a
    // terminal to the receiver.
    for (const char* tabela : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(tabela);
        std::string linha;
        std::getline(in, linha);
        while (std::getline(in, linha)) {
            std::istringstream campos(linha);
            std::string sl, local, remoto, estado;
            campos >> sl >> local >> remoto >> estado;
            const auto doisPontos = local.rfind(':');
            if (doisPontos == std::string::npos || estado != "0A") continue;
            if (std::stoul(local.substr(doisPontos + 1), nullptr, 16) == porta) return true;
        }
    }
    return false;
}

// Bytes that have arrived for the program's connections on this port and that it has not read
// yet: messages the terminals sent, still waiting for the program.
uint64_t NaoLidos(uint16_t porta) {
    uint64_t total = 0;
    for (const char* tabela : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(tabela);
        std::string linha;
        std::getline(in, linha);
        while (std::getline(in, linha)) {
            std::istringstream campos(linha);
            std::string sl, local, remoto, estado, filas;
            campos >> sl >> local >> remoto >> estado >> filas;
            const auto doisPontos = local.rfind(':');
            const auto separador = filas.find(':');
            if (doisPontos == std::string::npos || separador == std::string::npos || estado == "0A")
                continue;
            if (std::stoul(local.substr(doisPontos + 1), nullptr, 16) != porta) continue;
            total += std::stoull(filas.substr(separador + 1), nullptr, 16);
        }
    }
    return total;
}

// ---------------------------------------------------------------------------------------
// /proc figures

struct AmostraProc {
    double cpu = 0;         // user + system seconds, every thread
    uint64_t escritos = 0;  // write_bytes: bytes the process sent towards the disk
    uint64_t wchar = 0;     // bytes passed to write() and friends (sockets included)
    bool io = false;
};

AmostraProc LeProc(pid_t pid) {
    AmostraProc a;
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream stat(base + "/stat");
    std::string texto;
    std::getline(stat, texto);
    const auto fecha = texto.rfind(')');
    if (fecha == std::string::npos) throw Falha("cannot read " + base + "/stat");
    std::istringstream campos(texto.substr(fecha + 2));
    std::string campo;
    std::vector<std::string> v;
    while (campos >> campo && v.size() < 13) v.push_back(campo);
    if (v.size() < 13) throw Falha("unexpected " + base + "/stat");
    // Fields 14 and 15 of the file (utime, stime); the list starts at field 3.
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    a.cpu = (std::stod(v[11]) + std::stod(v[12])) / tick;
    std::ifstream io(base + "/io");
    for (std::string linha; std::getline(io, linha);) {
        if (linha.rfind("write_bytes:", 0) == 0) {
            a.escritos = std::stoull(linha.substr(12));
            a.io = true;
        } else if (linha.rfind("wchar:", 0) == 0) {
            a.wchar = std::stoull(linha.substr(6));
        }
    }
    return a;
}

double PicoRssMiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string linha; std::getline(in, linha);) {
        if (linha.rfind("VmHWM:", 0) == 0) return std::stod(linha.substr(6)) / 1024.0;
    }
    return NAN;
}

double RssMiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string linha; std::getline(in, linha);) {
        if (linha.rfind("VmRSS:", 0) == 0) return std::stod(linha.substr(6)) / 1024.0;
    }
    return NAN;
}

int Descritores(pid_t pid) {
    std::error_code e;
    int n = 0;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", e), fim; !e && it != fim;
         it.increment(e))
        ++n;
    return e ? -1 : n;
}

// One sample of a long run, taken while the load goes on.
struct Amostra {
    double segundos = 0;  // since the cycles began
    long ciclos = 0;      // cycles completed so far
    double cpu = 0;       // CPU seconds so far
    double rss = NAN;     // MiB
    int descritores = -1;
};

// Takes a sample when the cycles begin and every period after, on a thread of its own, until
// stopped: none after the load, whose end closes every terminal.
class Amostrador {
  public:
    Amostrador(seconds periodo, std::function<Amostra()> le)
        : periodo_(periodo), le_(std::move(le)) {}
    ~Amostrador() { Para(); }
    void Comeca(std::atomic<long>& ciclos) {
        ciclos_ = &ciclos;
        inicio_ = steady_clock::now();
        amostras_.push_back(Toma());
        fio_ = std::thread([this] {
            std::unique_lock<std::mutex> l(m_);
            for (auto proxima = inicio_ + periodo_;; proxima += periodo_) {
                if (cv_.wait_until(l, proxima, [this] { return parar_; })) return;
                amostras_.push_back(Toma());
            }
        });
    }
    void Para() {
        if (!fio_.joinable()) return;
        {
            std::lock_guard<std::mutex> l(m_);
            parar_ = true;
        }
        cv_.notify_all();
        fio_.join();
    }
    const std::vector<Amostra>& Amostras() const { return amostras_; }

  private:
    Amostra Toma() {
        Amostra a = le_();
        a.segundos = duration<double>(steady_clock::now() - inicio_).count();
        a.ciclos = ciclos_->load(std::memory_order_relaxed);
        return a;
    }
    seconds periodo_;
    std::function<Amostra()> le_;
    std::atomic<long>* ciclos_ = nullptr;
    steady_clock::time_point inicio_;
    std::mutex m_;
    std::condition_variable cv_;
    bool parar_ = false;
    std::thread fio_;
    std::vector<Amostra> amostras_;
};

// ---------------------------------------------------------------------------------------
// The program folder

std::string Numero2(int i) { return common::IntToStrMin(i % 99 + 1, 2); }

std::vector<std::string> NumerosTerminais(int n) {
    // Equipment numbers have two digits: a venue with more than 99 terminals repeats them.
    // The receiver tells terminals apart by address; the number only goes into replies and rows.
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i) v.push_back(Numero2(i));
    return v;
}

void EscreveEquipamentos(const fs::path& pasta, int terminais) {
    lumora::TabelasReceptor t;
    std::vector<common::Row> linhas;
    for (int i = 0; i < terminais; ++i) {
        linhas.push_back(
            {Numero2(i), termsim::NthLoopbackAddress(kPrimeiraOrigem, static_cast<unsigned>(i))});
    }
    t.cdsEquipamentos.Load(std::move(linhas));
    lumora::SaveTableToFile(t.cdsEquipamentos, (pasta / "Equip.xml").string());
}

fs::path ArquivoHistorico(const fs::path& pasta) {
    return pasta / "Historicos" /
           ("Historico_" + lumora::NoiteDe(common::Now()).Format("yyyymmdd") + ".xml");
}

// A day's history as the receiver itself saves it: rows from midnight until now, oldest
// first, mostly let through, some that did not turn and some blocked.
void EscreveHistorico(const fs::path& pasta, int linhas, int cartoes, std::mt19937_64& sorteio) {
    const fs::path arquivo = ArquivoHistorico(pasta);
    fs::create_directories(arquivo.parent_path());
    lumora::TabelasReceptor t;
    const common::DateTime agora = common::Now();
    const int64_t meiaNoite = agora.DayNumber() * common::DateTime::kMsPerDay;
    const int64_t passo = std::max<int64_t>(1, agora.MsOfDay() / std::max(linhas, 1));
    std::uniform_int_distribution<int> cartao(0, cartoes - 1), terminal(1, 99), sorte(0, 99);
    std::vector<common::Row> rows;
    rows.reserve(static_cast<size_t>(linhas));
    for (int i = 0; i < linhas; ++i) {
        const int s = sorte(sorteio);
        const std::string& estado = s < 95   ? lumora::estado::kLiberado
                                    : s < 99 ? lumora::estado::kNaoGirou
                                             : lumora::estado::kBloqueado;
        rows.push_back({common::DateTime::FromMs(meiaNoite + i * passo),
                        common::IntToStrMin(cartao(sorteio), 16), estado,
                        static_cast<int32_t>(terminal(sorteio))});
    }
    t.cdsHistorico.Load(std::move(rows));
    lumora::SaveTableToFile(t.cdsHistorico, arquivo.string());
}

// Every night's file: a run across the cut hour leaves its rows in two.
long LinhasHistorico(const fs::path& pasta) {
    long linhas = 0;
    for (const auto& e : fs::directory_iterator(pasta / "Historicos")) {
        const std::string nome = e.path().filename().string();
        if (nome.rfind("Historico_", 0) != 0 || e.path().extension() != ".xml") continue;
        lumora::TabelasReceptor t;
        lumora::LoadTableFromFile(t.cdsHistorico, e.path().string());
        linhas += t.cdsHistorico.RecordCount();
    }
    return linhas;
}

// ---------------------------------------------------------------------------------------
// The floor: answers every card read at once with a fixed hand-in, greets at once

class Piso {
  public:
    Piso() {
        escuta_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int um = 1;
        ::setsockopt(escuta_, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Bound and listening before any client exists, so the kernel's pick is safe here.
        if (::bind(escuta_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(escuta_, 512) != 0)
            throw Falha(std::string("floor server cannot listen: ") + std::strerror(errno));
        socklen_t n = sizeof a;
        ::getsockname(escuta_, reinterpret_cast<sockaddr*>(&a), &n);
        porta_ = ntohs(a.sin_port);
        if (::pipe2(parar_, O_CLOEXEC | O_NONBLOCK) != 0) throw Falha("pipe failed");
        fio_ = std::thread([this] { Roda(); });
        pthread_getcpuclockid(fio_.native_handle(), &relogioCpu_);
    }
    ~Piso() {
        const char c = 0;
        (void)!::write(parar_[1], &c, 1);
        fio_.join();
        for (auto& c2 : conexoes_) ::close(c2.fd);
        ::close(escuta_);
        ::close(parar_[0]);
        ::close(parar_[1]);
    }
    uint16_t Porta() const { return porta_; }
    double Cpu() const {
        timespec t{};
        clock_gettime(relogioCpu_, &t);
        return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
    }

  private:
    struct Conexao {
        int fd;
        std::string entrada, saida;
    };

    static std::string Relogio(const std::string& terminal) {
        const std::time_t agora = std::time(nullptr);
        std::tm tm{};
        localtime_r(&agora, &tm);
        char t[64];
        std::snprintf(t, sizeof t, "%s;01;%02d;%02d;%02d;%02d;%02d;%02d;%02d;\r", terminal.c_str(),
                      tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec,
                      tm.tm_wday + 1);
        return t;
    }

    void Envia(Conexao& c, const std::string& bytes) {
        c.saida += bytes;
        while (!c.saida.empty()) {
            const ssize_t n = ::send(c.fd, c.saida.data(), c.saida.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            c.saida.erase(0, static_cast<size_t>(n));
        }
    }

    void Trata(Conexao& c, const std::string& quadro) {
        const auto p1 = quadro.find(';');
        if (p1 == std::string::npos) return;
        const auto p2 = quadro.find(';', p1 + 1);
        if (p2 == std::string::npos) return;
        if (quadro.compare(p1 + 1, p2 - p1 - 1, "09") != 0) return;  // only card reads
        Envia(c, quadro.substr(0, p1) + ";20;03;Por Favor Libere;   a Comanda    ;\r");
    }

    void Roda() {
        std::vector<pollfd> fds;
        for (;;) {
            fds.clear();
            fds.push_back({parar_[0], POLLIN, 0});
            fds.push_back({escuta_, POLLIN, 0});
            for (auto& c : conexoes_)
                fds.push_back(
                    {c.fd, static_cast<short>(POLLIN | (c.saida.empty() ? 0 : POLLOUT)), 0});
            if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
            if (fds[0].revents) return;
            for (size_t k = 2; k < fds.size(); ++k) {
                Conexao& c = conexoes_[k - 2];
                if (fds[k].revents & POLLOUT) Envia(c, {});
                if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                char buf[4096];
                const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                    ::close(c.fd);
                    c.fd = -1;
                    continue;
                }
                c.entrada.append(buf, static_cast<size_t>(n));
                size_t fim;
                while ((fim = c.entrada.find('\r')) != std::string::npos) {
                    const std::string quadro = c.entrada.substr(0, fim + 1);
                    c.entrada.erase(0, fim + 1);
                    Trata(c, quadro);
                }
            }
            std::erase_if(conexoes_, [](const Conexao& c) { return c.fd < 0; });
            if (fds[1].revents & POLLIN) {
                for (;;) {
                    sockaddr_in de{};
                    socklen_t n = sizeof de;
                    const int fd = ::accept4(escuta_, reinterpret_cast<sockaddr*>(&de), &n,
                                             SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (fd < 0) break;
                    const int um = 1;
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
                    conexoes_.push_back({fd, {}, {}});
                    // Greeted at once: the floor is the cost of the sockets, not of a timer.
                    Envia(conexoes_.back(), "$");
                    Envia(conexoes_.back(), Relogio("01"));
                }
            }
        }
    }

    int escuta_ = -1;
    int parar_[2] = {-1, -1};
    uint16_t porta_ = 0;
    std::vector<Conexao> conexoes_;
    std::thread fio_;
    clockid_t relogioCpu_{};
};

// ---------------------------------------------------------------------------------------
// One scenario

struct Cenario {
    char letra;
    std::string titulo;
    int terminais;
    int linhasHistorico;
    milliseconds intervalo;  // 0: saturation, every terminal cycles as fast as answers come
    seconds duracao;
    seconds duracaoPiso;
};

struct Medida {
    termsim::LoadSummary s;
    double saudacao = NAN;     // s from the first connect until every terminal was greeted
    double partida = NAN;      // s from start until listening
    double cpuPorCiclo = NAN;  // ms
    double discoPorResultado = NAN;
    double wcharPorResultado = NAN;
    double picoRss = NAN;  // MiB
    double fechamento = NAN;
    double dreno = NAN;  // s from the load's end until the program was quiet
    std::string saida;   // how the program ended
    long linhasAntes = -1, linhasDepois = -1;
    long atrasadas = 0;     // replies later than 5 s
    double cpuTotal = NAN;  // CPU seconds over the cycles
    std::vector<Amostra> amostras;
    // With --scrape: the scrapes made, the slowest, and the card reads the last one counted.
    long raspagens = 0, raspagensFalhas = 0;
    double raspagemMaxMs = 0;
    std::string leiturasRaspadas;
};

termsim::LoadConfig Carga(const Opcoes& o, const Cenario& c, uint16_t porta,
                          const std::vector<std::string>& cartoes) {
    termsim::LoadConfig cfg;
    cfg.host = "127.0.0.1";
    cfg.port = porta;
    cfg.terminals = c.terminais;
    cfg.source = kPrimeiraOrigem;
    cfg.terminalNumbers = NumerosTerminais(c.terminais);
    cfg.cards = cartoes;
    cfg.outcome = "G";
    cfg.duration = c.duracao;
    cfg.interval = c.intervalo;
    cfg.randomMoments = c.intervalo.count() > 0;
    cfg.seed = o.semente + static_cast<uint64_t>(c.letra);
    cfg.awaitGreeting = true;
    cfg.greetingTimeout = milliseconds(30000 + 200 * c.terminais);
    // Late replies are measured, not given up on: a gate that answers after 8 s is a figure.
    cfg.replyTimeout = 60s;
    cfg.connectTimeout = 10s;
    return cfg;
}

void ContaAtrasadas(Medida& m) {
    m.atrasadas = std::count_if(m.s.latencies.begin(), m.s.latencies.end(),
                                [](nanoseconds l) { return l > 5s; });
}

fs::path CriaPasta(const fs::path& pai, const char* nome) {
    std::string modelo = (pai / (std::string(nome) + "-XXXXXX")).string();
    if (!::mkdtemp(modelo.data()))
        throw Falha("cannot make a folder in " + pai.string() + ": " + std::strerror(errno));
    LembraPasta(modelo);
    return modelo;
}

Medida MedeLumora(const Opcoes& o, const Cenario& c, const std::vector<std::string>& cartoes,
                  std::mt19937_64& sorteio) {
    Medida m;
    const fs::path pasta = CriaPasta(o.pastaTemp, "lumora-load");
    struct Limpa {
        fs::path p;
        bool manter;
        ~Limpa() {
            if (!manter) {
                std::error_code e;
                fs::remove_all(p, e);
            } else {
                std::printf("  program folder kept: %s\n", p.c_str());
            }
            EsquecePasta(p);
        }
    } limpa{pasta, o.manter};

    const fs::path exe = pasta / fs::path(o.lumora).filename();
    fs::copy_file(o.lumora, exe);
    const uint16_t portaMonitor = o.raspagem.count() > 0 ? lumora::teste::PortaLivre() : 0;
    bench::WriteFile(pasta / "Config.ini",
                     std::string("[CONFIGS]\r\nInicio_Automatico=1\r\nInicio_Minimizado=") +
                         (o.escondida ? "1" : "0") + "\r\nLista_Branca=1\r\nLista_Negra=0\r\n" +
                         (portaMonitor ? "Monitor_Http=" + std::to_string(portaMonitor) + "\r\n"
                                       : std::string()));
    EscreveEquipamentos(pasta, c.terminais);
    bench::WriteFile(pasta / "Comandas.xml", bench::CardList(o.cartoes));
    if (c.linhasHistorico > 0) EscreveHistorico(pasta, c.linhasHistorico, o.cartoes, sorteio);
    m.linhasAntes = c.linhasHistorico;

    const uint16_t porta = lumora::teste::PortaLivre();
    if (porta == 0) throw Falha("no free TCP port below the ephemeral range");

    const auto inicio = steady_clock::now();
    Programa prog(exe, pasta, porta);
    // Automatic start comes two seconds after start-up; loading 100,000 cards comes first.
    const auto limite = inicio + 60s;
    while (!Escutando(porta)) {
        if (auto st = prog.Espera(0)) {
            throw Falha("Lumora ended during start-up (" + TextoStatus(*st) + "); its output:\n" +
                        Cauda(pasta / "output.log"));
        }
        if (steady_clock::now() > limite)
            throw Falha("Lumora did not listen on port " + std::to_string(porta) +
                        " within 60 s; its output:\n" + Cauda(pasta / "output.log"));
        std::this_thread::sleep_for(20ms);
    }
    m.partida = duration<double>(steady_clock::now() - inicio).count();

    termsim::LoadConfig cfg = Carga(o, c, porta, cartoes);
    AmostraProc antes;
    const auto conexao = steady_clock::now();
    std::atomic<long> feitos{0};
    cfg.cyclesSoFar = &feitos;
    const pid_t pid = prog.Pid();
    Amostrador amostrador(o.amostra, [pid] {
        Amostra a;
        a.cpu = LeProc(pid).cpu;
        a.rss = RssMiB(pid);
        a.descritores = Descritores(pid);
        return a;
    });
    const bool longa = c.duracao >= o.amostra;
    cfg.onCyclesStart = [&] {
        m.saudacao = duration<double>(steady_clock::now() - conexao).count();
        antes = LeProc(prog.Pid());
        if (longa) amostrador.Comeca(feitos);
    };
    // The venue's cashier, when asked for: the card list saved again while the gates run.
    std::atomic<bool> cargaAcabou{false};
    std::thread caixa;
    const auto paraCaixa = [&] {
        cargaAcabou = true;
        if (caixa.joinable()) caixa.join();
    };
    if (o.caixa.count() > 0) {
        const auto comeco = cfg.onCyclesStart;
        cfg.onCyclesStart = [&, comeco] {
            comeco();
            caixa = std::thread([&] {
                for (int k = 1; !cargaAcabou; ++k) {
                    for (auto fim = steady_clock::now() + o.caixa;
                         !cargaAcabou && steady_clock::now() < fim;)
                        std::this_thread::sleep_for(20ms);
                    if (cargaAcabou) break;
                    bench::WriteFile(pasta / "Comandas.novo", bench::CardList(o.cartoes + k));
                    fs::rename(pasta / "Comandas.novo", pasta / "Comandas.xml");
                }
            });
        };
    }
    // The venue's monitoring, when asked for: /metrics and /health every so often.
    std::thread raspador;
    const auto paraRaspador = [&] {
        cargaAcabou = true;
        if (raspador.joinable()) raspador.join();
    };
    if (portaMonitor) {
        const auto comeco = cfg.onCyclesStart;
        cfg.onCyclesStart = [&, comeco] {
            comeco();
            raspador = std::thread([&] {
                while (!cargaAcabou) {
                    const auto t0 = steady_clock::now();
                    const auto metricas =
                        lumora::teste::GetHttp("127.0.0.1", portaMonitor, "/metrics");
                    const auto saude = lumora::teste::GetHttp("127.0.0.1", portaMonitor, "/health");
                    const double ms =
                        duration<double, std::milli>(steady_clock::now() - t0).count();
                    ++m.raspagens;
                    if (metricas.status != 200 || saude.status != 200) ++m.raspagensFalhas;
                    m.raspagemMaxMs = std::max(m.raspagemMaxMs, ms);
                    for (auto fim = t0 + o.raspagem; !cargaAcabou && steady_clock::now() < fim;)
                        std::this_thread::sleep_for(20ms);
                }
            });
        };
    }
    try {
        m.s = termsim::RunLoad(cfg);
        paraRaspador();
        paraCaixa();
        amostrador.Para();
        m.amostras = amostrador.Amostras();
    } catch (const std::exception& e) {
        paraRaspador();
        paraCaixa();
        throw Falha(std::string("load against Lumora failed: ") + e.what() + "\n  its output:\n" +
                    Cauda(pasta / "output.log"));
    }
    // The turnstile results sent with the last replies, and with a slow receiver many more,
    // still wait in its sockets: wait until it has read them all and gone quiet (three tenths
    // of a second with at most a clock tick of CPU each), so that their saves are counted and
    // none is cut off by the SIGTERM.
    const auto ultimaResposta = steady_clock::now();
    double cpu = LeProc(prog.Pid()).cpu;
    for (int quietos = 0; quietos < 3 && steady_clock::now() - ultimaResposta < 120s;) {
        std::this_thread::sleep_for(100ms);
        if (prog.Espera(0)) break;
        const double agora = LeProc(prog.Pid()).cpu;
        quietos = agora - cpu < 0.015 && NaoLidos(porta) == 0 ? quietos + 1 : 0;
        cpu = agora;
    }
    m.dreno = duration<double>(steady_clock::now() - ultimaResposta).count();
    if (auto st = prog.Espera(0)) {
        throw Falha("Lumora ended during the load (" + TextoStatus(*st) + "); its output:\n" +
                    Cauda(pasta / "output.log"));
    }
    const AmostraProc depois = LeProc(prog.Pid());
    if (portaMonitor) {
        // One scrape after the load: its counters against what the load sent.
        const std::string metricas =
            lumora::teste::GetHttp("127.0.0.1", portaMonitor, "/metrics").corpo;
        const size_t p = metricas.find("\nlumora_card_reads_total ");
        if (p != std::string::npos)
            m.leiturasRaspadas = metricas.substr(p + 25, metricas.find('\n', p + 1) - p - 25);
    }
    m.picoRss = PicoRssMiB(prog.Pid());
    ContaAtrasadas(m);
    const double ciclos = static_cast<double>(std::max<long>(m.s.cycles, 1));
    m.cpuPorCiclo = (depois.cpu - antes.cpu) * 1000.0 / ciclos;
    m.cpuTotal = depois.cpu - antes.cpu;
    if (depois.io)
        m.discoPorResultado = static_cast<double>(depois.escritos - antes.escritos) / ciclos;
    m.wcharPorResultado = static_cast<double>(depois.wchar - antes.wchar) / ciclos;

    const auto fim = steady_clock::now();
    ::kill(prog.Pid(), SIGTERM);
    auto st = prog.Espera(120000);
    m.fechamento = duration<double>(steady_clock::now() - fim).count();
    if (!st) {
        ::kill(prog.Pid(), SIGKILL);
        st = prog.Espera(-1);
        m.saida = "did not end within 120 s of SIGTERM; killed";
    } else {
        m.saida = TextoStatus(*st);
    }
    try {
        m.linhasDepois = LinhasHistorico(pasta);
    } catch (const std::exception& e) {
        std::printf("  the history file could not be read after the close: %s\n", e.what());
    }
    return m;
}

Medida MedePiso(const Opcoes& o, const Cenario& c, const std::vector<std::string>& cartoes) {
    Medida m;
    Piso piso;
    Cenario curto = c;
    if (o.duracaoPiso.count() > 0) curto.duracao = std::min(c.duracao, o.duracaoPiso);
    termsim::LoadConfig cfg = Carga(o, curto, piso.Porta(), cartoes);
    double antes = 0;
    const auto conexao = steady_clock::now();
    std::atomic<long> ciclos{0};
    cfg.cyclesSoFar = &ciclos;
    Amostrador amostrador(o.amostra, [&piso] {
        Amostra a;
        a.cpu = piso.Cpu();
        return a;
    });
    const bool longa = curto.duracao >= o.amostra;
    cfg.onCyclesStart = [&] {
        m.saudacao = duration<double>(steady_clock::now() - conexao).count();
        antes = piso.Cpu();
        if (longa) amostrador.Comeca(ciclos);
    };
    m.s = termsim::RunLoad(cfg);
    amostrador.Para();
    m.amostras = amostrador.Amostras();
    m.cpuTotal = piso.Cpu() - antes;
    m.cpuPorCiclo =
        (piso.Cpu() - antes) * 1000.0 / static_cast<double>(std::max<long>(m.s.cycles, 1));
    ContaAtrasadas(m);
    return m;
}

// ---------------------------------------------------------------------------------------
// Printing

double Ms(nanoseconds d) { return duration<double, std::milli>(d).count(); }

std::string Num(double v, const char* formato) {
    if (std::isnan(v)) return "-";
    char t[64];
    std::snprintf(t, sizeof t, formato, v);
    return t;
}

void Linha(const char* rotulo, double lumora, double piso, const char* formato, const char* alvo,
           bool razao = true) {
    std::string r = "-";
    if (razao && !std::isnan(lumora) && !std::isnan(piso) && piso > 0)
        r = Num(lumora / piso, "%.1fx");
    std::printf("  %-40s %12s %12s %10s   %s\n", rotulo, Num(lumora, formato).c_str(),
                Num(piso, formato).c_str(), r.c_str(), alvo);
}

// A long run minute by minute: what a cycle costs must not rise as the history grows, and
// memory may grow only by what the rows added need.
void ImprimeAmostras(const Medida& l, const Medida& p) {
    const auto& a = l.amostras;
    if (a.size() < 3) return;
    // The floor's cost per cycle does not depend on any history: its whole run stands for
    // every interval it did not reach.
    const auto pisoEm = [&](size_t i) {
        if (i < p.amostras.size()) {
            const long ciclos = p.amostras[i].ciclos - p.amostras[i - 1].ciclos;
            if (ciclos > 0) return (p.amostras[i].cpu - p.amostras[i - 1].cpu) * 1000.0 / ciclos;
        }
        return p.cpuPorCiclo;
    };
    std::printf("\n  %8s %9s %14s %14s %8s %10s %6s %13s\n", "until s", "cycles", "CPU/cycle (ms)",
                "floor's (ms)", "ratio", "RSS (MiB)", "fds", "history rows");
    std::printf("  %8.0f %9s %14s %14s %8s %10.1f %6d %13ld\n", a[0].segundos, "-", "-", "-", "-",
                a[0].rss, a[0].descritores, l.linhasAntes + a[0].ciclos);
    for (size_t i = 1; i < a.size(); ++i) {
        const long ciclos = a[i].ciclos - a[i - 1].ciclos;
        const double cpu = ciclos > 0 ? (a[i].cpu - a[i - 1].cpu) * 1000.0 / ciclos : NAN;
        const double piso = pisoEm(i);
        std::printf("  %8.0f %9ld %14s %14s %8s %10.1f %6d %13ld\n", a[i].segundos, ciclos,
                    Num(cpu, "%.4f").c_str(), Num(piso, "%.4f").c_str(),
                    Num(cpu / piso, "%.2fx").c_str(), a[i].rss, a[i].descritores,
                    l.linhasAntes + a[i].ciclos);
    }
    // From the end of the first interval, when the start-up's allocations have settled.
    const Amostra& de = a[1];
    const Amostra& ate = a.back();
    const long linhas = ate.ciclos - de.ciclos;
    if (linhas > 0) {
        const double bytes = (ate.rss - de.rss) * 1024.0 * 1024.0 / static_cast<double>(linhas);
        std::printf(
            "  resident memory from %.0f s to %.0f s: %+.1f MiB for %ld rows added = "
            "%.0f bytes per row (target <= 150)\n",
            de.segundos, ate.segundos, ate.rss - de.rss, linhas, bytes);
    }
    // The last sample may come as the terminals go: the most held while they were there.
    int mais = a.front().descritores;
    for (const auto& x : a) mais = std::max(mais, x.descritores);
    std::printf("  descriptors: %d at the start, at most %d later (target: no growth)\n",
                a.front().descritores, mais);
}

void Imprime(const Cenario& c, const Medida& l, const Medida& p) {
    std::printf("  %-40s %12s %12s %10s   %s\n", "", "Lumora", "floor", "ratio", "target");
    Linha("card reads offered / s", l.s.OfferedPerSecond(), p.s.OfferedPerSecond(), "%.1f", "",
          false);
    Linha("card reads answered / s", l.s.RepliesPerSecond(), p.s.RepliesPerSecond(), "%.1f", "");
    Linha("answered / offered (%)", 100.0 * l.s.replies / std::max<long>(l.s.offered, 1),
          100.0 * p.s.replies / std::max<long>(p.s.offered, 1), "%.1f", "100", false);
    Linha("card read -> reply p50 (ms)", Ms(l.s.Percentile(50)), Ms(p.s.Percentile(50)), "%.3f",
          c.terminais == 1 ? "floor + 0.2" : "");
    // At saturation latency is queueing and the cost of a cycle is what the run measures.
    const bool saturacao = c.intervalo.count() == 0;
    Linha("  p99 (ms)", Ms(l.s.Percentile(99)), Ms(p.s.Percentile(99)), "%.3f",
          saturacao          ? ""
          : c.terminais == 1 ? "floor + 0.2"
                             : "<= 1");
    Linha("  p99.9 (ms)", Ms(l.s.Percentile(99.9)), Ms(p.s.Percentile(99.9)), "%.3f", "");
    Linha("  max (ms)", Ms(l.s.Max()), Ms(p.s.Max()), "%.3f",
          c.terminais == 1 || saturacao ? "" : "<= 10");
    Linha("replies later than 5 s", static_cast<double>(l.atrasadas),
          static_cast<double>(p.atrasadas), "%.0f", "0", false);
    Linha("failed terminals", l.s.failedTerminals, p.s.failedTerminals, "%.0f", "0", false);
    Linha("unexpected frames", static_cast<double>(l.s.unexpected),
          static_cast<double>(p.s.unexpected), "%.0f", "0", false);
    Linha("cycles (turnstile results)", static_cast<double>(l.s.cycles),
          static_cast<double>(p.s.cycles), "%.0f", "", false);
    Linha("  of them refused (%)", 100.0 * l.s.refusals / std::max<long>(l.s.replies, 1),
          100.0 * p.s.refusals / std::max<long>(p.s.replies, 1), "%.1f", "", false);
    Linha("CPU per cycle (ms)", l.cpuPorCiclo, p.cpuPorCiclo, "%.4f",
          saturacao ? "" : "ratio <= 1.5");
    const auto porCpu = [](const Medida& m) {
        return m.cpuTotal > 0 ? static_cast<double>(m.s.cycles) / m.cpuTotal : NAN;
    };
    Linha(c.intervalo.count() == 0 ? "cycles / s at 100 % of one core" : "cycles per CPU second",
          porCpu(l), porCpu(p), "%.0f", "", false);
    Linha("bytes to disk per turnstile result", l.discoPorResultado, NAN, "%.0f", "< 16384");
    Linha("bytes written (write()) per result", l.wcharPorResultado, NAN, "%.0f", "");
    Linha("peak RSS (MiB)", l.picoRss, NAN, "%.1f", "");
    Linha("start-up until listening (s)", l.partida, NAN, "%.2f", "");
    Linha("connect and greet every terminal (s)", l.saudacao, p.saudacao, "%.2f", "", false);
    Linha("quiet again after the load ended (s)", l.dreno, NAN, "%.2f", "");
    std::printf("  %-40s %12.2f   %s\n", "close after SIGTERM (s)", l.fechamento, l.saida.c_str());
    if (l.linhasDepois >= 0) {
        const long esperadas = l.linhasAntes + l.s.cycles;
        std::printf("  %-40s %12ld   (%ld before + %ld cycles%s)\n", "history rows after the close",
                    l.linhasDepois, l.linhasAntes, l.s.cycles,
                    l.linhasDepois == esperadas ? "" : ": MISMATCH");
    }
    if (l.raspagens > 0) {
        std::printf("  %-40s %12ld   (%ld failed, the slowest %.1f ms)\n",
                    "monitoring scrapes during the load", l.raspagens, l.raspagensFalhas,
                    l.raspagemMaxMs);
        std::printf("  %-40s %12s   (the load's card reads: %ld)\n",
                    "card reads in the last scrape", l.leiturasRaspadas.c_str(), l.s.replies);
    }
    ImprimeAmostras(l, p);
    for (const auto* m : {&l, &p}) {
        for (size_t i = 0; i < std::min<size_t>(3, m->s.problems.size()); ++i)
            std::printf("  %s problem: %s\n", m == &l ? "Lumora" : "floor",
                        m->s.problems[i].c_str());
    }
}

const char* TipoSistemaArquivos(const fs::path& p) {
    struct statfs s {};
    if (::statfs(p.c_str(), &s) != 0) return "?";
    switch (static_cast<unsigned long>(s.f_type)) {
        case 0x01021994UL:
            return "tmpfs";
        case 0xEF53UL:
            return "ext2/3/4";
        case 0x58465342UL:
            return "xfs";
        case 0x9123683EUL:
            return "btrfs";
        case 0x794C7630UL:
            return "overlayfs";
        default:
            return "other";
    }
}

}  // namespace

int main(int argc, char** argv) {
    sigset_t sinais;
    sigemptyset(&sinais);
    sigaddset(&sinais, SIGINT);
    sigaddset(&sinais, SIGTERM);
    sigaddset(&sinais, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &sinais, nullptr);
    std::thread(VigiaSinais, sinais).detach();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    try {
        const Opcoes o = LeOpcoes(argc, argv);
        std::error_code e;
        if (!fs::is_regular_file(o.lumora, e) || ::access(o.lumora.c_str(), X_OK) != 0)
            throw Falha("the Lumora executable '" + o.lumora +
                        "' is missing or not executable (build the Lumora target, or give "
                        "--lumora PATH)");
        if (!fs::is_directory(o.pastaTemp, e))
            throw Falha("--folder '" + o.pastaTemp.string() + "' is not a folder");
        const char* tipo = TipoSistemaArquivos(o.pastaTemp);

        std::mt19937_64 sorteio(o.semente);
        std::vector<std::string> cartoes;
        std::uniform_int_distribution<int> qual(0, o.cartoes - 1);
        for (int i = 0; i < 4096; ++i) {
            // Numbers past the list's are on no list: refused in white-list mode.
            const bool recusada = i * 100 < o.recusadas * 4096;
            cartoes.push_back(common::IntToStrMin(recusada ? o.cartoes + i : qual(sorteio), 16));
        }
        std::shuffle(cartoes.begin(), cartoes.end(), sorteio);

        std::printf("Lumora under venue load: %s\n", o.lumora.c_str());
        std::printf(
            "program folders in %s (%s); white list of %d cards; card reads at random moments; "
            "seed %llu\n",
            o.pastaTemp.c_str(), tipo, o.cartoes, static_cast<unsigned long long>(o.semente));
        if (std::string(tipo) == "tmpfs")
            std::printf("note: on tmpfs nothing reaches a disk, so the disk-write figure is 0\n");

        std::vector<Cenario> cenarios;
        for (char l : o.cenarios) {
            if (std::any_of(cenarios.begin(), cenarios.end(),
                            [&](auto& c) { return c.letra == l; }))
                continue;
            if (l == 'a')
                cenarios.push_back({'a', "start of the day (empty history)", o.terminais, 0,
                                    o.intervalo, o.duracao, o.duracaoPiso});
            if (l == 'b')
                cenarios.push_back({'b',
                                    "end of a busy night (history of " +
                                        std::to_string(o.linhasHistorico) + " rows)",
                                    o.terminais, o.linhasHistorico, o.intervalo, o.duracao,
                                    o.duracaoPiso});
            if (l == 'c')
                cenarios.push_back({'c', "one terminal alone (empty history)", 1, 0,
                                    o.intervaloSozinho, o.duracaoSozinho, o.duracaoPiso});
            if (l == 's')
                cenarios.push_back(
                    {'s', "saturation (history of " + std::to_string(o.linhasHistorico) + " rows)",
                     o.terminais, o.linhasHistorico, 0ms, std::min<seconds>(o.duracao, 20s),
                     o.duracaoPiso});
        }
        for (const auto& c : cenarios) {
            const std::string ritmo = c.intervalo.count() == 0
                                          ? std::string("each cycling as fast as answers come")
                                          : "a card read and turnstile result every " +
                                                std::to_string(c.intervalo.count()) +
                                                " ms on average each";
            std::printf("\n(%c) %s: %d terminal%s, %s, %lld s", c.letra, c.titulo.c_str(),
                        c.terminais, c.terminais == 1 ? "" : "s", ritmo.c_str(),
                        static_cast<long long>(c.duracao.count()));
            if (o.duracaoPiso.count() > 0 && o.duracaoPiso < c.duracao)
                std::printf(" (the floor %lld s)", static_cast<long long>(o.duracaoPiso.count()));
            if (o.caixa.count() > 0)
                std::printf("; the card list saved again every %lld s, one card more each time",
                            static_cast<long long>(o.caixa.count()));
            std::printf("; figures measured under whatever else this machine runs\n");
            const Medida l = MedeLumora(o, c, cartoes, sorteio);
            const Medida p = MedePiso(o, c, cartoes);
            Imprime(c, l, p);
        }
        return 0;
    } catch (const Falha& e) {
        std::fprintf(stderr, "bench_lumora_load: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_lumora_load: %s\n", e.what());
        return 2;
    }
}
