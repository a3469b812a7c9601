// The configuration dialog of a first-family module.
#include "manager/shell/uConfigura.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "common/Convert.h"
#include "common/Unhandled.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/Text1252Qt.h"
#include "manager/shell/IPEdit.h"

namespace modrevo {
namespace {

QString T(const std::string& bytes) { return common::qt::ToQString(bytes); }

QLabel* Rotulo(QWidget* pai, const char* nome, const std::string& texto) {
    auto* l = new QLabel(T(texto), pai);
    l->setObjectName(QString::fromLatin1(nome));
    return l;
}

TIPEdit* Endereco(QWidget* pai, const char* nome, int largura) {
    auto* e = new TIPEdit(pai);
    e->setObjectName(QString::fromLatin1(nome));
    e->setFixedWidth(largura);
    return e;
}

// The first octet that is not a whole number, or -1.
int OctetoInvalido(const TIPEdit& campo) {
    for (int i = 0; i < 4; ++i) {
        if (!common::TryStrToInt(common::qt::FromQString(campo.Octeto(i)->text()))) return i;
    }
    return -1;
}

}  // namespace

TFormConfigura::TFormConfigura(std::string ipComputador, QWidget* parent)
    : QDialog(parent), ipComputador_(std::move(ipComputador)) {
    setObjectName(QStringLiteral("FormConfigura"));
    setWindowTitle(T("Configura\xE7\xE3o"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(215, 303);

    auto* coluna = new QVBoxLayout(this);
    coluna->setContentsMargins(0, 0, 0, 0);
    coluna->setSpacing(0);
    auto* corpo = new QWidget(this);
    auto* campos = new QVBoxLayout(corpo);
    campos->setContentsMargins(14, 10, 14, 6);
    campos->setSpacing(2);

    auto* lbDHCP = Rotulo(corpo, "Label1", "DHCP");
    cbDHCP_ = new QComboBox(corpo);
    cbDHCP_->setObjectName(QStringLiteral("cbDHCP"));
    cbDHCP_->addItem(QStringLiteral("Ativado"));
    cbDHCP_->addItem(QStringLiteral("Desativado"));
    cbDHCP_->setFixedWidth(185);
    lbIP_ = Rotulo(corpo, "Label2", "Endere\xE7o IP:");
    IPEdit_ = Endereco(corpo, "IPEdit", 185);
    lbMascara_ = Rotulo(corpo, "Label3", "M\xE1scara de Rede");
    IPEditMascara_ = Endereco(corpo, "IPEditMascara", 185);
    lbGateway_ = Rotulo(corpo, "Label4", "Gateway");
    IPEditGateway_ = Endereco(corpo, "IPEditGateway", 185);
    lbIPComp_ = Rotulo(corpo, "lbIPComp", "Endere\xE7o IP do Computador");
    IPEditIPComp_ = Endereco(corpo, "IPEditIPComp", 162);
    SpeedButton1_ = new QToolButton(corpo);
    SpeedButton1_->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1_->setText(QStringLiteral("IP"));
    QFont negrito = SpeedButton1_->font();
    negrito.setBold(true);
    negrito.setItalic(true);
    SpeedButton1_->setFont(negrito);
    SpeedButton1_->setToolTip(T("Utilizar o Endere\xE7o IP deste Computador"));
    SpeedButton1_->setFocusPolicy(Qt::NoFocus);
    SpeedButton1_->setAutoRaise(true);
    SpeedButton1_->setFixedSize(21, 21);

    for (QWidget* w :
         std::initializer_list<QWidget*>{lbDHCP, cbDHCP_, lbIP_, IPEdit_, lbMascara_,
                                         IPEditMascara_, lbGateway_, IPEditGateway_, lbIPComp_}) {
        campos->addWidget(w);
        if (qobject_cast<QLabel*>(w) == nullptr) campos->addSpacing(6);
    }
    auto* linhaComp = new QHBoxLayout;
    linhaComp->setSpacing(2);
    linhaComp->addWidget(IPEditIPComp_);
    linhaComp->addWidget(SpeedButton1_);
    linhaComp->addStretch(1);
    campos->addLayout(linhaComp);
    campos->addStretch(1);
    coluna->addWidget(corpo, 1);

    auto* faixa = new QFrame(this);
    faixa->setObjectName(QStringLiteral("Panel1"));
    faixa->setFrameShape(QFrame::StyledPanel);
    auto* botoes = new QHBoxLayout(faixa);
    botoes->setContentsMargins(8, 6, 8, 6);
    btOK_ = new QPushButton(QStringLiteral("OK"), faixa);
    btOK_->setObjectName(QStringLiteral("btOK"));
    btOK_->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    btCancelar_ = new QPushButton(QStringLiteral("Cancelar"), faixa);
    btCancelar_->setObjectName(QStringLiteral("btCancelar"));
    // Enter confirms nothing: an operator typing an address must press OK.
    for (QPushButton* b : {btOK_, btCancelar_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        botoes->addWidget(b);
    }
    coluna->addWidget(faixa);

    connect(cbDHCP_, &QComboBox::activated, this,
            [this] { common::GuardEntryPoint([this] { cbDHCPChange(); }); });
    connect(SpeedButton1_, &QToolButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { SpeedButton1Click(); }); });
    connect(btOK_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { OkClick(); }); });
    connect(btCancelar_, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormConfigura::cbDHCPChange() {
    const bool manual = cbDHCP_->currentIndex() != 0;
    for (QWidget* w : std::initializer_list<QWidget*>{lbIP_, lbMascara_, lbGateway_})
        w->setEnabled(manual);
    for (TIPEdit* e : {IPEdit_, IPEditMascara_, IPEditGateway_}) e->SetEnabled(manual);
}

void TFormConfigura::SpeedButton1Click() { IPEditIPComp_->SetText(ipComputador_); }

void TFormConfigura::OkClick() {
    const struct {
        TIPEdit* campo;
        const char* nome;
    } campos[] = {{IPEdit_, "Endere\xE7o IP"},
                  {IPEditMascara_, "M\xE1scara de Rede"},
                  {IPEditGateway_, "Gateway"},
                  {IPEditIPComp_, "Endere\xE7o IP do Computador"}};
    for (const auto& c : campos) {
        // A greyed field is not sent, so what it holds cannot keep the others from going.
        if (!c.campo->IsEnabled()) continue;
        const int octeto = OctetoInvalido(*c.campo);
        if (octeto < 0) continue;
        common::qt::Dialogs().Notice(TextoEnderecoIncompleto(c.nome));
        // Focus coming into the control always lands in octet 0 first; from there it can go
        // on to the octet that needs a number.
        c.campo->Octeto(0)->setFocus(Qt::OtherFocusReason);
        c.campo->Octeto(octeto)->setFocus(Qt::OtherFocusReason);
        return;
    }
    const auto voltaAoEndereco = [this] {
        if (IPEdit_->IsEnabled()) {
            IPEdit_->Octeto(0)->setFocus(Qt::OtherFocusReason);
            IPEdit_->Octeto(3)->setFocus(Qt::OtherFocusReason);
        }
    };
    // Two modules on one address both take every command sent there, and the lists cannot
    // tell their replies apart: the operator confirms that this is meant.
    const std::string ip = Le().ip;
    if (std::find(enderecosDeOutros_.begin(), enderecosDeOutros_.end(), ip) !=
            enderecosDeOutros_.end() &&
        !common::qt::Dialogs().Question(TextoEnderecoEmUso(ip))) {
        voltaAoEndereco();
        return;
    }
    // No broadcast reaches this module: moved to an address the book does not search, it
    // drops out of the list at the next refresh and only a new book entry brings it back.
    if (soPorUnicast_ && ip != preenchidos_.ip && !AgendaProcura(agenda_, ip) &&
        !common::qt::Dialogs().Question(TextoForaDaAgenda(ip))) {
        voltaAoEndereco();
        return;
    }
    accept();
}

void TFormConfigura::DefineEnderecosDeOutros(const std::vector<std::string>& enderecos) {
    enderecosDeOutros_ = enderecos;
}

void TFormConfigura::DefineAgenda(const std::vector<EntradaAgenda>& agenda, bool soPorUnicast) {
    agenda_ = agenda;
    soPorUnicast_ = soPorUnicast;
}

std::string TextoForaDaAgenda(const std::string& ip) {
    return "O endere\xE7o " + ip +
           " est\xE1 fora da agenda de endere\xE7os, e este m\xF3"
           "dulo s\xF3 \xE9 encontrado por ela: a pr\xF3xima atualiza\xE7\xE3o n\xE3o o "
           "encontrar\xE1. Usar este endere\xE7o mesmo assim?";
}

std::string TextoEnderecoEmUso(const std::string& ip) {
    return "O endere\xE7o " + ip +
           " j\xE1 \xE9 usado por outro m\xF3"
           "dulo da lista: os dois receberiam os mesmos "
           "comandos. Usar este endere\xE7o mesmo assim?";
}

std::string TextoEnderecoIncompleto(const std::string& campo) {
    return campo + ": endere\xE7o incompleto. Preencha os quatro n\xFAmeros.";
}

void TFormConfigura::Preenche(const CamposConfiguracao& campos, bool vexa) {
    // Setting a text changes only the octets it has: cleared first, no field keeps anything
    // of the module configured before.
    for (TIPEdit* e : {IPEdit_, IPEditMascara_, IPEditGateway_, IPEditIPComp_})
        e->SetText("0.0.0.0");
    preenchidos_ = campos;
    enderecosDeOutros_.clear();
    agenda_.clear();
    soPorUnicast_ = false;
    IPEdit_->SetText(campos.ip);
    IPEditGateway_->SetText(campos.gateway);
    IPEditMascara_->SetText(campos.mascara);
    cbDHCP_->setCurrentIndex(campos.dhcp == "Ativado" ? 0 : 1);
    cbDHCPChange();
    lbIPComp_->setEnabled(vexa);
    IPEditIPComp_->SetEnabled(vexa);
    SpeedButton1_->setEnabled(vexa);
    IPEditIPComp_->SetText(campos.ipComputador);
}

bool TFormConfigura::Executa() {
    if (parentWidget()) {
        const QRect pai = parentWidget()->frameGeometry();
        move(pai.center() - rect().center());
    }
    cbDHCP_->setFocus();
    return exec() == QDialog::Accepted;
}

CamposConfiguracao TFormConfigura::Le() const {
    const auto texto = [](const TIPEdit* e, const std::string& preenchido) {
        return e->IsEnabled() ? e->Text() : preenchido;
    };
    CamposConfiguracao c;
    c.ip = texto(IPEdit_, preenchidos_.ip);
    c.mascara = texto(IPEditMascara_, preenchidos_.mascara);
    c.gateway = texto(IPEditGateway_, preenchidos_.gateway);
    c.ipComputador = texto(IPEditIPComp_, preenchidos_.ipComputador);
    c.dhcp = common::qt::FromQString(cbDHCP_->currentText());
    return c;
}

}  // namespace modrevo
