// Modrevo's main window: toolbar, the two module lists, the status bar and the refresh timer.
#include "manager/shell/uPrincipal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <thread>

#include "common/Text1252.h"
#include "common/Unhandled.h"
#include "common/qt/DataSource.h"
#include "common/qt/DbGrid.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/Text1252Qt.h"
#include "manager/modules/Listas.h"
#include "manager/modules/Preferencias.h"
#include "manager/shell/uAgenda.h"
#include "manager/shell/uConfigura.h"
#include "manager/shell/uTempo.h"

namespace modrevo {
namespace {

using common::qt::DbGrid;
using common::qt::GridColumn;

QString T(const std::string& bytes) { return common::qt::ToQString(bytes); }

const std::string kTitulo =
    "Modrevo 1.5 - Gerenciamento de IP dos M\xF3"
    "dulos Ethernet";

QToolButton* BotaoBarra(QToolBar* barra, const char* nome, const std::string& texto,
                        QStyle::StandardPixmap imagem) {
    auto* b = new QToolButton(barra);
    b->setObjectName(QString::fromLatin1(nome));
    b->setText(T(texto));
    b->setIcon(barra->style()->standardIcon(imagem));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFixedSize(72, 52);
    b->setAutoRaise(true);
    // Toolbar buttons never take the focus: "Configurar" acts on the list used last.
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

DbGrid* Grade(QWidget* pai, const char* nome) {
    auto* g = new DbGrid(pai);
    g->setObjectName(QString::fromLatin1(nome));
    g->setFixedSize(777, 113);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setFrameShape(QFrame::Panel);
    g->setFrameShadow(QFrame::Plain);
    g->SetIndicator(true);
    // The columns are stretched to fill the grid exactly.
    g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return g;
}

// Widths in the given proportions, stretched to fill the grid's visible width.
void Estica(DbGrid* grade, const std::vector<int>& pesos) {
    int soma = 0;
    for (int p : pesos) soma += p;
    const int largura = grade->viewport()->width();
    int usado = 0;
    for (std::size_t i = 0; i < pesos.size(); ++i) {
        const int w = i + 1 == pesos.size() ? largura - usado : largura * pesos[i] / soma;
        grade->setColumnWidth(static_cast<int>(i), w);
        usado += w;
    }
}

// Paints the rows of the first list whose address another module (another MAC) answers from:
// two modules on one address answer every command sent there, each in its turn.
class TMarcaDuplicados : public QStyledItemDelegate {
  public:
    TMarcaDuplicados(const TAtualizacao& atualizacao, QObject* pai)
        : QStyledItemDelegate(pai), atualizacao_(atualizacao) {}

  protected:
    void initStyleOption(QStyleOptionViewItem* opcao, const QModelIndex& indice) const override {
        QStyledItemDelegate::initStyleOption(opcao, indice);
        if (!atualizacao_.IpRepetido(indice.row())) return;
        opcao->backgroundBrush = QColor(255, 205, 205);
        opcao->palette.setColor(QPalette::Text, QColor(150, 0, 0));
        opcao->font.setBold(true);
    }

  private:
    const TAtualizacao& atualizacao_;
};

}  // namespace

TFormPrincipal::TFormPrincipal(const std::string& ipComputador, QWidget* parent)
    : QMainWindow(parent), ipComputador_(ipComputador), tempoResposta_(kTempoPadrao) {
    setObjectName(QStringLiteral("FormPrincipal"));
    atualizacao_ = std::make_unique<TAtualizacao>(*this, udpClient_, udpClientAux_, udpSafe_);
    CriaControles();
    // FormCreate: the computer's address, then the second-family list opens.
    if (!ipComputador_.empty()) {
        painelEndereco_->setText(T(" Endere\xE7o IP deste Computador: " + ipComputador_));
    } else {
        ipComputador_ = "0.0.0.0";
    }
    atualizacao_->FormCreate();
    // Made once and shown again for every configuration, so its fields keep their last values.
    formConfigura_ = new TFormConfigura(ipComputador_, this);
    configuracao_ = std::make_unique<TConfiguracao>(*this, *atualizacao_, *formConfigura_,
                                                    abridorAtual_, ipComputador_);
    // Every key of this window passes here before the focused control sees it.
    qApp->installEventFilter(this);
    Timer1_->start();
}

void TAbridorDesktop::AbreEAguarda(const std::string& documento) {
    // The desktop gives no process to wait for: the browser runs on its own.
    QDesktopServices::openUrl(QUrl(common::qt::ToQString(documento)));
}

TFormPrincipal::~TFormPrincipal() {
    qApp->removeEventFilter(this);
    // The grids go with the window; the bindings must not outlive the tables they follow.
    delete DBGridEh1_;
    delete DBGridEh2_;
}

void TFormPrincipal::CriaControles() {
    setWindowTitle(T(kTitulo));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto* barra = new QToolBar(this);
    barra->setObjectName(QStringLiteral("ToolBar1"));
    barra->setMovable(false);
    barra->setFloatable(false);
    barra->setFixedHeight(60);
    barra->setIconSize(QSize(32, 32));
    addToolBar(Qt::TopToolBarArea, barra);
    barra->addSeparator();
    ToolButton2_ = BotaoBarra(barra, "ToolButton2", "Atualizar", QStyle::SP_BrowserReload);
    barra->addWidget(ToolButton2_);
    barra->addSeparator();
    ToolButtonConfigurar_ =
        BotaoBarra(barra, "ToolButtonConfigurar", "Configurar", QStyle::SP_FileDialogDetailedView);
    barra->addWidget(ToolButtonConfigurar_);
    barra->addSeparator();
    ToolButtonAgenda_ = BotaoBarra(barra, "ToolButtonAgenda", "Endere\xE7os", QStyle::SP_DirIcon);
    ToolButtonAgenda_->setToolTip(
        T("Agenda de endere\xE7os: m\xF3"
          "dulos atr\xE1s de roteadores"));
    barra->addWidget(ToolButtonAgenda_);
    barra->addSeparator();
    ToolButton5_ = BotaoBarra(barra, "ToolButton5", "Sair", QStyle::SP_DialogCloseButton);
    barra->addWidget(ToolButton5_);
    barra->addSeparator();
    btnUDPSafe_ = BotaoBarra(barra, "btnUDPSafe", "UDP Brivant", QStyle::SP_DriveNetIcon);
    barra->addWidget(btnUDPSafe_)->setVisible(false);
    // The diagnostic logs: kept, never shown.
    Memo2_ = new QPlainTextEdit(barra);
    Memo2_->setObjectName(QStringLiteral("Memo2"));
    Memo1_ = new QPlainTextEdit(barra);
    Memo1_->setObjectName(QStringLiteral("Memo1"));
    for (QPlainTextEdit* memo : {Memo2_, Memo1_}) {
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->hide();
    }

    auto* painel = new QFrame(this);
    painel->setObjectName(QStringLiteral("Panel1"));
    painel->setFrameShape(QFrame::StyledPanel);
    auto* coluna = new QVBoxLayout(painel);
    coluna->setContentsMargins(7, 4, 7, 4);
    coluna->setSpacing(2);
    auto* lbTibbo = new QLabel(QStringLiteral("Tibbo"), painel);
    lbTibbo->setObjectName(QStringLiteral("Label1"));
    DBGridEh1_ = Grade(painel, "DBGridEh1");
    auto* lbBrivant = new QLabel(QStringLiteral("Brivant"), painel);
    lbBrivant->setObjectName(QStringLiteral("Label2"));
    DBGridEh2_ = Grade(painel, "DBGridEh2");
    coluna->addWidget(lbTibbo);
    coluna->addWidget(DBGridEh1_);
    coluna->addSpacing(6);
    coluna->addWidget(lbBrivant);
    coluna->addWidget(DBGridEh2_);
    coluna->addStretch(1);
    setCentralWidget(painel);

    auto& coletores = atualizacao_->tbmColetores;
    auto& modulos = atualizacao_->tbmModulos;
    dsColetores_ = std::make_unique<common::qt::DataSource>(coletores);
    dsColetores_->setObjectName(QStringLiteral("dsColetores"));
    dsModulos_ = std::make_unique<common::qt::DataSource>(modulos);
    dsModulos_->setObjectName(QStringLiteral("dsModulos"));
    auto coluna1 = [&](int campo, int largura) {
        return GridColumn(campo, coletores.Fields()[campo].DisplayLabel(), largura);
    };
    DBGridEh1_->Bind(
        *dsColetores_,
        {coluna1(cDHCP, 70), coluna1(cIp, 90), coluna1(cNetmask, 90), coluna1(cGateway, 90),
         coluna1(cDescricao, 133), coluna1(cMACaddress, 120), coluna1(cIpDestino, 116)},
        true);
    auto coluna2 = [&](int campo, int largura) {
        return GridColumn(campo, modulos.Fields()[campo].DisplayLabel(), largura);
    };
    DBGridEh1_->setItemDelegate(new TMarcaDuplicados(*atualizacao_, DBGridEh1_));
    DBGridEh2_->Bind(*dsModulos_,
                     {coluna2(mIp, 90), coluna2(mEquipamento, 133), coluna2(mMac, 133)}, true);

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(false);
    painelContagem_ = new QLabel(status);
    painelContagem_->setObjectName(QStringLiteral("StatusPanel0"));
    painelContagem_->setFixedWidth(200);
    painelDuplicados_ = new QLabel(status);
    painelDuplicados_->setObjectName(QStringLiteral("StatusPanelDuplicados"));
    painelDuplicados_->setStyleSheet(QStringLiteral("color: #960000; font-weight: bold"));
    painelDuplicados_->hide();
    painelEndereco_ = new QLabel(status);
    painelEndereco_->setObjectName(QStringLiteral("StatusPanel1"));
    status->addWidget(painelContagem_);
    status->addWidget(painelDuplicados_);
    status->addWidget(painelEndereco_, 1);
    setStatusBar(status);

    Timer1_ = new QTimer(this);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(30000);

    connect(ToolButton2_, &QToolButton::clicked, this,
            [this] { Operacao([this] { atualizacao_->ToolButton2Click(); }); });
    connect(ToolButton5_, &QToolButton::clicked, this, [this] { close(); });
    connect(ToolButtonAgenda_, &QToolButton::clicked, this,
            [this] { Operacao([this] { ToolButtonAgendaClick(); }); });
    connect(ToolButtonConfigurar_, &QToolButton::clicked, this,
            [this] { Operacao([this] { ToolButtonConfigurarClick(); }); });
    connect(DBGridEh1_, &QAbstractItemView::doubleClicked, this,
            [this] { Operacao([this] { DBGridEh1DblClick(); }); });
    connect(DBGridEh2_, &QAbstractItemView::doubleClicked, this,
            [this] { Operacao([this] { DBGridEh2DblClick(); }); });
    connect(btnUDPSafe_, &QToolButton::clicked, this,
            [this] { Operacao([this] { atualizacao_->btnUDPSafeClick(); }); });
    connect(Timer1_, &QTimer::timeout, this,
            [this] { Operacao([this] { atualizacao_->Timer1Timer(); }); });

    setFixedSize(793, 373);
    if (QScreen* tela = QGuiApplication::primaryScreen()) {
        move(tela->availableGeometry().center() - rect().center());
    }
}

void TFormPrincipal::AjustaColunas() {
    Estica(DBGridEh1_, {70, 90, 90, 90, 133, 120, 116});
    Estica(DBGridEh2_, {90, 133, 133});
}

template <class F>
void TFormPrincipal::Operacao(F&& f) {
    ++operacoes_;
    common::GuardEntryPoint(std::forward<F>(f));
    --operacoes_;
    if (fechamentoPendente_ && operacoes_ == 0) Encerra();
}

bool TFormPrincipal::Ocupada() const { return operacoes_ > 0; }

void TFormPrincipal::FormActivate() {
    Operacao([this] {
        ProcessaMensagens();
        atualizacao_->AtualizaListas(true);
    });
}

void TFormPrincipal::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !ativada_) {
        ativada_ = true;
        QTimer::singleShot(0, this, [this] { FormActivate(); });
    }
}

