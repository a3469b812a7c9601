// Modrevo's main window: toolbar, the two module lists, the status bar and the refresh timer.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "manager/modules/Atualizacao.h"
#include "manager/modules/Configuracao.h"
#include "manager/modules/EndpointUDP.h"

class QLabel;
class QPlainTextEdit;
class QTimer;
class QKeyEvent;
class QToolButton;

namespace common::qt {
class DataSource;
class DbGrid;
}  // namespace common::qt

namespace modrevo {

class TFormAgenda;
class TFormConfigura;
class TfrmTempo;

// Opens a URL in the desktop's browser. There is no process to wait for: it returns at once.
class TAbridorDesktop : public IAbridor {
  public:
    void AbreEAguarda(const std::string& documento) override;
};

class TFormPrincipal : public QMainWindow, public IJanelaGerente {
    Q_OBJECT
  public:
    // `ipComputador`: this computer's address as found at start-up ("" when none was found).
    explicit TFormPrincipal(const std::string& ipComputador, QWidget* parent = nullptr);
    ~TFormPrincipal() override;

    TAtualizacao& Atualizacao() { return *atualizacao_; }
    TConfiguracao& Configuracao() { return *configuracao_; }
    TFormConfigura* FormConfigura() const { return formConfigura_; }
    // The response-time window, made when it is first opened (null before).
    TfrmTempo* FrmTempo() const { return frmTempo_; }
    // The address-book window, made when it is first opened (null before).
    TFormAgenda* FormAgenda() const { return formAgenda_; }
    // The first list shows this row marked: its address is another module's too.
    bool LinhaMarcada(int linha) const;
    // Tests put a fake in place of the desktop; null puts the desktop back.
    void DefineAbridor(IAbridor* abridor) { abridor_ = abridor ? abridor : &abridorDesktop_; }
    TUDPEndpoint& UDPClient() { return udpClient_; }
    TUDPEndpoint& UDPClientAUX() { return udpClientAux_; }
    TUDPEndpoint& UDPSafe() { return udpSafe_; }
    const std::string& IPComputador() const { return ipComputador_; }
    // The response time the last refresh loaded.
    const std::string& TempoCarregado() const { return tempoResposta_; }
    // True once the first refresh has been started (first activation or first show).
    bool Ativada() const { return ativada_; }
    // Closing was asked for while an operation ran: the window is hidden and the program ends
    // when the operation has finished.
    bool FechamentoPendente() const { return fechamentoPendente_; }
    // Ends the program as the close button does (SIGTERM, the session's end).
    void Encerra();

    // IJanelaGerente
    void ProcessaMensagens() override;
    void Ampulheta(bool ligada) override;
    void LimpaMemos() override;
    void AdicionaMemo1(const std::string& linha) override;
    void AdicionaMemo2(const std::string& linha) override;
    void Aviso(const std::string& texto) override;
    void MostraContagem(const std::string& texto) override;
    std::string CarregaTempoResposta() override;
    void ParaTimer1() override;
    void IniciaTimer1() override;
    void Pausa(int milissegundos) override;
    void MensagemSimples(const std::string& texto) override;
    std::vector<EntradaAgenda> CarregaAgenda() override;
    void MostraDuplicados(int modulos) override;
    void Diagnostico(const std::string& linha) override;

    // Handlers of the toolbar and the lists.
    void ToolButtonConfigurarClick();
    void DBGridEh1DblClick();
    void DBGridEh2DblClick();
    // "Endere\xE7os": the address book; a book stored there is searched at once.
    void ToolButtonAgendaClick();
    // Ctrl+Shift+Alt+T, and nothing else, opens the response-time window.
    void FormKeyDown(QKeyEvent* event, bool& tratada);

  signals:
    void finalizado();

  protected:
    bool eventFilter(QObject* alvo, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CriaControles();
    void AjustaColunas();
    void FormActivate();
    // Runs an operation from the event loop: failures go to the error box, and a close asked
    // for meanwhile is carried out once no operation runs any more.
    template <class F>
    void Operacao(F&& f);
    bool Ocupada() const;

    TUDPEndpoint udpClient_{8192};
    TUDPEndpoint udpClientAux_{8192};
    TUDPEndpoint udpSafe_{512};
    std::unique_ptr<TAtualizacao> atualizacao_;
    TFormConfigura* formConfigura_ = nullptr;
    TfrmTempo* frmTempo_ = nullptr;
    TFormAgenda* formAgenda_ = nullptr;
    TAbridorDesktop abridorDesktop_;
    IAbridor* abridor_ = &abridorDesktop_;
    // Forwards to whatever opener is in force.
    struct AbridorAtual : IAbridor {
        explicit AbridorAtual(TFormPrincipal& f) : form(f) {}
        void AbreEAguarda(const std::string& d) override { form.abridor_->AbreEAguarda(d); }
        TFormPrincipal& form;
    } abridorAtual_{*this};
    std::unique_ptr<TConfiguracao> configuracao_;
    std::string ipComputador_;
    std::string tempoResposta_;
    int operacoes_ = 0;
    bool ativada_ = false;
    bool fechamentoPendente_ = false;
    bool encerrando_ = false;

    std::unique_ptr<common::qt::DataSource> dsColetores_;
    std::unique_ptr<common::qt::DataSource> dsModulos_;
    common::qt::DbGrid* DBGridEh1_ = nullptr;
    common::qt::DbGrid* DBGridEh2_ = nullptr;
    QToolButton* ToolButton2_ = nullptr;
    QToolButton* ToolButtonConfigurar_ = nullptr;
    QToolButton* ToolButtonAgenda_ = nullptr;
    QToolButton* ToolButton5_ = nullptr;
    QToolButton* btnUDPSafe_ = nullptr;
    QPlainTextEdit* Memo1_ = nullptr;
    QPlainTextEdit* Memo2_ = nullptr;
    QLabel* painelContagem_ = nullptr;
    QLabel* painelDuplicados_ = nullptr;
    QLabel* painelEndereco_ = nullptr;
    QTimer* Timer1_ = nullptr;
};

}  // namespace modrevo
