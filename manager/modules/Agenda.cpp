// The address book of modules behind routers.
#include "manager/modules/Agenda.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "common/Exception.h"
#include "common/Profile.h"
#include "manager/modules/EndpointUDP.h"

namespace modrevo {
namespace {

// Its own section: the response time's section and keys stay as they always were.
const std::string kSecao = "AgendaEnderecos";
const std::string kChaveQuantidade = "Itens";

std::string Apara(const std::string& texto) {
    std::size_t inicio = 0, fim = texto.size();
    while (inicio < fim && static_cast<unsigned char>(texto[inicio]) <= 32) ++inicio;
    while (fim > inicio && static_cast<unsigned char>(texto[fim - 1]) <= 32) --fim;
    return texto.substr(inicio, fim - inicio);
}

std::string Quad(uint32_t endereco) {
    in_addr a{};
    a.s_addr = htonl(endereco);
    char texto[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, texto, sizeof texto);
    return texto;
}

bool LeQuad(const std::string& texto, uint32_t& endereco) {
    uint32_t rede = 0;
    if (!LeEnderecoIPv4(Apara(texto), rede)) return false;
    endereco = ntohl(rede);
    return true;
}

// Addresses no module answers from: "this network" (0.x) and multicast, reserved and the
// limited broadcast (224.0.0.0 and up), which a unicast search must never send to.
bool ForaDoAlcance(uint32_t primeiro, uint32_t ultimo) {
    return (primeiro >> 24) == 0 || ultimo >= 0xE0000000u;
}

bool Borda(uint32_t endereco) {
    const uint32_t ultimoOcteto = endereco & 0xFFu;
    return ultimoOcteto == 0 || ultimoOcteto == 0xFFu;
}

uint64_t ContaEnderecos(const EntradaAgenda& e) {
    uint64_t n = 0;
    for (uint64_t a = e.primeiro; a <= e.ultimo; ++a)
        if (!e.semBordas || !Borda(static_cast<uint32_t>(a))) ++n;
    return n;
}

const std::string kNaoEEndereco = "\" n\xE3o \xE9 um endere\xE7o IP (ex.: 10.1.2.30).";

}  // namespace

std::optional<EntradaAgenda> LeEntradaAgenda(const std::string& bruto, std::string& motivo) {
    const std::string texto = Apara(bruto);
    motivo.clear();
    if (texto.empty()) {
        motivo = "Digite um endere\xE7o ou uma faixa.";
        return std::nullopt;
    }
    EntradaAgenda e;
    e.texto = texto;
    if (const auto barra = texto.find('/'); barra != std::string::npos) {
        const std::string base = texto.substr(0, barra);
        const std::string prefixoTexto = Apara(texto.substr(barra + 1));
        uint32_t rede = 0;
        if (!LeQuad(base, rede)) {
            motivo = "\"" + Apara(base) + kNaoEEndereco;
            return std::nullopt;
        }
        int prefixo = -1;
        if (prefixoTexto.size() == 2 && std::isdigit(static_cast<unsigned char>(prefixoTexto[0])) &&
            std::isdigit(static_cast<unsigned char>(prefixoTexto[1])))
            prefixo = std::stoi(prefixoTexto);
        if (prefixo < 22 || prefixo > 32) {
            motivo = "O prefixo vai de /22 (1024 endere\xE7os) a /32.";
            return std::nullopt;
        }
        const uint32_t mascara = prefixo == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefixo);
        if ((rede & ~mascara) != 0) {
            motivo = Apara(base) +
                     " n\xE3o \xE9 o in\xED"
                     "cio de uma rede /" +
                     std::to_string(prefixo) + ": use " + Quad(rede & mascara) + "/" +
                     std::to_string(prefixo) + ".";
            return std::nullopt;
        }
        e.primeiro = rede;
        e.ultimo = rede | ~mascara;
        // The network's own address and its broadcast are no module's.
        if (prefixo <= 30) {
            ++e.primeiro;
            --e.ultimo;
        }
    } else if (const auto traco = texto.find('-'); traco != std::string::npos) {
        const std::string a = texto.substr(0, traco), b = texto.substr(traco + 1);
        if (!LeQuad(a, e.primeiro)) {
            motivo = "\"" + Apara(a) + kNaoEEndereco;
            return std::nullopt;
        }
        if (!LeQuad(b, e.ultimo)) {
            motivo = "\"" + Apara(b) + kNaoEEndereco;
            return std::nullopt;
        }
        if (e.primeiro > e.ultimo) {
            motivo =
                "A faixa come\xE7"
                "a depois de onde termina.";
            return std::nullopt;
        }
        if (e.ultimo - e.primeiro >= kMaxEnderecosEntrada) {
            motivo = "Uma faixa tem no m\xE1ximo 1024 endere\xE7os (uma rede /22).";
            return std::nullopt;
        }
        // "10.1.2.0-10.1.2.255" is a /24 written out, and its ends are no module's either; sent
        // to, the last one may even be a whole segment's broadcast.
        e.semBordas = e.primeiro != e.ultimo;
        if (e.semBordas && ContaEnderecos(e) == 0) {
            motivo = "A faixa s\xF3 tem endere\xE7os de rede e de broadcast (.0 e .255).";
            return std::nullopt;
        }
    } else {
        if (!LeQuad(texto, e.primeiro)) {
            motivo = "\"" + texto + kNaoEEndereco;
            return std::nullopt;
        }
        e.ultimo = e.primeiro;
    }
    if (ForaDoAlcance(e.primeiro, e.ultimo)) {
        motivo =
            "Endere\xE7os 0.x.x.x, de multicast ou de broadcast n\xE3o s\xE3o de m\xF3"
            "dulos.";
        return std::nullopt;
    }
    return e;
}

