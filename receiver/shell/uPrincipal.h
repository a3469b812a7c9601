// The receiver's main window: card list, history, settings and equipment, and the program's
// lifecycle.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QWindow>
#include <filesystem>
#include <memory>
#include <optional>

#include "common/qt/RecordNavigator.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/control/EstadoTerminais.h"
#include "receiver/control/LimiteJornal.h"
#include "receiver/control/Monitor.h"
#include "receiver/control/Motor.h"
#include "receiver/control/Tabelas.h"
#include "receiver/link/Servidor.h"
#include "receiver/link/ServidorMonitor.h"
#include "receiver/shell/ConfigIni.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTableWidget;
class QTabWidget;
class QTimer;

namespace common::qt {
class DataSource;
class DbGrid;
}  // namespace common::qt

namespace lumora {

class TMutexGlobal;
class TTravaPasta;
class TformHistoricos;
class TformLog;

// Creating the window runs the start-up: single instance, tables, Config.ini, the computer's
// address, the two times, the start-up timers, no taskbar button. The controls are the only
// store of the settings while the program runs; the engine reads them live (IFonteAjustes).
class TFormPrincipal : public QMainWindow,
                       public IFonteAjustes,
                       public IListaTerminais,
                       public IAvisosOperador {
    Q_OBJECT
  public:
    // `pastaPrograma` holds Config.ini, Equip.xml, Comandas.xml and Historicos/.
    explicit TFormPrincipal(std::filesystem::path pastaPrograma, QWidget* parent = nullptr);
    ~TFormPrincipal() override;

    // True when start-up decided that the program ends (a second instance, a table that could
    // not be taken up); nothing else ran then.
    bool Encerrar() const { return encerrar_; }
    // Why, in one line, when it did.
    const std::string& Recusa() const { return recusa_; }
    // The traffic-log window, made after this one; the server writes to it from then on.
    void DefineLog(TformLog* log);
    // The listen address given on the command line: it replaces Config.ini's for this run,
    // which the field shows read-only and the close leaves in the file as it was.
    void DefineEnderecoEscuta(const std::string& endereco);
    // The monitoring endpoint given on the command line ("[ADDRESS:]PORT", empty: none): it
    // replaces Config.ini's Monitor_Http for this run. The endpoint starts when the event loop
    // does.
    void DefineMonitor(const std::string& endereco) { configMonitor_.endereco = endereco; }
    const TServidorMonitor& ServidorMonitor() const { return *servidorMonitor_; }

    AjustesSaida AjustesAtuais() const override;
    void Limpa() override;
    void Adiciona(const std::string& ip) override;
    void RemovePrimeiro(const std::string& ip) override;
    void Aviso(const std::string& texto) override;

    int32_t TempoGiro() const { return tempoGiro_; }
    int32_t TempoRele() const { return tempoRele_; }
    TabelasReceptor& Tabelas() { return tabelas_; }
    TServidorTerminais& Servidor() { return *servidor_; }
    const std::filesystem::path& PastaPrograma() const { return pasta_; }
    QSystemTrayIcon* IconeBandeja() const { return bandeja_; }

    // The operator's actions.
    void btIniciarClick();
    void btnAtualizarClick();
    void btnLimparHistClick();
    void btVerificaIPClick();
    void dbnEquipamentosClick(common::qt::RecordNavigator::Button botao);
    void Esconde();   // hide to the notification area (or minimise where there is none)
    void Restaura();  // back from the notification area, normal state, in front

    // The terminals' status (uPrincipalTerminais.cpp): brought up to date every second from
    // the connections, the messages and the day's history; due reports go out from here.
    void AtualizaTerminais();
    const TEstadoTerminais& EstadoTerminais() const { return estadoTerminais_; }
    // The window with every registered terminal's status, in front.
    void MostraTerminais();
    // The past-nights window, made on first use.
    TformHistoricos* AbreHistoricos();

    // The end the system asks for (SIGTERM, SIGINT): nobody answers boxes from now on; a box
    // on screen closes as if OK had been pressed, what it held up is handled, and then the
    // close sequence runs without the question.
    void PedidoDoSistema();
    // The close sequence without the question; failures go to stderr, since nobody may be
    // there to see a box.
    void EncerraSemPergunta();

  signals:
    // The close sequence has run: the program is to end.
    void finalizado();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* alvo, QEvent* evento) override;

  private:
    // Building the window (uPrincipalTelas.cpp).
    void CriaMenu();
    QWidget* CriaAbaComandas();
    QWidget* CriaAbaHistorico();
    QWidget* CriaAbaConfiguracoes();
    QWidget* CriaAbaEquipamentos();
    void CriaBarraStatus();
    void CriaBandeja();
    void CriaJanelaTerminais();
    void CriaMenuRelatorios();
    void AvisaTerminal(const AvisoTerminal& aviso);
    // At the cut hour, the next night's history file (the one-second tick).
    void VerificaNoite();
    // The monitoring endpoint (uPrincipalMonitor.cpp): started once, and what it serves
    // brought up to date every second.
    void IniciaMonitor();
    void PublicaMonitor(common::DateTime agora);
    void AjustaAbas();
    QLineEdit* Campo(QWidget* pai, const char* nome, const char* texto);

    // Lifecycle (uPrincipal.cpp).
    void Inicia();
    void AplicaTempos();
    void edTempoGiroExit();
    void edTempoReleExit();
    // The exit of a time field, once the focus has settled.
    void SaidaAdiada(QObject* campo);
    // At start-up and on return from the traffic-log window only.
    void FormActivate();
    void SaiDoCampoTempo(QLineEdit* campo, int32_t& tempo, const std::string& mensagem);
    // Stops communication, saves the tables and writes Config.ini; `aviso` shows each failure.
    void Finaliza(void (*aviso)(const std::string&));
    ControlesConfig Controles() const;
    std::filesystem::path ArquivoConfig() const;

