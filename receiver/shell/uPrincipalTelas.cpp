// The main window's controls: menu, the four tabs, the status bar and the notification-area icon.
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/Unhandled.h"
#include "common/qt/DataSource.h"
#include "common/qt/DbGrid.h"
#include "common/qt/Text1252Qt.h"
#include "receiver/shell/FiltrosCampos.h"
#include "receiver/shell/IconePrograma.h"
#include "receiver/shell/uLog.h"
#include "receiver/shell/uPrincipal.h"

namespace lumora {
namespace {

using common::qt::DbGrid;
using common::qt::GridColumn;
using common::qt::RecordNavigator;

QString T(const std::string& bytes) { return common::qt::ToQString(bytes); }

QLabel* Rotulo(QWidget* pai, const std::string& texto) { return new QLabel(T(texto), pai); }

QPushButton* Botao(QWidget* pai, const char* nome, const std::string& texto) {
    auto* b = new QPushButton(T(texto), pai);
    b->setObjectName(QString::fromLatin1(nome));
    return b;
}

QVBoxLayout* Coluna(QWidget* pai, int margem = 4) {
    auto* c = new QVBoxLayout(pai);
    c->setContentsMargins(margem, margem, margem, margem);
    c->setSpacing(3);
    return c;
}

}  // namespace

QLineEdit* TFormPrincipal::Campo(QWidget* pai, const char* nome, const char* texto) {
    auto* e = new QLineEdit(T(texto), pai);
    e->setObjectName(QString::fromLatin1(nome));
    return e;
}

void TFormPrincipal::CriaMenu() {
    QMenu* arquivo = menuBar()->addMenu(QStringLiteral("&Arquivo"));
    arquivo->setObjectName(QStringLiteral("Arquivo1"));
    auto entrada = [&](const char* nome, const std::string& texto, auto acao) {
        QAction* a = arquivo->addAction(T(texto));
        a->setObjectName(QString::fromLatin1(nome));
        connect(a, &QAction::triggered, this, [acao] { common::GuardEntryPoint(acao); });
        return a;
    };
    entrada("Configuracoes1",
            "Configura\xE7\xF5"
            "es",
            [this] { paginas_->setCurrentWidget(abaConfiguracoes_); });
    entrada("ListadeComandas1", "Lista de Comandas",
            [this] { paginas_->setCurrentWidget(abaComandas_); });
    entrada("HistoricodeAcesso1", "Historico de Acesso",
            [this] { paginas_->setCurrentWidget(abaHistorico_); });
    entrada("LogRecebidosEnviados1", "Log Recebidos/Enviados", [this] {
        if (!log_.log) return;
        // Without a taskbar button of its own, a minimised log window comes back only here.
        log_.log->setWindowState(log_.log->windowState() & ~Qt::WindowMinimized);
        log_.log->show();
        log_.log->raise();
        log_.log->activateWindow();
    });
    entrada("Minimizar1", "Minimizar", [this] { Esconde(); });
    entrada("Sair1", "Sair", [this] { close(); });
}

QWidget* TFormPrincipal::CriaAbaComandas() {
    auto* aba = new QWidget;
    aba->setObjectName(QStringLiteral("tsComandas"));
    auto* col = Coluna(aba);
    auto* topo = new QHBoxLayout;
    topo->addWidget(Rotulo(aba, "Lista de Comandas\nEm Uso:"));
    topo->addSpacing(12);
    btnAtualizar_ = Botao(aba, "btnAtualizar", "Atualizar Lista");
    connect(btnAtualizar_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { btnAtualizarClick(); }); });
    topo->addWidget(btnAtualizar_);
    topo->addStretch(1);
    col->addLayout(topo);

    dbgComandas_ = new DbGrid(aba);
    dbgComandas_->setObjectName(QStringLiteral("dbgComandas"));
    dbgComandas_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgComandas_->Bind(*dsComandas_, {{campo::kNumComanda, "Comandas Bloqueadas", 149}}, true);
    col->addWidget(dbgComandas_, 1);
    return aba;
}