std::vector<std::string> EnderecosDaAgenda(const std::vector<EntradaAgenda>& agenda) {
    std::vector<std::string> r;
    std::set<uint32_t> vistos;
    for (const EntradaAgenda& e : agenda) {
        for (uint64_t a = e.primeiro; a <= e.ultimo; ++a) {
            if (e.semBordas && Borda(static_cast<uint32_t>(a))) continue;
            if (vistos.insert(static_cast<uint32_t>(a)).second)
                r.push_back(Quad(static_cast<uint32_t>(a)));
        }
    }
    return r;
}

bool AgendaProcura(const std::vector<EntradaAgenda>& agenda, const std::string& endereco) {
    uint32_t a = 0;
    if (!LeQuad(endereco, a)) return false;
    for (const EntradaAgenda& e : agenda)
        if (a >= e.primeiro && a <= e.ultimo && !(e.semBordas && Borda(a))) return true;
    return false;
}

std::string MotivoRecusaNaAgenda(const std::vector<EntradaAgenda>& agenda,
                                 const EntradaAgenda& nova) {
    for (const EntradaAgenda& e : agenda) {
        if (e.texto == nova.texto) return nova.texto + " j\xE1 est\xE1 na agenda.";
    }
    std::vector<EntradaAgenda> todas = agenda;
    todas.push_back(nova);
    if (EnderecosDaAgenda(todas).size() > kMaxEnderecosAgenda)
        return "A agenda passaria de " + std::to_string(kMaxEnderecosAgenda) +
               " endere\xE7os; cada um custa um datagrama a cada atualiza\xE7\xE3o.";
    return {};
}

std::vector<EntradaAgenda> CarregaAgenda(const std::filesystem::path& arquivo) {
    std::vector<EntradaAgenda> agenda;
    try {
        const common::ProfileFile perfil(arquivo);
        const int itens = perfil.ReadInteger(kSecao, kChaveQuantidade, 0);
        for (int i = 1; i <= itens && i <= static_cast<int>(kMaxEnderecosAgenda); ++i) {
            const auto texto = perfil.Find(kSecao, "Item" + std::to_string(i));
            if (!texto) continue;
            std::string motivo;
            auto e = LeEntradaAgenda(*texto, motivo);
            if (e && MotivoRecusaNaAgenda(agenda, *e).empty()) agenda.push_back(std::move(*e));
        }
    } catch (const common::EFileError&) {
        // A file we cannot read counts as no file, as for the response time.
    }
    return agenda;
}

void SalvaAgenda(const std::filesystem::path& arquivo, const std::vector<EntradaAgenda>& agenda) {
    try {
        std::error_code ignorado;
        std::filesystem::create_directories(arquivo.parent_path(), ignorado);
        common::ProfileFile destino(arquivo);
        const int antes = std::min<int>(destino.ReadInteger(kSecao, kChaveQuantidade, 0),
                                        static_cast<int>(kMaxEnderecosAgenda));
        destino.WriteString(kSecao, kChaveQuantidade, std::to_string(agenda.size()));
        for (std::size_t i = 0; i < agenda.size(); ++i)
            destino.WriteString(kSecao, "Item" + std::to_string(i + 1), agenda[i].texto);
        // The profile functions cannot delete a key: entries past the end are emptied.
        for (int i = static_cast<int>(agenda.size()) + 1; i <= antes; ++i) {
            if (destino.Find(kSecao, "Item" + std::to_string(i)))
                destino.WriteString(kSecao, "Item" + std::to_string(i), "");
        }
        destino.Save();
    } catch (const common::EFileError&) {
        throw common::EFileError("Unable to write to " + arquivo.string());
    }
}

}  // namespace modrevo
