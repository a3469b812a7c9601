#include "receiver/control/LeitorHistorico.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/Convert.h"
#include "common/Exception.h"
#include "receiver/control/DataPacket.h"
#include "receiver/control/TableFile.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;

constexpr size_t kBloco = 1 << 20;
// The widths of the history table's two text columns: what its store rule keeps.
constexpr size_t kLarguraCracha = 16;
constexpr size_t kLarguraEstado = 20;

// Thrown inside the reader when the file is one for the full reader.
struct NaoConhecido {};

bool Espaco(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The file's bytes, a block at a time; what is consumed goes when the next block comes.
class Fonte {
  public:
    explicit Fonte(const fs::path& arquivo) : caminho_(arquivo.string()) {
        fd_ = ::open(caminho_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) Falha(errno);
    }
    ~Fonte() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fonte(const Fonte&) = delete;
    Fonte& operator=(const Fonte&) = delete;

    // One more block after what is there; false at the end of the file.
    bool Le() {
        buf_.erase(0, pos_);
        pos_ = 0;
        const size_t antes = buf_.size();
        buf_.resize(antes + kBloco);
        ssize_t n;
        do {
            n = ::read(fd_, buf_.data() + antes, kBloco);
        } while (n < 0 && errno == EINTR);
        if (n < 0) Falha(errno);
        buf_.resize(antes + static_cast<size_t>(n));
        return n > 0;
    }

    // The next markup ("<...>"), valid until the next call; nothing at the end of the file.
    // Text between markups must be blank.
    std::optional<std::string_view> Marca() {
        for (;;) {
            size_t i = pos_;
            while (i < buf_.size() && Espaco(buf_[i])) ++i;
            pos_ = i;
            if (i == buf_.size()) {
                if (!Le()) return std::nullopt;
                continue;
            }
            if (buf_[i] != '<') throw NaoConhecido{};
            const size_t fim = FimDaMarca(i);
            if (fim == std::string::npos) {
                if (!Le()) throw EDataPacketError(kMismatchInDatapacket);  // cut short
                continue;
            }
            pos_ = fim;
            return std::string_view(buf_).substr(i, fim - i);
        }
    }

  private:
    // Just past the markup that begins at `i`, or npos when it is not all here yet.
    size_t FimDaMarca(size_t i) const {
        const std::string_view resto = std::string_view(buf_).substr(i);
        if (resto.starts_with("<!--")) {
            const size_t f = resto.find("-->", 4);
            return f == std::string_view::npos ? f : i + f + 3;
        }
        if (resto.starts_with("<?")) {
            const size_t f = resto.find("?>", 2);
            return f == std::string_view::npos ? f : i + f + 2;
        }
        if (resto.size() >= 2 && resto[1] == '!') {
            if (resto.size() < 4) return std::string_view::npos;
            throw NaoConhecido{};  // a declaration or character data: the full reader's
        }
        char aspas = 0;
        for (size_t k = 1; k < resto.size(); ++k) {
            const char c = resto[k];
            if (aspas) {
                if (c == aspas) aspas = 0;
            } else if (c == '"' || c == '\'') {
                aspas = c;
            } else if (c == '>') {
                return i + k + 1;
            }
        }
        return std::string_view::npos;
    }

    [[noreturn]] void Falha(int erro) const {
        throw common::EFileError("Cannot open file \"" + caminho_ + "\". " + std::strerror(erro));
    }

    std::string caminho_;
    int fd_ = -1;
    std::string buf_;
    size_t pos_ = 0;
};

struct Marca {
    std::string_view nome;
    std::string_view atributos;  // between the name and the end
    bool fecha = false;          // </NAME>
    bool vazia = false;          // <NAME .../>
};

Marca Divide(std::string_view m) {
    Marca r;
    m.remove_prefix(1);
    m.remove_suffix(1);
    if (m.starts_with('/')) {
        r.fecha = true;
        m.remove_prefix(1);
    }
    if (m.ends_with('/')) {
        r.vazia = true;
        m.remove_suffix(1);
    }
    size_t n = 0;
    while (n < m.size() && !Espaco(m[n])) ++n;
    r.nome = m.substr(0, n);
    r.atributos = m.substr(n);
    return r;
}

// Calls `par(name, raw value)` for each attribute; raw values keep their escapes.
template <class F>
void Atributos(std::string_view s, F&& par) {
    size_t i = 0;
    for (;;) {
        while (i < s.size() && Espaco(s[i])) ++i;
        if (i == s.size()) return;
        const size_t inicio = i;
        while (i < s.size() && s[i] != '=' && !Espaco(s[i])) ++i;
        const std::string_view nome = s.substr(inicio, i - inicio);
        while (i < s.size() && Espaco(s[i])) ++i;
        if (i == s.size() || s[i] != '=') throw NaoConhecido{};
        ++i;
        while (i < s.size() && Espaco(s[i])) ++i;
        if (i == s.size() || (s[i] != '"' && s[i] != '\'')) throw NaoConhecido{};
        const char aspas = s[i++];
        const size_t fim = s.find(aspas, i);
        if (fim == std::string_view::npos) throw NaoConhecido{};
        par(nome, s.substr(i, fim - i));
        i = fim + 1;
    }
}

bool Igual(std::string_view a, std::string_view b) { return common::SameTextIgnoringCase(a, b); }

// The four columns, by the names the table binds them with.
enum Coluna { kDataHora, kCracha, kEstado, kTerminal, kColunas };
constexpr std::array<std::string_view, kColunas> kNomes = {"DataHora", "Cracha", "Estado",
                                                           "Terminal"};

struct Campo {
    std::string attrname, fieldname, tipo;
};

// A value's text as the table's store rule keeps it: cut at a NUL and at the width, trailing
// blanks gone. `espaco` holds the unescaped text when the raw one had escapes.
std::string_view Texto(std::string_view bruto, std::string& espaco, size_t largura) {
    std::string_view t = bruto;
    if (bruto.find('&') != std::string_view::npos) {
        espaco = UnescapeText(bruto);
        t = espaco;
    }
    if (const size_t nul = t.find('\0'); nul != std::string_view::npos) t = t.substr(0, nul);
    if (t.size() > largura) t = t.substr(0, largura);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return t;
}

}  // namespace