QWidget* TFormPrincipal::CriaAbaHistorico() {
    auto* aba = new QWidget;
    aba->setObjectName(QStringLiteral("tsHistorico"));
    auto* col = Coluna(aba);
    auto* topo = new QHBoxLayout;
    topo->addWidget(Rotulo(aba, "Historico de Acessos:"));
    dbnHistorico_ =
        new RecordNavigator({RecordNavigator::First, RecordNavigator::Prior, RecordNavigator::Next,
                             RecordNavigator::Last, RecordNavigator::Delete},
                            aba);
    dbnHistorico_->setObjectName(QStringLiteral("dbnHistorico"));
    dbnHistorico_->SetDataSource(dsHistorico_.get());
    topo->addWidget(dbnHistorico_);
    btnLimparHist_ = Botao(aba, "btnLimparHist", "Limpar Hist\xF3rico");
    connect(btnLimparHist_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { btnLimparHistClick(); }); });
    topo->addWidget(btnLimparHist_);
    topo->addStretch(1);
    col->addLayout(topo);

    dbgHistorico_ = new DbGrid(aba);
    dbgHistorico_->setObjectName(QStringLiteral("dbgHistorico"));
    dbgHistorico_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgHistorico_->Bind(*dsHistorico_,
                        {{campo::kDataHora, "Data Hora", 113, true, "dd/mm/yyyy hh:mm:ss"},
                         {campo::kCracha, "Comanda", 106},
                         {campo::kEstado, "Estado", 57},
                         {campo::kTerminal, "Equip.", 35}},
                        true);
    col->addWidget(dbgHistorico_, 1);
    return aba;
}

