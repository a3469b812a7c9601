// Modrevo without a window: the modules listed, and one module changed by its MAC.
#include "manager/modules/LinhaComando.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include "common/Text1252.h"
#include "manager/modules/Agenda.h"
#include "manager/modules/Atualizacao.h"
#include "manager/modules/Configuracao.h"
#include "manager/modules/EndpointUDP.h"
#include "manager/modules/Listas.h"
#include "manager/modules/Preferencias.h"
#include "manager/modules/Respostas.h"

namespace modrevo {

const char kAjudaLinhaComando[] =
    "Without a window (no display needed):\n"
    "  --list                 list the modules of both families and end\n"
    "  --set MAC              change the first-family module with this MAC and end;\n"
    "                         only the values given and different from the module's go out\n"
    "    --ip A.B.C.D         its new address\n"
    "    --netmask A.B.C.D    its new netmask\n"
    "    --gateway A.B.C.D    its new gateway\n"
    "    --destination A.B.C.D  the computer its gate terminal talks to (Vexa modules)\n"
    "    --dhcp on|off        its DHCP mode; address, netmask and gateway need it off\n"
    "    --force              take an address another module has, or one outside the book\n"
    "  --json                 the list, or the changed module, as JSON\n"
    "  --book ENTRY           search this address, network or range behind routers\n"
    "                         (repeatable; replaces the book stored in Modrevo.INI)\n"
    "  --response-time MS     wait this long for each reply (else the stored setting)\n"
    "  --verbose              every datagram received, on standard error\n"
    "\n"
    "Exit status: 0 done; 1 refused or failed (no module with that MAC, a network\n"
    "error, a value the module cannot take); 2 wrong command line or value.\n";

namespace {

const std::set<std::string> kOpcoes = {"--list",          "--set",  "--json",    "--book",
                                       "--response-time", "--ip",   "--netmask", "--gateway",
                                       "--destination",   "--dhcp", "--force",   "--verbose"};
const std::set<std::string> kComValor = {"--set",     "--book",    "--response-time", "--ip",
                                         "--netmask", "--gateway", "--destination",   "--dhcp"};

std::string NomeDaOpcao(const std::string& argumento) {
    return argumento.substr(0, argumento.find('='));
}

std::string Utf8(const std::string& bytes) { return common::Cp1252ToUtf8(bytes); }

// What the dialog's address field shows for a column's text: each part read as a number, cut
// to 0..255, without leading zeros; "0.0.0.0" for an empty column.
std::string ComoOCampo(const std::string& coluna) {
    int octetos[4] = {0, 0, 0, 0};
    std::size_t inicio = 0;
    for (int i = 0; i < 4 && inicio <= coluna.size(); ++i) {
        const std::size_t ponto = std::min(coluna.find('.', inicio), coluna.size());
        int valor = 0;
        for (std::size_t j = inicio; j < ponto; ++j) {
            if (!std::isdigit(static_cast<unsigned char>(coluna[j]))) break;
            valor = (valor * 10 + (coluna[j] - '0')) % 256;
        }
        octetos[i] = valor;
        inicio = ponto + 1;
    }
    return std::to_string(octetos[0]) + "." + std::to_string(octetos[1]) + "." +
           std::to_string(octetos[2]) + "." + std::to_string(octetos[3]);
}

// The refresh's window, on a terminal: nothing to process, boxes are lines on standard error.
class TJanelaConsole : public IJanelaGerente {
  public:
    TJanelaConsole(const OpcoesLinhaComando& o, std::ostream& erros) : opcoes_(o), erros_(erros) {}