    std::filesystem::path pasta_;
    std::unique_ptr<TMutexGlobal> mutex_;
    std::unique_ptr<TTravaPasta> travaPasta_;
    TabelasReceptor tabelas_;
    // What the monitoring endpoint answers from; the endpoint goes before it.
    TMonitor monitor_;
    std::unique_ptr<TServidorMonitor> servidorMonitor_;
    ConfigMonitor configMonitor_;
    std::unique_ptr<TArquivosReceptor> arquivos_;
    std::unique_ptr<TArquivosMonitorados> arquivosMonitorados_;
    std::unique_ptr<TMotorSaida> motor_;
    std::unique_ptr<TServidorTerminais> servidor_;
    std::unique_ptr<common::qt::DataSource> dsComandas_, dsHistorico_, dsEquipamentos_;

    // The log window comes after this one; until then lines have nowhere to go.
    struct LogAdiado : ILogTrafego {
        TformLog* log = nullptr;
        // Where nobody sees the window, the lines that matter go to the journal, bounded.
        TLimiteJornal jornal;
        void Recebidos(const std::string& linha) override;
        void Enviados(const std::string& linha) override;
        void Destaca(const std::string& linha) override;
        // What the bound left out and was not said yet.
        void FechaJornal();
    } log_;

    bool encerrar_ = false;
    std::string recusa_;
    bool tabelasIniciadas_ = false;
    bool finalizado_ = false;
    bool flagAutoInit_ = false;
    bool flagMinimizeInit_ = false;
    bool jaAtivada_ = false;
    // The program's window that had the keyboard last, none when another program had it.
    QPointer<QWindow> janelaAnterior_;
    int32_t tempoGiro_ = 5;
    int32_t tempoRele_ = 3;

    QTabWidget* paginas_ = nullptr;
    QWidget* abaComandas_ = nullptr;
    QWidget* abaHistorico_ = nullptr;
    QWidget* abaConfiguracoes_ = nullptr;
    QWidget* abaEquipamentos_ = nullptr;

    QPushButton* btIniciar_ = nullptr;
    QPushButton* btVerificaIP_ = nullptr;
    QPushButton* btnAtualizar_ = nullptr;
    QPushButton* btnLimparHist_ = nullptr;
    QCheckBox* ckAutoInit_ = nullptr;
    QCheckBox* ckMinimizeInit_ = nullptr;
    QRadioButton* rbListaBranca_ = nullptr;
    QRadioButton* rbListaNegra_ = nullptr;
    QLineEdit* edIPLocal_ = nullptr;
    QLineEdit* edPortaTCP_ = nullptr;
    QLineEdit* edEnderecoEscuta_ = nullptr;
    QLineEdit* edPortaTeminal_ = nullptr;
    QLineEdit* edTempoGiro_ = nullptr;
    QLineEdit* edTempoRele_ = nullptr;
    QLineEdit* edMsg1Lib_ = nullptr;
    QLineEdit* edMsg2Lib_ = nullptr;
    QLineEdit* edMsg1Aguardo_ = nullptr;
    QLineEdit* edMsg2Aguardo_ = nullptr;
    QLineEdit* edMsg1Blo_ = nullptr;
    QLineEdit* edMsg2Blo_ = nullptr;
    // The mode and the six texts as the engine takes them, read from the fields again only
    // after one of them changed (every message asks for them).
    mutable std::optional<AjustesSaida> ajustesLidos_;
    QListWidget* ListBoxTerminais_ = nullptr;
    common::qt::DbGrid* dbgComandas_ = nullptr;
    common::qt::DbGrid* dbgHistorico_ = nullptr;
    common::qt::DbGrid* dbgEquipamentos_ = nullptr;
    common::qt::RecordNavigator* dbnHistorico_ = nullptr;
    common::qt::RecordNavigator* dbnEquipamentos_ = nullptr;
    QTimer* tmrAutoCom_ = nullptr;
    QTimer* tmrAutoMinimize_ = nullptr;
    QSystemTrayIcon* bandeja_ = nullptr;

    TEstadoTerminais estadoTerminais_;
    // The hour at which the next night's history begins (Config.ini); until when a night
    // change that failed waits before it is tried again.
    int horaCorte_ = kHoraCorteHistorico;
    common::DateTime proximaVirada_;
    uint64_t mudancasEquipamentos_ = UINT64_MAX;
    uint64_t mudancasHistorico_ = UINT64_MAX;
    QWidget* janelaTerminais_ = nullptr;
    QLabel* lbTerminais_ = nullptr;
    QTableWidget* grdTerminais_ = nullptr;
    QTimer* tmrTerminais_ = nullptr;
    QPointer<TformHistoricos> historicos_;
};

// A moment of the status window: its time when it is today, else its day and time; "-" for none.
std::string Momento(common::DateTime quando, common::DateTime agora);

// Whether nobody can answer a box or see the window: the offscreen and minimal platforms (the
// headless service), which have no screen at all.
bool SemOperador();

// The texts of this window and of the start-up, in Windows-1252.
namespace textosPrincipal {
inline const std::string kSegundaInstancia =
    "O Programa j\xE1 esta em uso...N\xE3o pode criar duas Est\xE2ncias!";
inline const std::string kInformeGiro = "Informe o tempo de libera\xE7\xE3o do giro.";
inline const std::string kInformeRele = "Informe o tempo de acionamento do rel\xE9 do cofre.";
inline const std::string kFinalizar = "Deseja realmente finalizar o programa?";
inline const std::string kLimparHistorico = "Deseja realmente Limpar todo o Hist\xF3rico?";
}  // namespace textosPrincipal

}  // namespace lumora
