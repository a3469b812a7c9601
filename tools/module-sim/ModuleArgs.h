// Module and behaviour descriptions as the command line gives them, e.g.
// "ip=127.0.0.5,mac=0.36.119.87.8.24,rest=Vexa gate 1" and "127.0.0.5:GNM=delay:500,stray:C".
#pragma once

#include <cstddef>
#include <string_view>

#include "Modules.h"

namespace modsim {

// Comma-separated key=value items; values take the escapes of Unescape (write a comma as
// \x2C). "ip" is required and must be a loopback address. Throw SimError on anything else.
//   first family:  ip mac port flags field4 field5 rest netmask gateway dest password
//                  discovery dhcp(1|0) routed(1|0)
//   second family: ip name mac form(found|lines|bare) sep reply
TibboModule ParseTibbo(std::string_view desc);
BrivantModule ParseBrivant(std::string_view desc);

// Comma-separated items: delay:MS silent deny stray:TEXT otherport oversize[:BYTES] late:MS.
// A bare "oversize" takes `defaultOversize` bytes.
Behaviour ParseBehaviour(std::string_view items, std::size_t defaultOversize);

// "IP:KEY=items": sets that behaviour on every module at IP whose family has the key
// ("query" is the second family's, "*" both families', the rest the first family's).
// Throws SimError when no such module exists or the key is unknown.
void ApplyBehave(std::string_view desc, Modules& modules);

}  // namespace modsim