QWidget* TFormPrincipal::CriaAbaConfiguracoes() {
    auto* aba = new QWidget;
    aba->setObjectName(QStringLiteral("tsConfiguracoes"));
    auto* col = Coluna(aba);

    // The strip across the top.
    auto* faixa = new QGridLayout;
    faixa->setHorizontalSpacing(6);
    faixa->setVerticalSpacing(0);
    btIniciar_ = Botao(aba, "btIniciar", textos::kIniciar);
    connect(btIniciar_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { btIniciarClick(); }); });
    btVerificaIP_ = Botao(aba, "btVerificaIP", "Verif. IP no Terminal");
    connect(btVerificaIP_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { btVerificaIPClick(); }); });
    ckAutoInit_ = new QCheckBox(T("Iniciar Comunica\xE7\xE3o "), aba);
    ckAutoInit_->setObjectName(QStringLiteral("ckAutoInit"));
    auto* automaticamente = Rotulo(aba, "Automaticamente");
    // Under the check box's text, so that both read as one caption.
    automaticamente->setIndent(ckAutoInit_->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 4);
    ckMinimizeInit_ = new QCheckBox(T("Iniciar Minimizado"), aba);
    ckMinimizeInit_->setObjectName(QStringLiteral("ckMinimizeInit"));
    rbListaBranca_ = new QRadioButton(T("Lista Branca"), aba);
    rbListaBranca_->setObjectName(QStringLiteral("rbListaBranca"));
    rbListaBranca_->setChecked(true);
    rbListaNegra_ = new QRadioButton(T("Lista Negra"), aba);
    rbListaNegra_->setObjectName(QStringLiteral("rbListaNegra"));
    faixa->addWidget(btIniciar_, 0, 0);
    faixa->addWidget(btVerificaIP_, 1, 0, 2, 1, Qt::AlignTop);
    faixa->addWidget(ckAutoInit_, 0, 1);
    faixa->addWidget(automaticamente, 1, 1, Qt::AlignTop);
    faixa->addWidget(ckMinimizeInit_, 2, 1);
    faixa->addWidget(Rotulo(aba, "Modo de opera\xE7\xE3o:"), 0, 2);
    faixa->addWidget(rbListaBranca_, 1, 2);
    faixa->addWidget(rbListaNegra_, 2, 2);
    col->addLayout(faixa);

    auto* corpo = new QHBoxLayout;
    corpo->setSpacing(4);
    // The column on the left.
    auto* esquerda = new QWidget(aba);
    esquerda->setFixedWidth(162);
    auto* ce = Coluna(esquerda, 0);
    ce->setSpacing(1);
    ce->addWidget(Rotulo(esquerda, "Endere\xE7o IP do \ncomputador (local)"));
    edIPLocal_ = Campo(esquerda, "edIPLocal", "");
    edIPLocal_->setMaxLength(15);
    ce->addWidget(edIPLocal_);
    auto* portaComputador = Rotulo(esquerda, "Porta do Computador");
    portaComputador->setEnabled(false);
    ce->addWidget(portaComputador);
    edPortaTCP_ = Campo(esquerda, "edPortaTCP", "2050");
    // Where a PC sits on the office network as well as the gate network, the port is opened
    // on the gate network's address only.
    auto* portaEndereco = new QHBoxLayout;
    portaEndereco->setSpacing(3);
    edPortaTCP_->setFixedWidth(48);
    portaEndereco->addWidget(edPortaTCP_);
    portaEndereco->addWidget(Rotulo(esquerda, "em"));
    edEnderecoEscuta_ = Campo(esquerda, "edEnderecoEscuta", "");
    edEnderecoEscuta_->setMaxLength(15);
    edEnderecoEscuta_->setPlaceholderText(T("todos"));
    edEnderecoEscuta_->setToolTip(
        T("Endere\xE7o IP deste computador em que os terminais s\xE3o atendidos (o da rede "
          "das catracas); vazio: todos os endere\xE7os"));
    portaEndereco->addWidget(edEnderecoEscuta_, 1);
    ce->addLayout(portaEndereco);
    auto* portaTerminal = Rotulo(esquerda, "Porta do Terminal");
    portaTerminal->setEnabled(false);
    ce->addWidget(portaTerminal);
    edPortaTeminal_ = Campo(esquerda, "edPortaTeminal", "2051");
    ce->addWidget(edPortaTeminal_);
    ce->addWidget(Rotulo(esquerda, "Terminais Conectados"));
    ListBoxTerminais_ = new QListWidget(esquerda);
    ListBoxTerminais_->setObjectName(QStringLiteral("ListBoxTerminais"));
    ListBoxTerminais_->setFixedSize(105, 120);
    ce->addWidget(ListBoxTerminais_);
    ce->addStretch(1);
    corpo->addWidget(esquerda, 0, Qt::AlignTop);

    // The two framed groups.
    auto* direita = new QVBoxLayout;
    direita->setSpacing(2);
    auto* ajustes = new QGroupBox(T("Ajustes"), aba);
    ajustes->setObjectName(QStringLiteral("gbAjustes"));
    auto* ga = new QGridLayout(ajustes);
    ga->setContentsMargins(6, 2, 6, 4);
    ga->setVerticalSpacing(1);
    auto tempo = [&](int linha, const char* rotulo, const char* nome, const char* valor) {
        ga->addWidget(Rotulo(ajustes, rotulo), linha, 0, 1, 2);
        QLineEdit* e = Campo(ajustes, nome, valor);
        e->setFixedWidth(25);
        e->installEventFilter(new FiltroDigitos(e));
        e->installEventFilter(this);
        ga->addWidget(e, linha + 1, 0);
        ga->addWidget(Rotulo(ajustes, "Segundos"), linha + 1, 1);
        return e;
    };
    edTempoGiro_ = tempo(0, "Tempo de Libera\xE7\xE3o:", "edTempoGiro", "5");
    edTempoRele_ = tempo(2, "Tempo do Rele:", "edTempoRele", "3");
    ga->setColumnStretch(1, 1);
    direita->addWidget(ajustes);

    auto* mensagens = new QGroupBox(T("Mensagens"), aba);
    mensagens->setObjectName(QStringLiteral("gbMensagens"));
    auto* gm = new QGridLayout(mensagens);
    gm->setContentsMargins(6, 2, 6, 4);
    gm->setVerticalSpacing(1);
    gm->setHorizontalSpacing(4);
    int linha = 0;
    auto par = [&](const char* titulo, const char* nome1, const char* valor1, const char* nome2,
                   const char* valor2, QLineEdit*& campo1, QLineEdit*& campo2) {
        gm->addWidget(Rotulo(mensagens, titulo), linha++, 0, 1, 2);
        gm->addWidget(Rotulo(mensagens, "Linha 1:"), linha, 0);
        campo1 = Campo(mensagens, nome1, valor1);
        gm->addWidget(campo1, linha++, 1);
        gm->addWidget(Rotulo(mensagens, "Linha 2:"), linha, 0);
        campo2 = Campo(mensagens, nome2, valor2);
        gm->addWidget(campo2, linha++, 1);
        for (QLineEdit* e : {campo1, campo2}) e->setValidator(new LimiteDigitacao(e, 16));
    };
    par("Mensagem da Comanda Liberada:", "edMsg1Lib", "Saida", "edMsg2Lib", "Liberada", edMsg1Lib_,
        edMsg2Lib_);
    par("Mensagem de Aguardo de Obstru\xE7\xE3o:", "edMsg1Aguardo", "Por Favor Libere",
        "edMsg2Aguardo", "a Comanda", edMsg1Aguardo_, edMsg2Aguardo_);
    par("Mensagem da Comanda Bloqueada:", "edMsg1Blo", "Saida", "edMsg2Blo", "Bloqueada",
        edMsg1Blo_, edMsg2Blo_);
    direita->addWidget(mensagens);
    direita->addStretch(1);
    corpo->addLayout(direita, 1);
    col->addLayout(corpo, 1);
    return aba;
}