    void ProcessaMensagens() override {}
    void Ampulheta(bool) override {}
    void LimpaMemos() override {}
    void AdicionaMemo1(const std::string& linha) override { Detalhe(linha); }
    void AdicionaMemo2(const std::string& linha) override { Detalhe(linha); }
    void Aviso(const std::string& texto) override {
        erros_ << "Modrevo: " << Utf8(texto) << "\n";
        ++falhas;
    }
    void MostraContagem(const std::string&) override {}
    std::string CarregaTempoResposta() override {
        return opcoes_.tempo ? *opcoes_.tempo
                             : modrevo::CarregaTempoResposta(CaminhoPreferencias(), kTempoPadrao);
    }
    void ParaTimer1() override {}
    void IniciaTimer1() override {}
    void MensagemSimples(const std::string& texto) override { Aviso(texto); }
    void Pausa(int milissegundos) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milissegundos));
    }
    std::vector<EntradaAgenda> CarregaAgenda() override {
        if (!opcoes_.agenda) return modrevo::CarregaAgenda(CaminhoPreferencias());
        std::vector<EntradaAgenda> agenda;
        for (const std::string& texto : *opcoes_.agenda) {
            std::string motivo;
            if (auto e = LeEntradaAgenda(texto, motivo)) agenda.push_back(*e);
        }
        return agenda;
    }
    void Diagnostico(const std::string& linha) override {
        erros_ << "Modrevo: " << Utf8(linha) << "\n";
    }

    int falhas = 0;

  private:
    void Detalhe(const std::string& linha) {
        if (opcoes_.detalhes) erros_ << Utf8(linha) << "\n";
    }

    const OpcoesLinhaComando& opcoes_;
    std::ostream& erros_;
};

// The configuration dialog answered from the command line: the fields show the row as the
// window's would, the options change them, and what the window would grey out is never
// sent. Where the window would ask, --force answers Yes and its absence refuses.
class TDialogoConsole : public IDialogoConfigura {
  public:
    explicit TDialogoConsole(const OpcoesLinhaComando& o) : opcoes_(o) {}

    void Preenche(const CamposConfiguracao& c, bool vexa) override {
        preenchidos_ = c;
        for (std::string* e : {&preenchidos_.ip, &preenchidos_.mascara, &preenchidos_.gateway,
                               &preenchidos_.ipComputador})
            *e = ComoOCampo(*e);
        campos_ = preenchidos_;
        vexa_ = vexa;
        outros_.clear();
        agenda_.clear();
        soPorUnicast_ = false;
    }
    bool Executa() override {
        if (opcoes_.dhcp) campos_.dhcp = *opcoes_.dhcp ? kDhcpAtivado : kDhcpDesativado;
        const bool dhcpLigado = campos_.dhcp == kDhcpAtivado;
        if (dhcpLigado && (opcoes_.ip || opcoes_.mascara || opcoes_.gateway))
            return Recusa(
                "its DHCP mode is on, so its address, netmask and gateway are not sent; "
                "add --dhcp off");
        if (opcoes_.destino && !vexa_)
            return Recusa("only a Vexa module takes a destination; nothing sent");
        if (opcoes_.ip) campos_.ip = *opcoes_.ip;
        if (opcoes_.mascara) campos_.mascara = *opcoes_.mascara;
        if (opcoes_.gateway) campos_.gateway = *opcoes_.gateway;
        if (opcoes_.destino) campos_.ipComputador = *opcoes_.destino;
        if (!opcoes_.forca &&
            std::find(outros_.begin(), outros_.end(), campos_.ip) != outros_.end())
            return Recusa("another listed module has the address " + campos_.ip +
                          ": both would take every command sent there; --force to go on");
        if (!opcoes_.forca && soPorUnicast_ && campos_.ip != preenchidos_.ip &&
            !AgendaProcura(agenda_, campos_.ip))
            return Recusa(
                "the module is found only through the address book, which does not "
                "search " +
                campos_.ip + ": no refresh would find it there; --force to go on");
        return true;
    }
    CamposConfiguracao Le() const override {
        CamposConfiguracao c = campos_;
        if (c.dhcp == kDhcpAtivado) {
            c.ip = preenchidos_.ip;
            c.mascara = preenchidos_.mascara;
            c.gateway = preenchidos_.gateway;
        }
        if (!vexa_) c.ipComputador = preenchidos_.ipComputador;
        return c;
    }
    void DefineEnderecosDeOutros(const std::vector<std::string>& e) override { outros_ = e; }
    void DefineAgenda(const std::vector<EntradaAgenda>& a, bool soPorUnicast) override {
        agenda_ = a;
        soPorUnicast_ = soPorUnicast;
    }

    std::string recusa;

