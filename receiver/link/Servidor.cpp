#include "receiver/link/Servidor.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <cerrno>
#include <utility>

#include "common/Convert.h"
#include "common/LocalAddress.h"
#include "common/SockErrors.h"
#include "common/TrafficChanges.h"
#include "common/Unhandled.h"
#include "receiver/control/Monitor.h"
#include "receiver/link/Protocol.h"

namespace lumora {
namespace {

const std::string kConexaoFechada = "conex\xE3o fechada";

// An address the operator typed that cannot be listened on: said plainly, rather than as the
// socket component's bind failure, which reads like a taken port.
void ConfereEnderecoEscuta(const std::string& endereco) {
    if (endereco.empty()) return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (::inet_pton(AF_INET, endereco.c_str(), &local.sin_addr) != 1) {
        throw common::Exception("O endere\xE7o de escuta " + endereco +
                                " n\xE3o \xE9 v\xE1lido: informe um endere\xE7o IP deste "
                                "computador, ou deixe vazio para escutar em todos");
    }
    // The system lets a listener bind an adapter's network or broadcast address (it keeps them
    // as local), where no terminal can ever connect: an easy typo that would look like a
    // receiver ready and serving.
    const auto papel = common::ClassifyIPv4(ntohl(local.sin_addr.s_addr), common::IPv4Adapters());
    const auto Rede = [&] {
        in_addr rede{htonl(papel.network)};
        char texto[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &rede, texto, sizeof texto);
        return std::string(texto) + "/" + std::to_string(papel.prefix);
    };
    std::string motivo;
    switch (papel.role) {
        case common::IPv4Role::Unicast:
            break;
        case common::IPv4Role::LimitedBroadcast:
            motivo = "\xE9 o endere\xE7o de broadcast";
            break;
        case common::IPv4Role::DirectedBroadcast:
            motivo = "\xE9 o endere\xE7o de broadcast da rede " + Rede();
            break;
        case common::IPv4Role::NetworkAddress:
            motivo = "\xE9 o endere\xE7o da pr\xF3pria rede " + Rede();
            break;
        case common::IPv4Role::Multicast:
            motivo = "\xE9 um endere\xE7o de multicast";
            break;
        case common::IPv4Role::Reserved:
            motivo = "\xE9 um endere\xE7o reservado";
            break;
    }
    if (!motivo.empty()) {
        throw common::Exception("O endere\xE7o de escuta " + endereco + " " + motivo +
                                ", onde nenhum terminal se conecta: informe um endere\xE7o IP "
                                "deste computador, ou deixe vazio para escutar em todos");
    }
    // Port 0 asks nothing of the port in use: only whether the address is one of ours now.
    const int sonda = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // Without a socket to ask with, the listener's own bind has the last word.
    const bool nosso = sonda < 0 ||
                       ::bind(sonda, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 ||
                       errno != EADDRNOTAVAIL;
    if (sonda >= 0) ::close(sonda);
    if (!nosso) {
        throw common::Exception("O endere\xE7o de escuta " + endereco +
                                " n\xE3o pertence a nenhum adaptador de rede deste computador");
    }
}

// A box text as one log line.
std::string UmaLinha(std::string texto) {
    for (char& c : texto) {
        if (c == '\n') c = ' ';
    }
    return texto;
}

}  // namespace

// One open connection: its message buffer and pending card live exactly as long as it does,
// whatever index it has at the moment, and as long as a handling of its messages still runs.
struct TServidorTerminais::Conexao : IConexaoTerminal {
    TServidorTerminais* servidor = nullptr;
    TSock* sock = nullptr;  // none once the connection has ended
    std::string endereco;
    TBufferTerminal buffer;
    ComandaPendente pendente;
    // When a reply last went out on it (a hand-in among them).
    std::chrono::steady_clock::time_point ultimaResposta{};
    // A registered terminal gets its clock message a second after the wake; what it sends
    // meanwhile waits in the buffer so that it still sees wake, clock, then replies.
    std::string numEquipamento;
    std::unique_ptr<QTimer> relogio;
    bool segurando = false;
    bool processando = false;
    bool cortada = false;
    // The operator has been told once that replies to this ended connection go nowhere.
    bool avisada = false;
    // While its messages are handled, a notice about it waits here (AvisosDepois).
    bool adiando = false;
    std::string avisoAdiado;
    bool avisoRegistrado = false;