void TFormPrincipal::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Once the grids have their final size, row indicator included.
    QTimer::singleShot(0, this, [this] { AjustaColunas(); });
    // Some desktops never activate a window that another program started (focus-stealing
    // prevention), and there is no activation at all without a display: the first refresh
    // then follows the first show.
    if (!ativada_) {
        QTimer::singleShot(500, this, [this] {
            if (ativada_) return;
            ativada_ = true;
            FormActivate();
        });
    }
}

void TFormPrincipal::closeEvent(QCloseEvent* event) {
    if (!encerrando_ && Ocupada()) {
        // A refresh or a configuration is sending: finish it (a configuration always ends with
        // its "E"), then end.
        fechamentoPendente_ = true;
        // No refresh may begin between now and the end of the running operation.
        Timer1_->stop();
        event->ignore();
        hide();
        return;
    }
    event->accept();
    if (!encerrando_) {
        encerrando_ = true;
        Timer1_->stop();
        emit finalizado();
    }
}

void TFormPrincipal::Encerra() {
    if (encerrando_) return;
    // A configuration not yet confirmed sends nothing: cancel its dialog.
    if (formConfigura_->isVisible()) formConfigura_->reject();
    if (frmTempo_ && frmTempo_->isVisible()) frmTempo_->close();
    if (formAgenda_ && formAgenda_->isVisible()) formAgenda_->reject();
    // Nobody may be there to answer a notice an operation is waiting on: it is taken as read,
    // and the operation goes on to its end (a configuration still sends its "E"); what it
    // reports on its way out is a line on stderr, not a box that would hold the end.
    common::qt::SetNobodyAnswers(true);
    common::qt::CloseOpenBoxes();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* caixa = qobject_cast<QMessageBox*>(w);
        if (!caixa || !caixa->isVisible()) continue;
        if (QAbstractButton* ok = caixa->button(QMessageBox::Ok))
            ok->click();
        else
            caixa->accept();
    }
    if (Ocupada()) {
        fechamentoPendente_ = true;
        Timer1_->stop();
        hide();
        return;
    }
    encerrando_ = true;
    Timer1_->stop();
    hide();
    emit finalizado();
}