  private:
    bool Recusa(const std::string& motivo) {
        recusa = motivo;
        return false;
    }

    const OpcoesLinhaComando& opcoes_;
    CamposConfiguracao preenchidos_, campos_;
    std::vector<std::string> outros_;
    std::vector<EntradaAgenda> agenda_;
    bool vexa_ = false;
    bool soPorUnicast_ = false;
};

struct TAbridorNenhum : IAbridor {
    void AbreEAguarda(const std::string&) override {}
};

std::string Json(const std::string& bytes) { return common::JsonString(Utf8(bytes)); }

std::string JsonOuNulo(const std::string& bytes) { return bytes.empty() ? "null" : Json(bytes); }

std::string Celula(const common::MemTable& t, int linha, int campo) {
    const common::FieldValue v = t.ValueAt(linha, campo);
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : std::string();
}

// The DHCP column for a script: on, off, or unknown.
std::string DhcpJson(const std::string& coluna) {
    if (coluna == kDhcpAtivado) return "true";
    if (coluna == kDhcpDesativado) return "false";
    return "null";
}
std::string DhcpTexto(const std::string& coluna) {
    if (coluna == kDhcpAtivado) return "on";
    if (coluna == kDhcpDesativado) return "off";
    return "-";
}

std::string ObjetoPrimeira(const TAtualizacao& a, int i) {
    const common::MemTable& t = a.tbmColetores;
    const std::string mac = Celula(t, i, cMACaddress);
    return "{\"ip\": " + Json(Celula(t, i, cIp)) + ", \"mac\": " + Json(mac) +
           ", \"netmask\": " + JsonOuNulo(Celula(t, i, cNetmask)) +
           ", \"gateway\": " + JsonOuNulo(Celula(t, i, cGateway)) +
           ", \"destination\": " + JsonOuNulo(Celula(t, i, cIpDestino)) +
           ", \"dhcp\": " + DhcpJson(Celula(t, i, cDHCP)) +
           ", \"description\": " + Json(Celula(t, i, cDescricao)) +
           ", \"port\": " + Json(Celula(t, i, cPorta)) +
           ", \"foundBy\": " + (a.SoPorUnicast(mac) ? "\"book\"" : "\"broadcast\"") +
           ", \"sharedAddress\": " + (a.IpRepetido(i) ? "true" : "false") + "}";
}

std::string Coluna(const std::string& texto, std::size_t largura) {
    const std::string t = texto.empty() ? "-" : Utf8(texto);
    return t.size() >= largura ? t + " " : t + std::string(largura - t.size(), ' ');
}

std::string LinhaPrimeira(const TAtualizacao& a, int i) {
    const common::MemTable& t = a.tbmColetores;
    std::string r = Coluna("tibbo", 8) + Coluna(Celula(t, i, cIp), 16) +
                    Coluna(Celula(t, i, cMACaddress), 21) + Coluna(Celula(t, i, cNetmask), 16) +
                    Coluna(Celula(t, i, cGateway), 16) + Coluna(Celula(t, i, cIpDestino), 16) +
                    Coluna(DhcpTexto(Celula(t, i, cDHCP)), 5) + Utf8(Celula(t, i, cDescricao));
    if (a.SoPorUnicast(Celula(t, i, cMACaddress))) r += " [book]";
    if (a.IpRepetido(i)) r += " [same IP as another module]";
    return r;
}

