#include "receiver/control/Tabelas.h"

#include "common/Convert.h"

namespace lumora {

using common::FieldType;

void cdsEquipamentosBeforePost(common::MemTable& t) {
    if (!t.IsNull(campo::kIP)) {
        std::string ip = t.AsString(campo::kIP);
        std::erase(ip, ' ');
        t.SetString(campo::kIP, ip);
    }
    // Terminals send their number as text; the table holds it as two digits ("7" -> "07").
    const int32_t numero = common::StrToInt(t.AsString(campo::kNumEquipamento));
    t.SetString(campo::kNumEquipamento, common::IntToStrMin(numero, 2));
}

void cdsComandasBeforePost(common::MemTable& t) {
    std::string numero = t.AsString(campo::kNumComanda);
    if (numero.size() < kDigitosComanda) numero.insert(0, kDigitosComanda - numero.size(), '0');
    t.SetString(campo::kNumComanda, numero);
}

void cdsHistoricoBeforePost(common::MemTable& t) {
    // A record without a time gets the zero value rather than staying empty.
    t.SetDateTime(campo::kDataHora, t.AsDateTime(campo::kDataHora));
}

TabelasReceptor::TabelasReceptor()
    : cdsEquipamentos("cdsEquipamentos", {{"NumEquipamento", FieldType::Text, 2, ""},
                                          {"IP", FieldType::Text, 15, ""}}),
      cdsComandas("cdsComandas", {{"NumComanda", FieldType::Text, 20, "Comandas Ativas"}}),
      cdsHistorico("cdsHistorico", {{"DataHora", FieldType::DateTime, 0, "Data Hora"},
                                    {"Cracha", FieldType::Text, 16, "Crach\xE1"},
                                    {"Estado", FieldType::Text, 20, ""},
                                    {"Terminal", FieldType::Integer, 0, ""}}) {
    cdsEquipamentos.SetSortOrder(campo::kNumEquipamento);
    cdsEquipamentos.BeforePost = cdsEquipamentosBeforePost;
    cdsComandas.SetSortOrder(campo::kNumComanda);
    cdsComandas.BeforePost = cdsComandasBeforePost;
    cdsHistorico.SetSortOrder(campo::kDataHora, /*descending=*/true);
    cdsHistorico.BeforePost = cdsHistoricoBeforePost;
}

}  // namespace lumora