void TFormPrincipal::ToolButtonConfigurarClick() {
    if (DBGridEh1_->hasFocus()) {
        ParaTimer1();
        configuracao_->ConfiguraColetor();
    } else {
        configuracao_->AbrePaginaModulo();
    }
}

void TFormPrincipal::DBGridEh1DblClick() {
    ParaTimer1();
    configuracao_->ConfiguraColetor();
}

void TFormPrincipal::DBGridEh2DblClick() { configuracao_->AbrePaginaModulo(); }

void TFormPrincipal::ToolButtonAgendaClick() {
    if (!formAgenda_) formAgenda_ = new TFormAgenda(CaminhoPreferencias(), this);
    if (formAgenda_->isVisible()) return;
    if (formAgenda_->Mostra() && !fechamentoPendente_ && !encerrando_)
        atualizacao_->ToolButton2Click();
}

bool TFormPrincipal::LinhaMarcada(int linha) const { return atualizacao_->IpRepetido(linha); }

void TFormPrincipal::FormKeyDown(QKeyEvent* event, bool& tratada) {
    const auto exatos = Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier;
    const auto modificadores = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() != Qt::Key_T || modificadores != exatos) return;
    tratada = true;
    // Out of the key event first: the window runs its own loop.
    QTimer::singleShot(0, this, [this] {
        common::GuardEntryPoint([this] {
            if (!frmTempo_) frmTempo_ = new TfrmTempo(CaminhoPreferencias(), this);
            if (!frmTempo_->isVisible()) frmTempo_->Mostra();
        });
    });
}

