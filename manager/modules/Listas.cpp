// The two module lists: first-family modules with their network settings, second-family ones.
#include "manager/modules/Listas.h"

namespace modrevo {

using common::FieldDef;
using common::FieldType;

common::MemTable CriaTbmColetores() {
    common::MemTable t(
        "tbmColetores",
        {
            FieldDef{"ip", FieldType::Text, 20, "Endere\xE7o IP"},
            FieldDef{"MACaddress", FieldType::Text, 20, "MAC-Address"},
            FieldDef{"Porta", FieldType::Text, 10, "Porta"},
            FieldDef{"DHCP", FieldType::Text, 10, "DHCP"},
            FieldDef{"descricao", FieldType::Text, 30, "Propriet\xE1rio/Equipamento"},
            FieldDef{"gateway", FieldType::Text, 20, "Gateway"},
            FieldDef{"netmask", FieldType::Text, 20, "M\xE1scara de Rede"},
            FieldDef{"ipDestino", FieldType::Text, 15, "End. IP do Computador"},
        });
    t.SetUnsorted();
    return t;
}

common::MemTable CriaTbmModulos() {
    common::MemTable t("tbmModulos",
                       {
                           FieldDef{"ip", FieldType::Text, 16, "Endere\xE7o IP"},
                           FieldDef{"Equipamento", FieldType::Text, 20, "Equipamento"},
                           FieldDef{"mac", FieldType::Text, 20, "MAC-Adress"},
                       });
    t.SetUnsorted();
    return t;
}

}  // namespace modrevo
