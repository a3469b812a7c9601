// The configuration dialog of a first-family module: DHCP, address, netmask, gateway and the
// computer's address.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "manager/modules/Configuracao.h"

class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace modrevo {

class TIPEdit;

// The notice that refuses OK, for the field with that label.
std::string TextoEnderecoIncompleto(const std::string& campo);
// The question OK asks when the address is another listed module's.
std::string TextoEnderecoEmUso(const std::string& ip);
// The question OK asks when a module found only through the book is given an address the
// book does not search.
std::string TextoForaDaAgenda(const std::string& ip);

class TFormConfigura : public QDialog, public IDialogoConfigura {
    Q_OBJECT
  public:
    // `ipComputador` is what the "IP" button writes.
    explicit TFormConfigura(std::string ipComputador, QWidget* parent = nullptr);

    void Preenche(const CamposConfiguracao& campos, bool vexa) override;
    bool Executa() override;
    CamposConfiguracao Le() const override;
    void DefineEnderecosDeOutros(const std::vector<std::string>& enderecos) override;
    void DefineAgenda(const std::vector<EntradaAgenda>& agenda, bool soPorUnicast) override;

    void cbDHCPChange();
    void SpeedButton1Click();

  private:
    // OK: refused while an address that can be edited has an octet that is not a whole number;
    // a notice names the field and the focus then goes to that octet.
    void OkClick();

    std::string ipComputador_;
    CamposConfiguracao preenchidos_;
    std::vector<std::string> enderecosDeOutros_;
    std::vector<EntradaAgenda> agenda_;
    bool soPorUnicast_ = false;
    QComboBox* cbDHCP_ = nullptr;
    QLabel* lbIP_ = nullptr;
    QLabel* lbMascara_ = nullptr;
    QLabel* lbGateway_ = nullptr;
    QLabel* lbIPComp_ = nullptr;
    TIPEdit* IPEdit_ = nullptr;
    TIPEdit* IPEditMascara_ = nullptr;
    TIPEdit* IPEditGateway_ = nullptr;
    TIPEdit* IPEditIPComp_ = nullptr;
    QToolButton* SpeedButton1_ = nullptr;
    QPushButton* btOK_ = nullptr;
    QPushButton* btCancelar_ = nullptr;
};

}  // namespace modrevo
