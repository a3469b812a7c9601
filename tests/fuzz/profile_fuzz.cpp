// Arbitrary bytes as a profile (INI) file. Whatever the reader makes of them must write out
// and read back to the same values; a key written must read back as written and leave every
// other value as it was; a flag's number must survive being written in decimal.
#include <sys/mman.h>
#include <unistd.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Profile.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// The reader takes a path: the bytes go into a file in memory, reached through /proc.
class ArquivoMemoria {
  public:
    ArquivoMemoria() : fd_(::memfd_create("profile", MFD_CLOEXEC)) { Check(fd_ >= 0); }
    std::string Caminho() const { return "/proc/self/fd/" + std::to_string(fd_); }
    void Grava(const std::string& bytes) const {
        Check(::ftruncate(fd_, 0) == 0);
        Check(::pwrite(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    }

  private:
    int fd_;
};

const ArquivoMemoria& Arquivo() {
    static const ArquivoMemoria arquivo;
    return arquivo;
}

common::ProfileFile Le(const std::string& bytes) {
    Arquivo().Grava(bytes);
    return common::ProfileFile(Arquivo().Caminho());
}

using Nomes = std::set<std::pair<std::string, std::string>>;

// Every section and key name the text might hold: what stands between brackets, and what
// stands before an "=" under each of them (and under the last section for lines before any).
Nomes Candidatos(const std::string& bytes) {
    Nomes nomes;
    std::vector<std::string> secoes{""};
    std::vector<std::string> chaves;
    size_t inicio = 0;
    while (inicio <= bytes.size()) {
        size_t fim = bytes.find('\n', inicio);
        if (fim == std::string::npos) fim = bytes.size();
        const std::string linha = bytes.substr(inicio, fim - inicio);
        if (const size_t a = linha.find('['), f = linha.find(']');
            a != std::string::npos && f != std::string::npos && a < f) {
            secoes.push_back(linha.substr(a + 1, f - a - 1));
        }
        if (const size_t igual = linha.find('='); igual != std::string::npos) {
            chaves.push_back(linha.substr(0, igual));
        }
        inicio = fim + 1;
    }
    auto apara = [](std::string s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.erase(0, 1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
            s.pop_back();
        }
        return s;
    };
    // A bounded sample: every pair of a long file would cost more than it finds.
    std::set<std::string> s1, k1;
    for (const auto& s : secoes) {
        if (s1.size() < 24) s1.insert(apara(s));
    }
    for (const auto& k : chaves) {
        if (k1.size() < 48) k1.insert(apara(k));
    }
    for (const auto& s : s1) {
        for (const auto& k : k1) nomes.insert({s, k});
    }
    return nomes;
}

// A name the file can hold: not empty, one line, no blanks at its ends, nothing that would
// make its line a comment or a header, and no "=" in a key.
bool NomeValido(const std::string& nome, bool chave) {
    if (nome.empty() || nome.find_first_of("\r\n") != std::string::npos) return false;
    if (nome.front() == ' ' || nome.front() == '\t' || nome.back() == ' ' || nome.back() == '\t') {
        return false;
    }
    if (chave) {
        return nome.find('=') == std::string::npos && nome.front() != '[' && nome.front() != ';';
    }
    return nome.find(']') == std::string::npos;
}

// A value that reads back unchanged: one line, no blanks at its ends, not enclosed in quotes.
bool ValorValido(const std::string& valor) {
    if (valor.find_first_of("\r\n") != std::string::npos) return false;
    if (!valor.empty() && (valor.front() == ' ' || valor.front() == '\t' || valor.back() == ' ' ||
                           valor.back() == '\t')) {
        return false;
    }
    return !(valor.size() >= 2 && (valor.front() == '"' || valor.front() == '\'') &&
             valor.back() == valor.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const common::ProfileFile ini = Le(bytes);
    const Nomes nomes = Candidatos(bytes);

    // Written out and read back: the same text, the same values.
    const std::string texto = ini.Text();
    const common::ProfileFile relido = Le(texto);
    Check(relido.Text() == texto);
    for (const auto& [secao, chave] : nomes) {
        Check(relido.Find(secao, chave) == ini.Find(secao, chave));
        Check(relido.SectionExists(secao) == ini.SectionExists(secao));
        // Every value: its flag reading agrees with the parse, and a number survives decimal.
        if (const auto valor = ini.Find(secao, chave)) {
            const auto numero = common::ParseProfileInteger(*valor);
            Check(ini.ReadInteger(secao, chave, 12345) == numero.value_or(12345));
            if (numero) Check(common::ParseProfileInteger(std::to_string(*numero)) == numero);
            // Plain decimal is read as the standard library reads it, within 32 bits.
            std::string_view corpo = *valor;
            if (!corpo.empty() && corpo.front() == '+') corpo.remove_prefix(1);
            int32_t referencia = 0;
            const auto r = std::from_chars(corpo.data(), corpo.data() + corpo.size(), referencia);
            const bool todo = r.ptr == corpo.data() + corpo.size() && !corpo.empty() &&
                              (corpo.size() == valor->size() || corpo.front() != '-');
            if (todo && r.ec == std::errc()) Check(numero == referencia);
            if (todo && r.ec == std::errc::result_out_of_range) Check(!numero);
        }
    }

    // One key written: the last line names the section and the key, the first the value.
    const size_t corte1 = bytes.rfind('\n');
    if (corte1 == std::string::npos || corte1 == 0) return 0;
    const size_t corte0 = bytes.find('\n');
    if (corte0 == corte1) return 0;
    const std::string valor = bytes.substr(0, corte0);
    const std::string nome = bytes.substr(corte1 + 1);
    const size_t ponto = nome.find('.');
    if (ponto == std::string::npos) return 0;
    const std::string secao = nome.substr(0, ponto);
    const std::string chave = nome.substr(ponto + 1);
    if (!NomeValido(secao, false) || !NomeValido(chave, true) || !ValorValido(valor)) return 0;

    common::ProfileFile escrito = Le(bytes);
    escrito.WriteString(secao, chave, valor);
    Check(escrito.Find(secao, chave) == valor);
    const common::ProfileFile gravado = Le(escrito.Text());
    Check(gravado.Find(secao, chave) == valor);
    // Nothing else changed: every other value reads as before. Which names are the written
    // one (sections and keys match without regard to case) the module itself says.
    common::ProfileFile sonda = Le("");
    sonda.WriteString(secao, chave, "1");
    for (const auto& [s, k] : nomes) {
        if (sonda.Find(s, k)) continue;
        Check(gravado.Find(s, k) == ini.Find(s, k));
    }
    return 0;
}
