// Modrevo's main window: toolbar, the two module lists, the status bar and the refresh timer.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "manager/modules/Atualizacao.h"
#include "manager/modules/EndpointUDP.h"

class QLabel;
class QPlainTextEdit;
class QTimer;
class QToolButton;

namespace common::qt {
class DataSource;
class DbGrid;
}  // namespace common::qt

namespace modrevo {

class TFormPrincipal : public QMainWindow, public IJanelaGerente {
    Q_OBJECT
  public:
    // `ipComputador`: this computer's address as found at start-up ("" when none was found).
    explicit TFormPrincipal(const std::string& ipComputador, QWidget* parent = nullptr);
    ~TFormPrincipal() override;

    TAtualizacao& Atualizacao() { return *atualizacao_; }
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

  signals:
    void finalizado();

  protected:
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
    QToolButton* ToolButton5_ = nullptr;
    QToolButton* btnUDPSafe_ = nullptr;
    QPlainTextEdit* Memo1_ = nullptr;
    QPlainTextEdit* Memo2_ = nullptr;
    QLabel* painelContagem_ = nullptr;
    QLabel* painelEndereco_ = nullptr;
    QTimer* Timer1_ = nullptr;
};

}  // namespace modrevo