bool TFormPrincipal::eventFilter(QObject* alvo, QEvent* event) {
    if (event->type() == QEvent::KeyPress && alvo->isWidgetType() &&
        static_cast<QWidget*>(alvo)->window() == this) {
        bool tratada = false;
        FormKeyDown(static_cast<QKeyEvent*>(event), tratada);
        if (tratada) return true;
    }
    return QMainWindow::eventFilter(alvo, event);
}

void TFormPrincipal::ProcessaMensagens() { QCoreApplication::processEvents(); }

void TFormPrincipal::Ampulheta(bool ligada) {
    if (ligada) {
        if (!QApplication::overrideCursor()) QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    }
}

void TFormPrincipal::LimpaMemos() {
    Memo1_->clear();
    Memo2_->clear();
}

void TFormPrincipal::AdicionaMemo1(const std::string& linha) { Memo1_->appendPlainText(T(linha)); }

void TFormPrincipal::AdicionaMemo2(const std::string& linha) { Memo2_->appendPlainText(T(linha)); }

void TFormPrincipal::Aviso(const std::string& texto) {
    // Once the end has been asked for, the window is hidden: a box would wait for nobody.
    if (fechamentoPendente_) {
        std::fprintf(stderr, "Modrevo: %s\n", texto.c_str());
        AdicionaMemo1(texto);
        return;
    }
    common::qt::Dialogs().Notice(texto);
}

void TFormPrincipal::MostraContagem(const std::string& texto) {
    painelContagem_->setText(T(texto));
}

std::string TFormPrincipal::CarregaTempoResposta() {
    tempoResposta_ = modrevo::CarregaTempoResposta(CaminhoPreferencias(), tempoResposta_);
    return tempoResposta_;
}

void TFormPrincipal::ParaTimer1() { Timer1_->stop(); }

std::vector<EntradaAgenda> TFormPrincipal::CarregaAgenda() {
    return modrevo::CarregaAgenda(CaminhoPreferencias());
}

void TFormPrincipal::MostraDuplicados(int modulos) {
    const std::string texto = TextoDuplicados(modulos);
    painelDuplicados_->setText(T(texto));
    painelDuplicados_->setVisible(!texto.empty());
    DBGridEh1_->viewport()->update();
}

void TFormPrincipal::Diagnostico(const std::string& linha) {
    // Memo1 is never shown: whoever looks after the PC finds it in the journal.
    std::fprintf(stderr, "Modrevo: %s\n", common::Cp1252ToUtf8(linha).c_str());
}

void TFormPrincipal::Pausa(int milissegundos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milissegundos));
}

void TFormPrincipal::MensagemSimples(const std::string& texto) {
    if (fechamentoPendente_) {
        std::fprintf(stderr, "Modrevo: %s\n", texto.c_str());
        return;
    }
    common::qt::Dialogs().Plain(texto);
}

void TFormPrincipal::IniciaTimer1() {
    // A close waiting for the operation to end wants no further refresh.
    if (fechamentoPendente_ || encerrando_) return;
    Timer1_->start();
}

}  // namespace modrevo
