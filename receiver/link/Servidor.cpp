#include "receiver/link/Servidor.h"

#include <QCoreApplication>
#include <QThread>

#include "common/Convert.h"
#include "common/Unhandled.h"
#include "receiver/link/Protocol.h"

namespace lumora {

// One open connection: its message buffer and pending card live exactly as long as it does,
// whatever index it has at the moment.
struct TServidorTerminais::Conexao : IConexaoTerminal {
    TServidorTerminais* servidor = nullptr;
    TSock* sock = nullptr;  // none once the connection has closed
    std::string endereco;
    std::string buffer;
    ComandaPendente pendente;
    // A registered terminal gets its clock message a second after the wake; what it sends
    // meanwhile waits in the buffer so that it still sees wake, clock, then replies.
    std::string numEquipamento;
    std::unique_ptr<QTimer> relogio;
    bool segurando = false;
    bool processando = false;

    ComandaPendente& Pendente() override { return pendente; }
    void Envia(const std::string& texto) override {
        const int indice = sock ? servidor->sock_->IndexOf(sock) : -1;
        if (indice < 0) {
            // Closed while its message was being handled: there is no one to answer.
            servidor->avisos_.Aviso(textos::kFalhaEnvio);
            return;
        }
        servidor->EscrevePorta(texto, indice);
    }
};

TServidorTerminais::TServidorTerminais(TMotorSaida& motor, ILogTrafego& log, IListaTerminais& lista,
                                       IAvisosOperador& avisos)
    : motor_(motor), log_(log), lista_(lista), avisos_(avisos), sock_(std::make_unique<TSock>()) {
    sock_->SetSocketType(stStream);
    sock_->SetPortName("2051");
    sock_->SetLocalPortName("-1");
    sock_->SetBlocking(false);
    sock_->SetAutoAccept(true);
    sock_->SetLineBreak(lbCR);
    sock_->SetBlockingTimeout(0);
    sock_->OnAutoAccept = [this](TSock* l, TSock* n) { SockAutoAccept(l, n); };
    sock_->OnRead = [this](TSock* s, int n) { SockRead(s, n); };
    sock_->OnInfo = [this](TSock* s, TSocketInfo t, const std::string& m) { SockInfo(s, t, m); };
    sock_->OnDisconnect = [this](TSock* s) { SockDisconnect(s); };
}

TServidorTerminais::~TServidorTerminais() {
    // Connections die with the listener; nothing may call back into a half-destroyed server.
    for (auto& [sock, conexao] : conexoes_) {
        conexao->sock = nullptr;
        conexao->relogio.reset();
    }
    conexoes_.clear();
    sock_->OnInfo = nullptr;
    sock_->OnDisconnect = nullptr;
    sock_->OnRead = nullptr;
    sock_->OnAutoAccept = nullptr;
    for (int i = sock_->ConnectionCount() - 1; i >= 0; --i) {
        TSock* s = sock_->Connection(i);
        s->OnInfo = nullptr;
        s->OnDisconnect = nullptr;
        s->OnRead = nullptr;
    }
}

void TServidorTerminais::DefineLegenda(const std::string& legenda) {
    if (OnLegenda) OnLegenda(legenda);
}

int TServidorTerminais::QuantidadeConexoes() const { return sock_->ConnectionCount(); }

const ComandaPendente* TServidorTerminais::PendenteDe(int indice) const {
    if (indice < 0 || indice >= sock_->ConnectionCount()) return nullptr;
    const auto conexao = ConexaoDe(sock_->Connection(indice));
    return conexao ? &conexao->pendente : nullptr;
}

std::shared_ptr<TServidorTerminais::Conexao> TServidorTerminais::ConexaoDe(TSock* sock) const {
    const auto it = conexoes_.find(sock);
    return it == conexoes_.end() ? nullptr : it->second;
}

void TServidorTerminais::Descarta(TSock* sock) {
    const auto it = conexoes_.find(sock);
    if (it == conexoes_.end()) return;
    it->second->sock = nullptr;
    it->second->relogio.reset();
    conexoes_.erase(it);
}

void TServidorTerminais::btIniciarClick(const std::string& portaTCP) {
    lista_.Limpa();
    if (!escutando_) {
        sock_->SetPortName(common::Trim(portaTCP));
        sock_->StartListen();
        escutando_ = true;
        DefineLegenda(textos::kParar);
    } else {
        FechaConexoes();
        QThread::msleep(100);
        QCoreApplication::processEvents();
        DefineLegenda(textos::kIniciar);
    }
}

void TServidorTerminais::FechaConexoes() {
    if (sock_->Listen()) sock_->StopListen();
    escutando_ = false;
    log_.Enviados(textos::kFechando);
    for (int i = sock_->ConnectionCount() - 1; i >= 0; --i) {
        TSock* s = sock_->Connection(i);
        Descarta(s);
        s->Close();
    }
    DefineLegenda(textos::kIniciar);
    QCoreApplication::processEvents();
}

void TServidorTerminais::SockAutoAccept(TSock* /*escuta*/, TSock* nova) {
    const std::string endereco = nova->RemoteAddress();
    if (sock_->ConnectionCount() > kMaxConexoes) {
        log_.Enviados("Erro: Limite de " + std::to_string(kMaxConexoes) +
                      " conex\xF5"
                      "es atingido; conex\xE3o de " +
                      endereco + " recusada");
        nova->Close();
        return;
    }
    auto conexao = std::make_shared<Conexao>();
    conexao->servidor = this;
    conexao->sock = nova;
    conexao->endereco = endereco;
    conexoes_[nova] = conexao;

    log_.Enviados(textos::kConectado + endereco);
    lista_.Adiciona(endereco);

    conexao->numEquipamento = motor_.RetornaNumEquipamento(endereco);
    if (conexao->numEquipamento.empty()) return;  // not registered: listed, never greeted

    EscrevePorta(kDespertar, sock_->IndexOf(nova));
    conexao->segurando = true;
    conexao->relogio = std::make_unique<QTimer>();
    conexao->relogio->setSingleShot(true);
    // A coarse timer may fire up to 5% early; the terminal is owed its full second.
    conexao->relogio->setTimerType(Qt::PreciseTimer);
    std::weak_ptr<Conexao> fraca = conexao;
    QObject::connect(conexao->relogio.get(), &QTimer::timeout, [this, fraca] {
        common::GuardEntryPoint([&] {
            if (auto c = fraca.lock()) EnviaRelogio(c);
        });
    });
    conexao->relogio->start(kEsperaRelogioMs);
}

void TServidorTerminais::EnviaRelogio(const std::shared_ptr<Conexao>& conexao) {
    conexao->segurando = false;
    if (!conexao->sock) return;  // closed during its second: nothing to send
    EscrevePorta(MontaAcertoRelogio(conexao->numEquipamento, common::Now()),
                 sock_->IndexOf(conexao->sock));
    ProcessaBuffer(conexao);
}

void TServidorTerminais::SockRead(TSock* sock, int /*quantidade*/) {
    const auto conexao = ConexaoDe(sock);
    std::string recebido;
    try {
        recebido = sock->Receive();
    } catch (const ESockException& e) {
        log_.Enviados("Erro: " + e.Message());
        return;
    }
    if (!conexao || recebido.empty() || recebido == "$") return;
    conexao->buffer += recebido;
    ProcessaBuffer(conexao);
}

void TServidorTerminais::ProcessaBuffer(const std::shared_ptr<Conexao>& conexao) {
    // A handling that waits on a message box may let a later read of the same connection in;
    // the outer loop goes on with whatever is left, so messages keep their order.
    if (conexao->processando) return;
    if (!conexao->segurando) {
        conexao->processando = true;
        size_t fim;
        while (conexao->sock && !conexao->segurando &&
               (fim = conexao->buffer.find(kCR)) != std::string::npos) {
            const std::string mensagem = conexao->buffer.substr(0, fim);
            conexao->buffer.erase(0, fim + 1);
            log_.Recebidos("<[" + common::Now().Format("dd/mm/yy hh:nn:ss zzz") + "] " + mensagem);
            // A failure in one message is reported and the next message is still handled.
            common::GuardEntryPoint([&] { motor_.ProcessaPacote(mensagem, *conexao); });
        }
        conexao->processando = false;
    }
    if (conexao->sock && conexao->buffer.size() > kMaxBufferMensagem) {
        log_.Enviados("Erro: Mensagem de " + conexao->endereco + " passou de " +
                      std::to_string(kMaxBufferMensagem) + " bytes sem CR; conex\xE3o fechada");
        TSock* sock = conexao->sock;
        lista_.RemovePrimeiro(conexao->endereco);
        Descarta(sock);
        sock->Close();
    }
}

void TServidorTerminais::SockInfo(TSock* /*origem*/, TSocketInfo /*tipo*/,
                                  const std::string& texto) {
    if (texto.find("Non-Blocking Incoming Data") != std::string::npos ||
        texto.find("Non-Blocking Outgoing Data") != std::string::npos) {
        return;
    }
    log_.Enviados("Info: " + texto);
}

void TServidorTerminais::SockDisconnect(TSock* sock) {
    lista_.RemovePrimeiro(sock->RemoteAddress());
    Descarta(sock);  // the pending card goes with the connection, without a row
}

void TServidorTerminais::EscrevePorta(const std::string& texto, int indice) {
    if (sock_->ConnectionCount() == 0) {
        avisos_.Aviso(textos::kSemTerminal);
        return;
    }
    try {
        if (indice < 0 || indice >= sock_->ConnectionCount()) {
            throw ESockException("Send - Socket Not Connected");
        }
        TSock* conexao = sock_->Connection(indice);
        conexao->Send(texto);
        log_.Enviados("[" + conexao->HostName() + "]" + texto);
    } catch (const std::exception&) {
        avisos_.Aviso(textos::kFalhaEnvio);
    }
}

}  // namespace lumora