    ComandaPendente& Pendente() override { return pendente; }
    void Envia(const std::string& texto) override { servidor->Responde(*this, texto); }
    const std::string& Endereco() const override { return endereco; }

    void ParaRelogio() {
        segurando = false;
        // Not deleted here: this may run inside the timer's own timeout.
        if (relogio) {
            relogio->stop();
            relogio.release()->deleteLater();
        }
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
    tmrRelatos_.setInterval(kIntervaloRelatosMs);
    QObject::connect(&tmrRelatos_, &QTimer::timeout,
                     [this] { common::GuardEntryPoint([this] { RelataNaoCadastrados(false); }); });
}

TServidorTerminais::~TServidorTerminais() {
    // Connections die with the listener; nothing may call back into a half-destroyed server.
    for (auto& [sock, conexao] : conexoes_) {
        conexao->sock = nullptr;
        conexao->cortada = true;
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

void TServidorTerminais::Descarta(const std::shared_ptr<Conexao>& conexao) {
    const auto it = conexoes_.find(conexao->sock);
    if (it != conexoes_.end() && it->second == conexao) conexoes_.erase(it);
    conexao->sock = nullptr;
    conexao->ParaRelogio();
}

template <class F>
void TServidorTerminais::AvisosDepois(const std::shared_ptr<Conexao>& conexao, F&& acao) {
    if (conexao->adiando) {  // an outer handling of the same connection shows it
        acao();
        return;
    }
    conexao->adiando = true;
    struct Fim {
        Conexao& c;
        ~Fim() { c.adiando = false; }
    };
    {
        const Fim fim{*conexao};
        acao();
    }
    if (conexao->avisoAdiado.empty()) return;
    const std::string texto = std::exchange(conexao->avisoAdiado, std::string());
    Avisa(texto, conexao->avisoRegistrado);
}

void TServidorTerminais::btIniciarClick(const std::string& portaTCP,
                                        const std::string& enderecoEscuta) {
    lista_.Limpa();
    if (!escutando_) {
        const std::string porta = common::Trim(portaTCP);
        // The component keeps only the low 16 bits of a number ("70000" would be 4464, "0" any
        // free port): a number the operator typed is the port, or nothing listens.
        if (!porta.empty() && porta[0] >= '0' && porta[0] <= '9') {
            const int32_t numero = common::StrToInt(porta);
            if (numero < 1 || numero > 65535) {
                throw common::Exception(
                    "A porta " + porta +
                    " n\xE3o \xE9 v\xE1lida: informe um n\xFAmero de 1 a 65535");
            }
        }
        const std::string endereco = common::Trim(enderecoEscuta);
        ConfereEnderecoEscuta(endereco);
        sock_->SetPortName(porta);
        sock_->SetListenAddress(endereco);
        sock_->StartListen();
        escutando_ = true;
        tmrRelatos_.start();
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
    // From the highest index down. Handling what a connection sent may open a box, in whose
    // loop others close: the list is looked at afresh for every one.
    while (sock_->ConnectionCount() > 0) {
        QPointer<TSock> s = sock_->Connection(sock_->ConnectionCount() - 1);
        if (const auto conexao = ConexaoDe(s)) {
            // What the terminal sent before the stop and we had not read yet is its due as
            // well (a turnstile result on SIGTERM, say): its rows must not be lost.
            if (!conexao->cortada) {
                conexao->buffer.Acrescenta(s->TakeUnread(kMaxBufferMensagem), kMaxBufferMensagem);
            }
            Libera(conexao);
        }
        if (s && sock_->IndexOf(s) >= 0) s->Close();
    }
    tmrRelatos_.stop();
    RelataNaoCadastrados(true);
    DefineLegenda(textos::kIniciar);
    QCoreApplication::processEvents();
}

void TServidorTerminais::SockAutoAccept(TSock* /*escuta*/, TSock* nova) {
    const std::string endereco = nova->RemoteAddress();
    const std::string numEquipamento = motor_.RetornaNumEquipamento(endereco);
    // A registered terminal that connects again has lost its old connection (a power cut, a
    // cable, a module that restarted) even if we have not noticed yet: nothing more will come
    // on it, and it would keep a slot and a line until the dead-peer probes give up. It is
    // closed now, before the slots are counted, so that reconnections never fill them; its card
    // still waiting for a turnstile result moves to the new connection, where that result will
    // come. Unregistered addresses may be shared by several peers and are left alone.
    ComandaPendente herdada;
    if (!numEquipamento.empty()) {
        const QPointer<TSock> guarda(nova);
        herdada = SubstituiAnterior(endereco, nova);
        if (!guarda || sock_->IndexOf(nova) < 0) return;  // gone while the old one was handled
    }
    if (sock_->ConnectionCount() > kMaxConexoes) {
        Falha("Erro: Limite de " + std::to_string(kMaxConexoes) +
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
    conexao->pendente = herdada;
    conexoes_[nova] = conexao;

    log_.Enviados(textos::kConectado + endereco);
    lista_.Adiciona(endereco);

    conexao->numEquipamento = numEquipamento;
    if (conexao->numEquipamento.empty()) return;  // not registered: listed, never greeted

    // A failed wake is told once its second is running, so that what the terminal sends
    // meanwhile still waits for the clock message.
    AvisosDepois(conexao, [&] {
        EscrevePorta(kDespertar, sock_->IndexOf(nova));
        if (!conexao->sock) return;  // cut at once
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
    });
}

ComandaPendente TServidorTerminais::SubstituiAnterior(const std::string& endereco, TSock* nova) {
    ComandaPendente herdada;
    for (;;) {
        std::shared_ptr<Conexao> anterior;
        for (const auto& [sock, c] : conexoes_) {
            if (sock != nova && c->sock && !c->cortada && c->endereco == endereco) {
                anterior = c;
                break;
            }
        }
        if (!anterior) return herdada;
        const QPointer<TSock> s = anterior->sock;
        Falha("Info: Terminal " + endereco + " conectou de novo; conex\xE3o anterior fechada");
        lista_.RemovePrimeiro(endereco);
        // What it sent in full is its due, as when it closes itself.
        anterior->buffer.Acrescenta(s->TakeUnread(kMaxBufferMensagem), kMaxBufferMensagem);
        Libera(anterior);
        // Only a card the gate was told to take in, moments ago, can be the one whose result
        // is coming: the hand-in acknowledged by the gate's system (nothing we sent is still
        // unacknowledged) within the turn and relay times. Any other waited on a connection
        // that died unnoticed: a receiver frozen and resumed answers, on its old connections,
        // reads that the gates had answered by the standby meanwhile, and those cards must not
        // stand for the next passage.
        int naoConfirmados = 0;
        const bool confirmada =
            !s || ::ioctl(s->Handle(), SIOCOUTQ, &naoConfirmados) != 0 || naoConfirmados == 0;
        if (anterior->pendente.Presente()) {
            if (confirmada && std::chrono::steady_clock::now() - anterior->ultimaResposta <=
                                  motor_.JanelaResultado()) {
                herdada = anterior->pendente;
            } else {
                log_.Enviados(
                    "Info: Terminal " + endereco + ": comanda " + anterior->pendente.comanda +
                    " da conex\xE3o anterior descartada: a entrega n\xE3o foi confirmada a tempo");
            }
        }
        anterior->pendente.Limpa();
        if (s && sock_->IndexOf(s) >= 0) s->Close();
    }
}

void TServidorTerminais::EnviaRelogio(const std::shared_ptr<Conexao>& conexao) {
    conexao->segurando = false;
    if (!conexao->sock) return;  // ended during its second: its messages were handled then
    AvisosDepois(conexao, [&] {
        EscrevePorta(MontaAcertoRelogio(conexao->numEquipamento, common::Now()),
                     sock_->IndexOf(conexao->sock));
        ProcessaBuffer(conexao);
    });
}

void TServidorTerminais::SockRead(TSock* sock, int /*quantidade*/) {
    const auto conexao = ConexaoDe(sock);
    std::string recebido;
    try {
        recebido = sock->Receive();
    } catch (const ESockException& e) {
        Falha("Erro: " + e.Message());
        return;
    }
    if (!conexao || conexao->cortada) return;
    // Only what is not yet a message counts: complete ones held for the clock message or a box
    // are the terminal's due, however many. The bound is checked before the bytes go in, so a
    // message never holds more than it, whatever the size of a read.
    const bool inteira = conexao->buffer.Acrescenta(recebido, kMaxBufferMensagem);
    ProcessaBuffer(conexao);
    if (!inteira && conexao->sock && !conexao->cortada) {
        Corta(conexao, "Erro: Mensagem de " + conexao->endereco + " passou de " +
                           std::to_string(kMaxBufferMensagem) +
                           " bytes sem CR; conex\xE3o fechada");
    }
}

void TServidorTerminais::ProcessaBuffer(const std::shared_ptr<Conexao>& conexao) {
    // A handling that waits on a message box may let a later read of the same connection in;
    // the outer loop goes on with whatever is left, so messages keep their order. It goes on
    // when the connection ends meanwhile too: what the terminal sent in full is still handled.
    AvisosDepois(conexao, [&] {
        if (!conexao->processando && !conexao->segurando && !conexao->cortada) {
            conexao->processando = true;
            while (!conexao->segurando && !conexao->cortada) {
                const auto mensagem = conexao->buffer.Proxima();
                if (!mensagem) break;
                log_.Recebidos("<[" + common::Now().Format("dd/mm/yy hh:nn:ss zzz") + "] " +
                               *mensagem);
                if (OnMensagem) OnMensagem(conexao->endereco);
                // A failure in one message is reported and the next message is still handled.
                // A box's loop may handle another connection's message meanwhile.
                const auto anterior = std::exchange(inicioMensagem_, std::nullopt);
                if (monitor_) inicioMensagem_ = std::chrono::steady_clock::now();
                common::GuardEntryPoint([&] {
                    const common::TrafficChanges trafego;
                    motor_.ProcessaPacote(*mensagem, *conexao);
                });
                inicioMensagem_ = anterior;
            }
            conexao->processando = false;
        }
        AtualizaLeitura(*conexao);
    });
}

void TServidorTerminais::AtualizaLeitura(Conexao& conexao) {
    if (!conexao.sock) return;
    const bool retendo = conexao.segurando || conexao.processando;
    conexao.sock->PauseReading(retendo && conexao.buffer.Completas() >= kMaxRetido);
}

void TServidorTerminais::RelataNaoCadastrados(bool todas) {
    for (const std::string& linha : motor_.RelatosNaoCadastrados(todas)) {
        // Beside the messages it counts, and stamped like them.
        log_.Recebidos("[" + common::Now().Format("dd/mm/yy hh:nn:ss zzz") + "] " + linha);
        log_.Destaca(linha);
    }
}

void TServidorTerminais::SockInfo(TSock* origem, TSocketInfo tipo, const std::string& texto) {
    if (texto.find("Non-Blocking Incoming Data") != std::string::npos ||
        texto.find("Non-Blocking Outgoing Data") != std::string::npos) {
        return;
    }
    log_.Enviados("Info: " + texto);
    if (tipo != siError) return;
    // The journal has none of the log's lines around it that tell which gate it was.
    std::string linha = "Info: " + texto;
    if (origem && origem != sock_.get()) linha += " [" + origem->RemoteAddress() + "]";
    log_.Destaca(linha);
}

void TServidorTerminais::Falha(const std::string& linha) {
    log_.Enviados(linha);
    log_.Destaca(linha);
}

void TServidorTerminais::SockDisconnect(TSock* sock) {
    lista_.RemovePrimeiro(sock->RemoteAddress());
    // The pending card goes with the connection, without a row.
    if (const auto conexao = ConexaoDe(sock)) Libera(conexao);
}

void TServidorTerminais::Libera(const std::shared_ptr<Conexao>& conexao) {
    // No clock message for a terminal that is leaving; what it sent in full is handled now
    // (rows and saves happen; replies reach it only if it still reads), and only then is the
    // operator told that replies went nowhere.
    AvisosDepois(conexao, [&] {
        conexao->ParaRelogio();
        ProcessaBuffer(conexao);
        Descarta(conexao);
    });
}

void TServidorTerminais::Corta(const std::shared_ptr<Conexao>& conexao,
                               const std::string& linhaLog) {
    Falha(linhaLog);
    conexao->cortada = true;
    conexao->buffer.Limpa();
    TSock* sock = conexao->sock;
    if (!sock) return;
    lista_.RemovePrimeiro(conexao->endereco);
    Descarta(conexao);
    sock->Close();
}

void TServidorTerminais::Responde(Conexao& conexao, const std::string& texto) {
    if (conexao.cortada) return;  // its log line said that nothing more goes to it
    if (conexao.sock) {
        EscrevePorta(texto, sock_->IndexOf(conexao.sock));
        conexao.ultimaResposta = std::chrono::steady_clock::now();
        if (monitor_ && inicioMensagem_) {
            monitor_->Resposta(conexao.ultimaResposta - *inicioMensagem_);
            inicioMensagem_.reset();
        }
        return;
    }
    // Ended while its messages were still being handled.
    Falha("Erro: Falha ao enviar para " + conexao.endereco + ": " + kConexaoFechada);
    if (conexao.avisada) return;
    conexao.avisada = true;
    Avisa(sock_->ConnectionCount() == 0 ? textos::kSemTerminal : textos::kFalhaEnvio, true,
          &conexao);
}

void TServidorTerminais::EscrevePorta(const std::string& texto, int indice) {
    if (sock_->ConnectionCount() == 0) {
        Avisa(textos::kSemTerminal);
        return;
    }
    TSock* sock = sock_->Connection(indice);
    if (!sock) {
        FalhaEnvio("#" + std::to_string(indice), nullptr, "Send - Socket Not Connected");
        return;
    }
    const std::string endereco = sock->HostName();
    std::string motivo;
    try {
        sock->Send(texto);
        if (sock->LastSendError() != 0) motivo = SocketErrorNotice(sock->LastSendError());
    } catch (const std::exception& e) {
        motivo = e.what();
    }
    const auto conexao = ConexaoDe(sock);
    if (!motivo.empty()) {
        FalhaEnvio(endereco, conexao.get(), motivo);
        return;
    }
    log_.Enviados("[" + endereco + "]" + texto);
    if (conexao && sock->PendingOutputSize() > kMaxSaidaPendente) {
        Corta(conexao, "Erro: Terminal " + endereco + " n\xE3o l\xEA as respostas: mais de " +
                           std::to_string(kMaxSaidaPendente) +
                           " bytes por enviar; conex\xE3o fechada");
    }
}

void TServidorTerminais::FalhaEnvio(const std::string& endereco, Conexao* conexao,
                                    const std::string& motivo) {
    Falha("Erro: Falha ao enviar para " + endereco + ": " + motivo);
    // One box per connection: a terminal that is gone fails every reply still owed to it.
    if (conexao) {
        if (conexao->avisada) return;
        conexao->avisada = true;
    }
    Avisa(textos::kFalhaEnvio, true, conexao);
}

void TServidorTerminais::Avisa(const std::string& texto, bool registrado, Conexao* sobre) {
    if (sobre && sobre->adiando) {
        if (sobre->avisoAdiado.empty()) {
            sobre->avisoAdiado = texto;
            sobre->avisoRegistrado = registrado;
        } else if (!registrado) {
            Falha("Erro: " + UmaLinha(texto));
        }
        return;
    }
    // The box is modal and runs its own loop, in which other connections' events go on and may
    // want a box too, a failure box included: one at a time, the rest to the log, or boxes
    // would nest without end.
    if (common::BoxOpen()) {
        if (!registrado) Falha("Erro: " + UmaLinha(texto));
        return;
    }
    const common::BoxScope caixa;
    avisos_.Aviso(texto);
}

}  // namespace lumora
