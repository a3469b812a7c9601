// The three ways the manager waits for the modules' replies on one endpoint.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "manager/modules/EndpointUDP.h"

namespace modrevo {

// Processes the window's pending messages between two receives. Returns false when the
// operation that waits has been overtaken (a newer refresh ran meanwhile) and must stop
// waiting; the rule then ends as if silence had come.
using ProcessaMensagens = std::function<bool()>;

// A host that never stops sending cannot hold the window for ever: after this many datagrams
// a rule ends as if silence had come.
constexpr int kMaxDatagramas = 1024;

// Receives until a receive gives empty text, handing every datagram to `cadaUm`. Returns the
// number of datagrams handed over.
int ColetaAteSilencio(IEndpointUDP& endpoint, const std::function<bool(const Datagrama&)>& cadaUm);

// Receives until the reply is empty, "A" or "D"; processes messages after any other reply.
void AguardaLogin(IEndpointUDP& endpoint, const ProcessaMensagens& processa);

// Receives until the reply is empty or "D" (no value) or begins with "A" (the value is the
// rest); processes messages after any other reply.
std::optional<std::string> AguardaValor(IEndpointUDP& endpoint, const ProcessaMensagens& processa);

}  // namespace modrevo
