// The two module lists: first-family modules with their network settings, second-family ones.
#pragma once

#include "common/Table.h"

namespace modrevo {

// tbmColetores fields, in declared order.
enum CampoColetor { cIp, cMACaddress, cPorta, cDHCP, cDescricao, cGateway, cNetmask, cIpDestino };
// tbmModulos fields, in declared order.
enum CampoModulo { mIp, mEquipamento, mMac };

// Both tables keep rows in the order they were placed: a new row goes ahead of the current one
// and becomes current, so the latest reply is listed first. Texts are cut to the field widths
// when stored.
common::MemTable CriaTbmColetores();
common::MemTable CriaTbmModulos();

}  // namespace modrevo