bool PercorreLinhasHistorico(const fs::path& arquivo,
                             const std::function<void(const LinhaLida&)>& linha) {
    try {
        Fonte fonte(arquivo);
        if (!fonte.Le()) throw EDataPacketError(kMissingDataPacket);
        std::vector<Campo> campos;
        std::array<std::string, kColunas> atributo;  // the ROW attribute of each column
        bool horaDoDia = false;                      // DataHora stored as a time of day
        bool pacote = false, linhas = false, fim = false, dentroDeLinha = false, primeira = true;
        std::string espacoCracha, espacoEstado, espacoOutro;

        const auto Colunas = [&] {
            for (size_t c = 0; c < kColunas; ++c) {
                const Campo* achado = nullptr;
                for (const Campo& f : campos) {
                    const std::string& proprio = f.fieldname.empty() ? f.attrname : f.fieldname;
                    if (Igual(proprio, kNomes[c]) || Igual(f.attrname, kNomes[c])) {
                        achado = &f;
                        break;
                    }
                }
                if (!achado || achado->attrname.empty()) throw NaoConhecido{};
                const auto canonico = CanonicalFieldType(achado->tipo);
                if (!canonico) throw NaoConhecido{};
                const std::string tipo(*canonico);
                const char* esperado = c == kDataHora   ? "DateTime"
                                       : c == kTerminal ? "Integer"
                                                        : "String";
                if (KindOfFieldType(tipo) != esperado) throw NaoConhecido{};
                if (c == kDataHora) horaDoDia = tipo == "time";
                atributo[c] = achado->attrname;
            }
        };

        while (const auto bruta = fonte.Marca()) {
            const std::string_view m = *bruta;
            if (primeira && m.starts_with("\xEF\xBB\xBF")) throw NaoConhecido{};
            primeira = false;
            if (m.starts_with("<!--")) continue;
            if (m.starts_with("<?")) {
                if (m.starts_with("<?xml") && m.size() > 5 && Espaco(m[5])) {
                    Atributos(m.substr(5, m.size() - 7),
                              [&](std::string_view n, std::string_view v) {
                                  if (Igual(n, "encoding") && Igual(v, "UTF-8"))
                                      throw NaoConhecido{};
                              });
                }
                continue;
            }
            const Marca t = Divide(m);
            if (fim) throw NaoConhecido{};  // something after the packet
            if (dentroDeLinha) {
                if (!(t.fecha && t.nome == "ROW")) throw NaoConhecido{};
                dentroDeLinha = false;
                continue;
            }
            if (t.fecha) {
                if (t.nome == "ROWDATA") linhas = false;
                if (t.nome == "DATAPACKET") fim = true;
                continue;
            }
            if (t.nome == "ROW") {
                if (!linhas) throw NaoConhecido{};
                std::array<std::optional<std::string_view>, kColunas> valores;
                Atributos(t.atributos, [&](std::string_view n, std::string_view v) {
                    if (n == "RowState") throw NaoConhecido{};  // a change log
                    for (size_t c = 0; c < kColunas; ++c)
                        if (n == atributo[c]) valores[c] = v;
                });
                LinhaLida l;
                if (valores[kDataHora]) {
                    const std::string_view v = Texto(*valores[kDataHora], espacoOutro, SIZE_MAX);
                    l.dataHora = horaDoDia ? DecodeTimeOfDay(v) : DecodeDateTime(v);
                }
                if (valores[kTerminal])
                    l.terminal = DecodeInteger(Texto(*valores[kTerminal], espacoOutro, SIZE_MAX));
                if (valores[kCracha])
                    l.cracha = Texto(*valores[kCracha], espacoCracha, kLarguraCracha);
                if (valores[kEstado])
                    l.estado = Texto(*valores[kEstado], espacoEstado, kLarguraEstado);
                linha(l);
                dentroDeLinha = !t.vazia;
            } else if (t.nome == "DATAPACKET") {
                pacote = true;
            } else if (t.nome == "FIELD") {
                Campo f;
                Atributos(t.atributos, [&](std::string_view n, std::string_view v) {
                    if (n == "attrname") f.attrname = UnescapeText(v);
                    if (n == "fieldname") f.fieldname = UnescapeText(v);
                    if (n == "fieldtype") f.tipo = UnescapeText(v);
                });
                campos.push_back(std::move(f));
            } else if (t.nome == "PARAMS") {
                Atributos(t.atributos, [&](std::string_view n, std::string_view) {
                    if (n == "CHANGE_LOG") throw NaoConhecido{};
                });
            } else if (t.nome == "ROWDATA") {
                if (!pacote) throw NaoConhecido{};
                Colunas();
                linhas = !t.vazia;
            } else if (t.nome != "METADATA" && t.nome != "FIELDS" && t.nome != "PARAM") {
                throw NaoConhecido{};
            }
        }
        if (!fim) throw EDataPacketError(kMismatchInDatapacket);
        return true;
    } catch (const NaoConhecido&) {
        return false;
    }
}

}  // namespace lumora