QWidget* TFormPrincipal::CriaAbaEquipamentos() {
    auto* aba = new QWidget;
    aba->setObjectName(QStringLiteral("tsEquipamentos"));
    auto* col = Coluna(aba);
    auto* topo = new QHBoxLayout;
    topo->addWidget(Rotulo(aba, "Cadastro de Equipamentos:"));
    dbnEquipamentos_ =
        new RecordNavigator({RecordNavigator::Insert, RecordNavigator::Delete,
                             RecordNavigator::Edit, RecordNavigator::Post, RecordNavigator::Cancel},
                            aba);
    dbnEquipamentos_->setObjectName(QStringLiteral("dbnEquipamentos"));
    dbnEquipamentos_->SetDataSource(dsEquipamentos_.get());
    connect(dbnEquipamentos_, &RecordNavigator::clicked, this, [this](RecordNavigator::Button b) {
        common::GuardEntryPoint([this, b] { dbnEquipamentosClick(b); });
    });
    topo->addWidget(dbnEquipamentos_);
    topo->addStretch(1);
    col->addLayout(topo);

    dbgEquipamentos_ = new DbGrid(aba);
    dbgEquipamentos_->setObjectName(QStringLiteral("dbgEquipamentos"));
    dbgEquipamentos_->setFixedWidth(364);
    dbgEquipamentos_->Bind(*dsEquipamentos_,
                           {{campo::kNumEquipamento, "N. Equip.", 51, false},
                            {campo::kIP, "Endere\xE7o de IP", 164, false}},
                           false);
    dbgEquipamentos_->SetIndicator(true);
    col->addWidget(dbgEquipamentos_, 1, Qt::AlignLeft);
    return aba;
}

void TFormPrincipal::CriaBarraStatus() {
    auto* barra = statusBar();
    barra->setObjectName(QStringLiteral("StatusBar1"));
    barra->setSizeGripEnabled(false);
    auto* primeiro = new QLabel(barra);
    primeiro->setObjectName(QStringLiteral("StatusPanel0"));
    primeiro->setFixedWidth(200);
    primeiro->setFrameShape(QFrame::Panel);
    primeiro->setFrameShadow(QFrame::Sunken);
    auto* segundo = new QLabel(barra);
    segundo->setObjectName(QStringLiteral("StatusPanel1"));
    segundo->setFrameShape(QFrame::Panel);
    segundo->setFrameShadow(QFrame::Sunken);
    barra->addWidget(primeiro);
    barra->addWidget(segundo, 1);
}

void TFormPrincipal::CriaBandeja() {
    bandeja_ = new QSystemTrayIcon(IconePrograma(), this);
    bandeja_->setObjectName(QStringLiteral("TrayIcon1"));
    // Notification areas that speak D-Bus deliver a single activation and never a double
    // click: either one brings the window back, or a hidden window could never return.
    connect(bandeja_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason motivo) {
                if (motivo == QSystemTrayIcon::DoubleClick || motivo == QSystemTrayIcon::Trigger) {
                    common::GuardEntryPoint([this] { Restaura(); });
                }
            });
    // And a menu for desktops where an activation does not reach us at all: the window and
    // the end of the program (with its question) are always within reach.
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("PopupBandeja"));
    auto item = [&](const char* nome, const char* texto, auto acao) {
        QAction* a = menu->addAction(T(texto));
        a->setObjectName(QString::fromLatin1(nome));
        connect(a, &QAction::triggered, this, [acao] { common::GuardEntryPoint(acao); });
    };
    item("Restaurar1", "Restaurar", [this] { Restaura(); });
    item("Sair2", "Sair", [this] { close(); });
    bandeja_->setContextMenu(menu);
    // Shown where there is a notification area; Esconde shows it later if one turns up.
    if (QSystemTrayIcon::isSystemTrayAvailable()) bandeja_->show();
}

}  // namespace lumora
