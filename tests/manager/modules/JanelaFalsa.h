// A main window without widgets: records what the refresh and the configuration show.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "manager/modules/Atualizacao.h"

namespace modrevo::teste {

class JanelaFalsa : public IJanelaGerente {
  public:
    std::function<void()> aoProcessar;  // what the "pending messages" are
    std::string tempo = "2000";
    std::vector<std::string> memo1, memo2, avisos, simples;
    std::string contagem;
    bool ampulheta = false;
    bool timerLigado = true;
    int processamentos = 0;
    int timerIniciado = 0;
    std::vector<int> pausas;
    std::vector<EntradaAgenda> agenda;
    int duplicados = -1;  // what the status bar last showed; -1 never set
    std::vector<std::string> diagnosticos;

    void ProcessaMensagens() override {
        ++processamentos;
        if (aoProcessar) aoProcessar();
    }
    void Ampulheta(bool ligada) override { ampulheta = ligada; }
    void LimpaMemos() override {
        memo1.clear();
        memo2.clear();
    }
    void AdicionaMemo1(const std::string& l) override { memo1.push_back(l); }
    void AdicionaMemo2(const std::string& l) override { memo2.push_back(l); }
    void Aviso(const std::string& t) override { avisos.push_back(t); }
    void MostraContagem(const std::string& t) override { contagem = t; }
    std::string CarregaTempoResposta() override { return tempo; }
    void ParaTimer1() override { timerLigado = false; }
    void IniciaTimer1() override {
        timerLigado = true;
        ++timerIniciado;
    }
    void MensagemSimples(const std::string& t) override { simples.push_back(t); }
    void Pausa(int ms) override { pausas.push_back(ms); }
    std::vector<EntradaAgenda> CarregaAgenda() override { return agenda; }
    void MostraDuplicados(int n) override { duplicados = n; }
    void Diagnostico(const std::string& l) override { diagnosticos.push_back(l); }
};

// A book of entries that must read.
inline std::vector<EntradaAgenda> Agenda(const std::vector<std::string>& textos) {
    std::vector<EntradaAgenda> agenda;
    for (const std::string& t : textos) {
        std::string motivo;
        if (auto e = LeEntradaAgenda(t, motivo)) agenda.push_back(*e);
    }
    return agenda;
}

}  // namespace modrevo::teste
