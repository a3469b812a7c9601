#include "receiver/control/ArquivosReceptor.h"

#include <system_error>

#include "common/Exception.h"
#include "receiver/control/TableFile.h"

namespace lumora {

namespace fs = std::filesystem;

struct TArquivosReceptor::Estado {
    TableFileExtras extrasEquip;
    TableFileExtras extrasComandas;
    TableFileExtras extrasHistorico;
    // The bytes the card list was last parsed from: an unchanged file is not parsed again,
    // and at close a file that no longer holds them was written by someone else meanwhile.
    std::string bytesComandas;
    bool comandasEmCache = false;
};

namespace {

// A file we cannot take up is kept under a new name beside the old one: its rows may still
// be worth recovering by hand.
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
        if (fs::exists(historico_)) {
            estado_->extrasHistorico =
                LoadTableFromFile(tabelas_.cdsHistorico, historico_.string());
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
    std::string bytes;
    try {
        bytes = ReadWholeFile(comandas_.string());
        if (estado_->comandasEmCache && lista.Active() && !lista.Modified() &&
            lista.State() == common::TableState::Browse && bytes == estado_->bytesComandas) {
            return;  // the same contents are loaded already
        }
        estado_->comandasEmCache = false;
        DataPacket pacote;
        try {
            pacote = ReadDataPacket(bytes);
        } catch (const EDataPacketError& e) {
            throw e.WithPrefix(lista.Name());
        }
        estado_->extrasComandas = LoadTableFromPacket(lista, std::move(pacote));
    } catch (...) {
        estado_->comandasEmCache = false;
        lista.Close();
        throw;
    }
    estado_->bytesComandas = std::move(bytes);
    estado_->comandasEmCache = true;
}

void TArquivosReceptor::SalvaHistorico() {
    SaveTableToFile(tabelas_.cdsHistorico, historico_.string(), &estado_->extrasHistorico);
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