void Lista(const TAtualizacao& a, bool json, std::ostream& saida) {
    const common::MemTable& t = a.tbmColetores;
    const common::MemTable& m = a.tbmModulos;
    if (json) {
        saida << "{\"tibbo\": [";
        for (int i = 0; i < t.RecordCount(); ++i)
            saida << (i ? ",\n  " : "\n  ") << ObjetoPrimeira(a, i);
        saida << "],\n \"brivant\": [";
        for (int i = 0; i < m.RecordCount(); ++i)
            saida << (i ? ",\n  " : "\n  ") << "{\"ip\": " << Json(Celula(m, i, mIp))
                  << ", \"mac\": " << Json(Celula(m, i, mMac))
                  << ", \"name\": " << Json(Celula(m, i, mEquipamento)) << "}";
        saida << "]}\n";
        return;
    }
    saida << Coluna("FAMILY", 8) << Coluna("IP", 16) << Coluna("MAC", 21) << Coluna("NETMASK", 16)
          << Coluna("GATEWAY", 16) << Coluna("DESTINATION", 16) << Coluna("DHCP", 5)
          << "DESCRIPTION\n";
    for (int i = 0; i < t.RecordCount(); ++i) saida << LinhaPrimeira(a, i) << "\n";
    for (int i = 0; i < m.RecordCount(); ++i)
        saida << Coluna("brivant", 8) << Coluna(Celula(m, i, mIp), 16)
              << Coluna(Celula(m, i, mMac), 21) << Coluna("", 16) << Coluna("", 16)
              << Coluna("", 16) << Coluna("", 5) << Utf8(Celula(m, i, mEquipamento)) << "\n";
}

bool MesmoMac(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

int LinhaDoMac(const common::MemTable& t, const std::string& mac) {
    for (int i = 0; i < t.RecordCount(); ++i)
        if (MesmoMac(Celula(t, i, cMACaddress), mac)) return i;
    return -1;
}

}  // namespace

bool PedeLinhaComando(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (kOpcoes.count(NomeDaOpcao(argv[i]))) return true;
    return false;
}

