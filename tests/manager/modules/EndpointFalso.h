// An endpoint that answers from a script, counts its receives and time-outs and can fail.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "manager/modules/EndpointUDP.h"

namespace modrevo::teste {

struct Envio {
    std::string host;  // "255.255.255.255" for a broadcast
    uint16_t porta;
    std::string texto;
    bool broadcast;
};

class EndpointFalso : public IEndpointUDP {
  public:
    // Called at every send; what it returns is queued for the following receives.
    std::function<std::vector<Datagrama>(const Envio&)> responde;
    // Raised by the send whose number (from 1) this is; 0 = never.
    int falhaNoEnvio = 0;
    // Called at every receive before it takes from the queue (lets a test act "meanwhile").
    std::function<void(int recepcao)> aoReceber;

    std::vector<Envio> envios;
    std::deque<Datagrama> fila;
    int recepcoes = 0;
    int esgotados = 0;
    int fechamentos = 0;
    int imediatos = 0;
    int tempo = -1;

    void SetReceiveTimeout(int ms) override { tempo = ms; }
    int ReceiveTimeout() const override { return tempo; }
    void Broadcast(const std::string& texto, uint16_t porta) override {
        Envia({"255.255.255.255", porta, texto, true});
    }
    // The adapters that refused every broadcast while another took it.
    std::vector<std::string> falhasParciais;
    std::vector<std::string> FalhasParciais() const override { return falhasParciais; }
    void Send(const std::string& host, uint16_t porta, const std::string& texto) override {
        Envia({host, porta, texto, false});
    }
    Datagrama Receive() override {
        ++recepcoes;
        if (aoReceber) aoReceber(recepcoes);
        if (fila.empty()) {
            ++esgotados;
            return {};
        }
        Datagrama d = fila.front();
        fila.pop_front();
        return d;
    }
    // Takes what is queued already, as a receive that finds it there without waiting.
    Datagrama ReceiveImediato() override {
        ++imediatos;
        if (fila.empty()) return {};
        Datagrama d = fila.front();
        fila.pop_front();
        return d;
    }
    uint32_t perdidos = 0;  // what the system says it dropped
    uint32_t Perdidos() const override { return perdidos; }
    void Close() override {
        ++fechamentos;
        fila.clear();
    }
    std::vector<std::string> Textos() const {
        std::vector<std::string> t;
        for (const Envio& e : envios) t.push_back(e.texto);
        return t;
    }

  private:
    void Envia(const Envio& e) {
        envios.push_back(e);
        if (falhaNoEnvio == static_cast<int>(envios.size()))
            throw ESocketUDP("Socket Error # 10065\r\nNo route to host", 10065);
        if (responde)
            for (Datagrama& d : responde(e)) fila.push_back(std::move(d));
    }
};

inline Datagrama De(const std::string& endereco, const std::string& texto) {
    return Datagrama{texto, endereco, 65535};
}

}  // namespace modrevo::teste