std::optional<std::string> EnderecoDeOpcao(const std::string& texto) {
    std::string r;
    std::size_t inicio = 0;
    for (int parte = 0; parte < 4; ++parte) {
        const std::size_t ponto = parte < 3 ? texto.find('.', inicio) : texto.size();
        if (ponto == std::string::npos) return std::nullopt;
        const std::string numero = texto.substr(inicio, ponto - inicio);
        if (numero.empty() || numero.size() > 3 ||
            !std::all_of(numero.begin(), numero.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return std::nullopt;
        const int valor = std::stoi(numero);
        if (valor > 255) return std::nullopt;
        r += (parte ? "." : "") + std::to_string(valor);
        inicio = ponto + 1;
    }
    return r;
}

std::optional<OpcoesLinhaComando> LeOpcoes(const std::vector<std::string>& argumentos,
                                           std::string& erro) {
    OpcoesLinhaComando o;
    bool lista = false, altera = false;
    const auto falha = [&](const std::string& texto) {
        erro = texto;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < argumentos.size(); ++i) {
        const std::string& argumento = argumentos[i];
        const std::string nome = NomeDaOpcao(argumento);
        if (!kOpcoes.count(nome)) return falha("unknown option '" + argumento + "'");
        std::string valor;
        const bool comIgual = nome.size() < argumento.size();
        if (kComValor.count(nome)) {
            if (comIgual) {
                valor = argumento.substr(nome.size() + 1);
            } else if (i + 1 < argumentos.size()) {
                valor = argumentos[++i];
            } else {
                return falha("option '" + nome + "' needs a value");
            }
        } else if (comIgual) {
            return falha("option '" + nome + "' takes no value");
        }
        const auto endereco = [&](std::optional<std::string>& destino) -> bool {
            const auto lido = EnderecoDeOpcao(valor);
            if (!lido) {
                erro = nome + ": '" + valor + "' is not an IPv4 address (four numbers 0 to 255)";
                return false;
            }
            destino = lido;
            return true;
        };
        if (nome == "--list") {
            lista = true;
        } else if (nome == "--set") {
            if (valor.empty()) return falha("--set needs the module's MAC");
            altera = true;
            o.mac = valor;
        } else if (nome == "--json") {
            o.json = true;
        } else if (nome == "--force") {
            o.forca = true;
        } else if (nome == "--verbose") {
            o.detalhes = true;
        } else if (nome == "--book") {
            std::string motivo;
            const auto e = LeEntradaAgenda(valor, motivo);
            if (!o.agenda) o.agenda.emplace();
            std::vector<EntradaAgenda> antes;
            for (const std::string& t : *o.agenda) {
                std::string m;
                antes.push_back(*LeEntradaAgenda(t, m));
            }
            if (e) motivo = MotivoRecusaNaAgenda(antes, *e);
            if (!motivo.empty()) return falha("--book '" + valor + "': " + Utf8(motivo));
            o.agenda->push_back(valor);
        } else if (nome == "--response-time") {
            const bool numero = !valor.empty() && valor.size() <= 6 &&
                                std::all_of(valor.begin(), valor.end(), [](char c) {
                                    return std::isdigit(static_cast<unsigned char>(c));
                                });
            if (!numero) return falha("--response-time takes milliseconds, 0 to 999999");
            o.tempo = valor;
        } else if (nome == "--dhcp") {
            if (valor != "on" && valor != "off") return falha("--dhcp takes on or off");
            o.dhcp = valor == "on";
        } else if (nome == "--ip" && !endereco(o.ip)) {
            return std::nullopt;
        } else if (nome == "--netmask" && !endereco(o.mascara)) {
            return std::nullopt;
        } else if (nome == "--gateway" && !endereco(o.gateway)) {
            return std::nullopt;
        } else if (nome == "--destination" && !endereco(o.destino)) {
            return std::nullopt;
        }
    }
    if (lista == altera) return falha("give either --list or --set MAC");
    const bool valores = o.ip || o.mascara || o.gateway || o.destino || o.dhcp;
    if (lista && (valores || o.forca))
        return falha("--ip, --netmask, --gateway, --destination, --dhcp and --force go with --set");
    if (altera && !valores)
        return falha(
            "--set needs at least one of --ip, --netmask, --gateway, --destination, "
            "--dhcp");
    o.acao = lista ? OpcoesLinhaComando::Acao::Lista : OpcoesLinhaComando::Acao::Altera;
    return o;
}

int ExecutaLinhaComando(const OpcoesLinhaComando& opcoes, std::ostream& saida,
                        std::ostream& erros) {
    TJanelaConsole janela(opcoes, erros);
    TUDPEndpoint udpClient(8192), udpClientAux(8192), udpSafe(512);
    TAtualizacao atualizacao(janela, udpClient, udpClientAux, udpSafe);
    atualizacao.FormCreate();
    try {
        atualizacao.AtualizaListas(false);
        if (opcoes.acao == OpcoesLinhaComando::Acao::Lista) {
            Lista(atualizacao, opcoes.json, saida);
            return janela.falhas ? kSaidaFalha : kSaidaOk;
        }

        common::MemTable& t = atualizacao.tbmColetores;
        const int linha = LinhaDoMac(t, opcoes.mac);
        if (linha < 0) {
            erros << "Modrevo: no first-family module with MAC " << opcoes.mac << " answered ("
                  << t.RecordCount() << " listed); nothing sent\n";
            return kSaidaFalha;
        }
        t.MoveTo(linha);
        const std::string mac = t.AsString(cMACaddress);
        if (!ModuloConfiguravel(t.AsString(cDescricao))) {
            erros << "Modrevo: " << mac << " (" << Utf8(t.AsString(cDescricao))
                  << ") is no gate module: its description names no Torvane, Vexa or "
                     "Castrell; nothing sent\n";
            return kSaidaFalha;
        }
        TDialogoConsole dialogo(opcoes);
        TAbridorNenhum abridor;
        TConfiguracao configuracao(janela, atualizacao, dialogo, abridor, "0.0.0.0");
        const int falhasAntes = janela.falhas;
        configuracao.ConfiguraColetor();
        if (!dialogo.recusa.empty()) {
            erros << "Modrevo: " << mac << ": " << dialogo.recusa << "\n";
            return kSaidaFalha;
        }
        const int depois = LinhaDoMac(t, mac);
        if (depois < 0) {
            erros << "Modrevo: " << mac
                  << ": the commands went out, but the module did not answer the refresh "
                     "after them (it may still be restarting)\n";
        } else if (opcoes.json) {
            saida << ObjetoPrimeira(atualizacao, depois) << "\n";
        } else {
            saida << LinhaPrimeira(atualizacao, depois) << "\n";
        }
        return janela.falhas > falhasAntes ? kSaidaFalha : kSaidaOk;
    } catch (const std::exception& e) {
        erros << "Modrevo: " << Utf8(e.what()) << "\n";
        return kSaidaFalha;
    }
}

}  // namespace modrevo
