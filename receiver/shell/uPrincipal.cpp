// The main window's behaviour: start-up, the time fields, hide and restore, the operator's
// buttons, and the close sequence.
#include "receiver/shell/uPrincipal.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <cstdlib>

#include "common/Convert.h"
#include "common/DateTime.h"
#include "common/LocalAddress.h"
#include "common/Unhandled.h"
#include "common/qt/DataSource.h"
#include "common/qt/DbGrid.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/Text1252Qt.h"
#include "receiver/shell/AvisoServico.h"
#include "receiver/shell/IconePrograma.h"
#include "receiver/shell/InstanciaUnica.h"
#include "receiver/shell/uLog.h"

namespace lumora {
namespace {

using common::qt::Dialogs;
using common::qt::FromQString;
using common::qt::ToQString;

// The window's client area as designed: every control that matters lies within the width
// that start-up leaves the window (383 pixels with its border).
constexpr int kLarguraCliente = 375;
constexpr int kAlturaCliente = 413;

// Only tests and scripted runs set this: it replaces the design value of the port field, so
// that a test can listen on a free port instead of 2050.
constexpr const char* kVariavelPorta = "LUMORA_PORTA_TCP";

}  // namespace

bool SemOperador() {
    const QString plataforma = QGuiApplication::platformName();
    return plataforma == QLatin1String("offscreen") || plataforma == QLatin1String("minimal");
}

void TFormPrincipal::LogAdiado::Recebidos(const std::string& linha) {
    if (log) log->Recebidos(linha);
}

void TFormPrincipal::LogAdiado::Enviados(const std::string& linha) {
    if (log) log->Enviados(linha);
}

void TFormPrincipal::LogAdiado::Destaca(const std::string& linha) {
    if (!SemOperador()) return;
    for (const std::string& l : jornal.Linha(linha, common::Now()))
        common::WriteStderrLine("Lumora: " + l);
}

void TFormPrincipal::LogAdiado::FechaJornal() {
    if (const std::string resto = jornal.Resto(); !resto.empty())
        common::WriteStderrLine("Lumora: " + resto);
}

TFormPrincipal::TFormPrincipal(std::filesystem::path pastaPrograma, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      pasta_(std::move(pastaPrograma)) {
    setObjectName(QStringLiteral("FormPrincipal"));
    setWindowTitle(QStringLiteral("Lumora v1.2.3"));
    setWindowIcon(IconePrograma());
    // A compact face: the four tabs and the settings' three regions share a narrow window.
    // A condensed cut of the desktop's face is taken where one is installed.
    QFont fonte = font();
    fonte.setPointSize(8);
    fonte.setStretch(QFont::Condensed);
    setFont(fonte);

    dsComandas_ = std::make_unique<common::qt::DataSource>(tabelas_.cdsComandas);
    dsHistorico_ = std::make_unique<common::qt::DataSource>(tabelas_.cdsHistorico);
    dsEquipamentos_ = std::make_unique<common::qt::DataSource>(tabelas_.cdsEquipamentos);
    arquivos_ = std::make_unique<TArquivosReceptor>(tabelas_, pasta_);
    // A failed background sync of the history is made good at once, on this thread, not at
    // the next turnstile result.
    arquivos_->AoFalharSincronia([this] {
        monitor_.Salvamento("the history file's sync failed");
        QMetaObject::invokeMethod(
            this,
            [this] {
                arquivos_->RefazHistorico();
                monitor_.Salvamento({});
            },
            Qt::QueuedConnection);
    });
    arquivosMonitorados_ = std::make_unique<TArquivosMonitorados>(
        *arquivos_, monitor_, [this] { return arquivos_->LeiturasComandas(); });
    motor_ = std::make_unique<TMotorSaida>(tabelas_, *this, *arquivosMonitorados_);
    motor_->DefineMonitor(&monitor_);
    servidor_ = std::make_unique<TServidorTerminais>(*motor_, log_, *this, *this);
    servidor_->DefineMonitor(&monitor_);
    servidorMonitor_ = std::make_unique<TServidorMonitor>(monitor_);
    servidor_->OnLegenda = [this](const std::string& legenda) {
        btIniciar_->setText(ToQString(legenda));
    };

    CriaMenu();
    CriaMenuRelatorios();
    paginas_ = new QTabWidget(this);
    paginas_->setObjectName(QStringLiteral("PageControl1"));
    abaComandas_ = CriaAbaComandas();
    abaHistorico_ = CriaAbaHistorico();
    abaConfiguracoes_ = CriaAbaConfiguracoes();
    abaEquipamentos_ = CriaAbaEquipamentos();
    paginas_->addTab(abaComandas_, QStringLiteral("Lista de Comandas"));
    paginas_->addTab(abaHistorico_, QStringLiteral("Historico de Acessos"));
    paginas_->addTab(abaConfiguracoes_, ToQString("Configura\xE7\xF5"
                                                  "es"));
    paginas_->addTab(abaEquipamentos_, QStringLiteral("Equipamentos"));
    paginas_->tabBar()->setExpanding(false);
    paginas_->setUsesScrollButtons(false);
    setCentralWidget(paginas_);
    AjustaAbas();
    CriaBarraStatus();
    CriaJanelaTerminais();
    for (QLineEdit* e :
         {edMsg1Lib_, edMsg2Lib_, edMsg1Blo_, edMsg2Blo_, edMsg1Aguardo_, edMsg2Aguardo_}) {
        connect(e, &QLineEdit::textChanged, this, [this] { ajustesLidos_.reset(); });
    }
    for (QRadioButton* r : {rbListaBranca_, rbListaNegra_}) {
        connect(r, &QRadioButton::toggled, this, [this] { ajustesLidos_.reset(); });
    }
    // The folder in use, for whoever points the venue's card-list program at it.
    if (auto* painel = statusBar()->findChild<QLabel*>(QStringLiteral("StatusPanel1"))) {
        const QString caminho = QFile::decodeName(pasta_.c_str());
        painel->setMinimumWidth(1);
        const int largura = kLarguraCliente - 200 - 8;  // what the first panel leaves
        painel->setText(painel->fontMetrics().elidedText(caminho, Qt::ElideMiddle, largura));
        painel->setToolTip(caminho);
    }

    tmrAutoCom_ = new QTimer(this);
    tmrAutoCom_->setObjectName(QStringLiteral("tmrAutoCom"));
    tmrAutoCom_->setSingleShot(true);
    tmrAutoCom_->setInterval(2000);
    connect(tmrAutoCom_, &QTimer::timeout, this, [this] {
        common::GuardEntryPoint([this] {
            tmrAutoCom_->stop();
            // Only ever a start: the operator may have started communication in these two
            // seconds, and the tick must not stop it again.
            if (!servidor_->Escutando()) btIniciarClick();
        });
    });
    tmrAutoMinimize_ = new QTimer(this);
    tmrAutoMinimize_->setObjectName(QStringLiteral("tmrAutoMinimize"));
    tmrAutoMinimize_->setSingleShot(true);
    tmrAutoMinimize_->setInterval(200);
    connect(tmrAutoMinimize_, &QTimer::timeout, this, [this] {
        common::GuardEntryPoint([this] {
            tmrAutoMinimize_->stop();
            Esconde();
        });
    });

    // Which window had the keyboard before this one is known only here: the activation of
    // this window is handled before the application announces the change.
    connect(qApp, &QGuiApplication::focusWindowChanged, this,
            [this](QWindow* janela) { janelaAnterior_ = janela; });

    if (const char* porta = std::getenv(kVariavelPorta); porta && *porta) {
        edPortaTCP_->setText(ToQString(porta));
    }
    setFixedSize(kLarguraCliente, menuBar()->sizeHint().height() + kAlturaCliente);
    if (const QScreen* tela = QGuiApplication::primaryScreen()) {
        QRect area(QPoint(0, 0), size());
        area.moveCenter(tela->availableGeometry().center());
        move(area.topLeft());
    }
    Inicia();
    AtualizaTerminais();
    if (tabelasIniciadas_) {
        tmrTerminais_->start();
        // Once the command line has had its say.
        QTimer::singleShot(0, this,
                           [this] { common::GuardEntryPoint([this] { IniciaMonitor(); }); });
    }
}

TFormPrincipal::~TFormPrincipal() {
    // The equipment table goes with the window, and writes Equip.xml when it was changed.
    if (tabelasIniciadas_) {
        try {
            arquivos_->FechaEquipamentos();
        } catch (const std::exception& e) {
            common::WriteStderrLine("Erro: " + common::UnhandledFailureText(e.what()));
        }
    }
    // The grids go before the tables and bindings they show.
    delete takeCentralWidget();
}

void TFormPrincipal::AjustaAbas() {
    // The four tabs must show side by side within the narrow window whatever the desktop's
    // font: their captions get a smaller face until they fit.
    QTabBar* barra = paginas_->tabBar();
    QFont fonte = barra->font();
    while (barra->sizeHint().width() > kLarguraCliente - 4 && fonte.pointSizeF() > 6.0) {
        fonte.setPointSizeF(fonte.pointSizeF() - 0.5);
        barra->setFont(fonte);
    }
}

void TFormPrincipal::Inicia() {
    // 1. One receiver at a time.
    // Per session, and per program folder whatever the session: two receivers on one folder
    // would remove each other's saves and rows.
    mutex_ = std::make_unique<TMutexGlobal>();
    if (!mutex_->JaExistia()) travaPasta_ = std::make_unique<TTravaPasta>(pasta_);
    if (mutex_->JaExistia() || travaPasta_->Ocupada()) {
        QApplication::beep();
        Dialogs().Plain(textosPrincipal::kSegundaInstancia);
        encerrar_ = true;
        recusa_ = "another receiver is running";
        return;
    }
    // 2. The date separator "/" and the short date format "dd/mm/yy" are those of the common
    // date-time helpers, for the whole process; there is nothing to set here.

    // 3 to 5. The tables from their files; a file that cannot be taken up has been moved aside
    // and the program ends without touching anything else.
    tmrAutoMinimize_->stop();
    std::string horaErrada;
    horaCorte_ = LeHoraCorte(ArquivoConfig(), &horaErrada);
    configMonitor_ = LeConfigMonitor(ArquivoConfig());
    if (!horaErrada.empty()) common::WriteStderrLine("Lumora: Config.ini: " + horaErrada);
    const bool iniciou = arquivos_->Inicia(NoiteDe(common::Now(), horaCorte_));
    if (const std::string& reparo = arquivos_->ReparoHistorico(); !reparo.empty()) {
        std::fprintf(stderr, "Lumora: history repaired: %s\n", reparo.c_str());
        std::fflush(stderr);
    }
    if (!iniciou) {
        encerrar_ = true;
        recusa_ =
            "Equip.xml, Comandas.xml or the day's history could not be taken up; a "
            "damaged one was moved aside (.damaged-...) and the next start goes on "
            "without it";
        return;
    }
    tabelasIniciadas_ = true;

    // 6. Config.ini, when there is one.
    if (LeConfigIni(ArquivoConfig(), Controles())) {
        flagAutoInit_ = ckAutoInit_->isChecked();
        flagMinimizeInit_ = ckMinimizeInit_->isChecked();
    }

    // 7. The computer's address, for the operator to give to the terminals.
    edIPLocal_->setText(ToQString(common::LocalIPv4Address(true)));

    // 8. The times in force.
    AplicaTempos();

    // 9. The start-up timers.
    if (flagMinimizeInit_) tmrAutoMinimize_->start();
    if (flagAutoInit_) {
        tmrAutoCom_->start();
    } else {
        tmrAutoCom_->stop();
        // Nothing more will happen on its own: the service manager may count the receiver as
        // started, and the operator starts communication from here.
        TAvisoServico::Pronto();
    }

    // 10. No taskbar button, where the notification area can bring the window back.
    if (QSystemTrayIcon::isSystemTrayAvailable()) setWindowFlag(Qt::Tool, true);
    CriaBandeja();
    // 11. The tables keep no change log at all, so there is nothing to switch off.
}

void TFormPrincipal::AplicaTempos() {
    // A stored time that is empty or not a whole number (a close while the field was empty
    // stores it so) gives way to the design value, in the field as in the time in force, so
    // that what the operator sees is what the terminals get.
    auto aplica = [](QLineEdit* campo, int32_t& tempo, int32_t projeto) {
        if (const auto valor = common::TryStrToInt(FromQString(campo->text()))) {
            tempo = *valor;
        } else {
            tempo = projeto;
            campo->setText(QString::number(projeto));
        }
    };
    aplica(edTempoRele_, tempoRele_, 3);
    aplica(edTempoGiro_, tempoGiro_, 5);
}

std::filesystem::path TFormPrincipal::ArquivoConfig() const { return pasta_ / "Config.ini"; }

ControlesConfig TFormPrincipal::Controles() const {
    ControlesConfig c;
    c.edMsg1Lib = edMsg1Lib_;
    c.edMsg2Lib = edMsg2Lib_;
    c.edMsg1Blo = edMsg1Blo_;
    c.edMsg2Blo = edMsg2Blo_;
    c.edMsg1Aguardo = edMsg1Aguardo_;
    c.edMsg2Aguardo = edMsg2Aguardo_;
    c.edTempoGiro = edTempoGiro_;
    c.edTempoRele = edTempoRele_;
    c.ckAutoInit = ckAutoInit_;
    c.ckMinimizeInit = ckMinimizeInit_;
    c.rbListaBranca = rbListaBranca_;
    c.rbListaNegra = rbListaNegra_;
    c.edEnderecoEscuta = edEnderecoEscuta_;
    return c;
}

void TFormPrincipal::DefineLog(TformLog* log) { log_.log = log; }

void TFormPrincipal::DefineEnderecoEscuta(const std::string& endereco) {
    edEnderecoEscuta_->setText(ToQString(endereco));
    edEnderecoEscuta_->setReadOnly(true);
}

AjustesSaida TFormPrincipal::AjustesAtuais() const {
    if (ajustesLidos_) {
        AjustesSaida a = *ajustesLidos_;
        a.tempoGiro = tempoGiro_;
        a.tempoRele = tempoRele_;
        return a;
    }
    AjustesSaida a;
    if (rbListaNegra_->isChecked()) {
        a.modo = ModoOperacao::ListaNegra;
    } else if (rbListaBranca_->isChecked()) {
        a.modo = ModoOperacao::ListaBranca;
    } else {
        a.modo = ModoOperacao::Nenhum;
    }
    a.tempoGiro = tempoGiro_;
    a.tempoRele = tempoRele_;
    a.msg1Lib = FromQString(edMsg1Lib_->text());
    a.msg2Lib = FromQString(edMsg2Lib_->text());
    a.msg1Blo = FromQString(edMsg1Blo_->text());
    a.msg2Blo = FromQString(edMsg2Blo_->text());
    a.msg1Aguardo = FromQString(edMsg1Aguardo_->text());
    a.msg2Aguardo = FromQString(edMsg2Aguardo_->text());
    ajustesLidos_ = a;
    return a;
}

void TFormPrincipal::Limpa() { ListBoxTerminais_->clear(); }

void TFormPrincipal::Adiciona(const std::string& ip) {
    ListBoxTerminais_->addItem(ToQString(ip));
    estadoTerminais_.Conectou(ip, common::Now());
}

void TFormPrincipal::RemovePrimeiro(const std::string& ip) {
    const QString texto = ToQString(ip);
    for (int i = 0; i < ListBoxTerminais_->count(); ++i) {
        if (ListBoxTerminais_->item(i)->text() == texto) {
            delete ListBoxTerminais_->takeItem(i);
            // A connection ends once, whichever of its ends says so first.
            estadoTerminais_.Desconectou(ip, common::Now());
            return;
        }
    }
}

void TFormPrincipal::Aviso(const std::string& texto) { Dialogs().Notice(texto); }

// ---- the operator's actions ----

void TFormPrincipal::btIniciarClick() {
    servidor_->btIniciarClick(FromQString(edPortaTCP_->text()),
                              FromQString(edEnderecoEscuta_->text()));
    estadoTerminais_.Comunicacao(servidor_->Escutando(), common::Now());
    // Terminals can connect now: a service started with automatic start is ready only here.
    if (servidor_->Escutando()) TAvisoServico::Pronto();
}

void TFormPrincipal::btnAtualizarClick() { arquivos_->RecarregaComandas(); }

void TFormPrincipal::btnLimparHistClick() {
    if (Dialogs().Question(textosPrincipal::kLimparHistorico)) tabelas_.cdsHistorico.Empty();
}

void TFormPrincipal::btVerificaIPClick() {
    const std::filesystem::path modrevo = pasta_ / "Modrevo";
    std::error_code erro;
    if (!std::filesystem::exists(modrevo, erro)) return;
    // Detached and without waiting: the two programs run side by side and share nothing.
    QProcess::startDetached(QFile::decodeName(modrevo.c_str()), {});
}

void TFormPrincipal::dbnEquipamentosClick(common::qt::RecordNavigator::Button botao) {
    if (botao != common::qt::RecordNavigator::Insert) return;
    // The operator types the terminal number first.
    dbgEquipamentos_->SelectColumn(0);
    dbgEquipamentos_->setFocus();
}

// ---- the time fields ----

bool TFormPrincipal::eventFilter(QObject* alvo, QEvent* evento) {
    if (evento->type() == QEvent::FocusOut && (alvo == edTempoGiro_ || alvo == edTempoRele_)) {
        const auto motivo = static_cast<QFocusEvent*>(evento)->reason();
        // Leaving the field, not the window: another window, a context menu or the menu bar
        // taking the keyboard for a moment is no leave.
        if (motivo != Qt::ActiveWindowFocusReason && motivo != Qt::PopupFocusReason &&
            motivo != Qt::MenuBarFocusReason) {
            SaidaAdiada(alvo);
        }
    }
    return QMainWindow::eventFilter(alvo, evento);
}

void TFormPrincipal::SaidaAdiada(QObject* campo) {
    // After the focus has settled, so that the field can take it back.
    QTimer::singleShot(0, this, [this, campo] {
        common::GuardEntryPoint([this, campo] {
            if (campo == edTempoGiro_) {
                edTempoGiroExit();
            } else {
                edTempoReleExit();
            }
        });
    });
}

void TFormPrincipal::edTempoGiroExit() {
    SaiDoCampoTempo(edTempoGiro_, tempoGiro_, textosPrincipal::kInformeGiro);
}

void TFormPrincipal::edTempoReleExit() {
    SaiDoCampoTempo(edTempoRele_, tempoRele_, textosPrincipal::kInformeRele);
}

void TFormPrincipal::SaiDoCampoTempo(QLineEdit* campo, int32_t& tempo,
                                     const std::string& mensagem) {
    const std::string texto = FromQString(campo->text());
    if (texto.empty()) {
        Dialogs().Plain(mensagem);
        // The field may have been left for another tab: it comes back into view, or the
        // keys would go into a field nobody sees.
        if (paginas_->currentWidget() != abaConfiguracoes_) {
            paginas_->setCurrentWidget(abaConfiguracoes_);
        }
        campo->setFocus(Qt::OtherFocusReason);
        return;
    }
    tempo = common::StrToInt(texto);  // the conversion error reaches the operator; no change
}

// ---- showing, hiding, activating ----

void TFormPrincipal::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    paginas_->setCurrentIndex(0);  // FormShow: always the card list first
}

void TFormPrincipal::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    const auto antes = static_cast<QWindowStateChangeEvent*>(event)->oldState();
    if (isMinimized()) {
        // The application minimised: hide to the notification area, where there is one.
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            QTimer::singleShot(0, this, [this] { common::GuardEntryPoint([this] { Esconde(); }); });
        }
    } else if (antes & Qt::WindowMinimized) {
        paginas_->setCurrentIndex(0);  // back from minimised is a show as well
    }
}

bool TFormPrincipal::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return QMainWindow::event(event);
}

void TFormPrincipal::FormActivate() {
    // The window becomes the program's active one: the first time, or back from the log
    // window. Coming back from another program or from a message box is no such change, and
    // leaves the keyboard where the operator had it.
    const bool primeira = !jaAtivada_;
    jaAtivada_ = true;
    const bool doLog = log_.log && janelaAnterior_ && janelaAnterior_ == log_.log->windowHandle();
    if (!primeira && !doLog) return;
    // The start button takes the keyboard when its tab is showing.
    if (paginas_->currentWidget() != abaConfiguracoes_) return;
    QWidget* antes = focusWidget();
    btIniciar_->setFocus();
    // The time field the keyboard was in is left now, though it sees no focus change of its
    // own (the window was not active): its exit runs as for any other leave.
    if (antes == edTempoGiro_ || antes == edTempoRele_) SaidaAdiada(antes);
}

void TFormPrincipal::Esconde() {
    // Without any screen (the headless service) nobody sees the window and nobody brings it
    // back: it is hidden, so that it is not painted for every message of a busy night.
    if (SemOperador()) {
        hide();
    } else if (QSystemTrayIcon::isSystemTrayAvailable()) {
        if (bandeja_ && !bandeja_->isVisible()) bandeja_->show();
        hide();
    } else {
        // No notification area (stock GNOME, or a panel not started yet): a hidden window could
        // never be brought back, so it is only minimised and keeps its taskbar button.
        if (windowFlags().testFlag(Qt::Tool)) setWindowFlag(Qt::Tool, false);
        showMinimized();
    }
}

void TFormPrincipal::Restaura() {
    showNormal();
    raise();
    activateWindow();
}

// ---- closing ----

void TFormPrincipal::closeEvent(QCloseEvent* event) {
    if (finalizado_) {
        event->accept();
        return;
    }
    bool sim = false;
    common::GuardEntryPoint([&] { sim = Dialogs().Question(textosPrincipal::kFinalizar); });
    // The system may have ended the program while the question was open.
    if (finalizado_) {
        event->accept();
        return;
    }
    if (!sim) {
        event->ignore();
        return;
    }
    Finaliza([](const std::string& texto) { Dialogs().Failure(texto); });
    event->accept();
    if (bandeja_) bandeja_->hide();
    emit finalizado();
}

void TFormPrincipal::PedidoDoSistema() {
    common::qt::SetNobodyAnswers(true);
    common::qt::CloseOpenBoxes();
    // The box's loop still runs below this call: the close waits until the handling that
    // opened the box has gone on (a turnstile result behind it gets its row) and returned.
    if (common::BoxOpen()) {
        QTimer::singleShot(10, this, [this] { PedidoDoSistema(); });
        return;
    }
    EncerraSemPergunta();
}

void TFormPrincipal::EncerraSemPergunta() {
    // Already closing (the operator said Yes): that close ends the program.
    if (finalizado_) return;
    Finaliza([](const std::string& texto) { common::WriteStderrLine("Erro: " + texto); });
    if (bandeja_) bandeja_->hide();
    emit finalizado();
}

void TFormPrincipal::Finaliza(void (*aviso)(const std::string&)) {
    finalizado_ = true;
    TAvisoServico::Parando();
    tmrAutoCom_->stop();
    tmrAutoMinimize_->stop();
    // Each step is tried even when the one before failed: a card list that cannot be written
    // must not cost the day's history or the settings. The files on disk are replaced whole
    // or not at all, so a failed save leaves the previous file as it was.
    auto passo = [aviso](auto&& acao) {
        try {
            acao();
        } catch (const std::exception& e) {
            aviso(common::UnhandledFailureText(e.what()));
        }
    };
    passo([this] {
        if (btIniciar_->text() == ToQString(textos::kParar)) btIniciarClick();
    });
    if (tabelasIniciadas_) passo([this] { arquivos_->Fecha(); });
    passo([this] { GravaConfigIni(ArquivoConfig(), Controles()); });
    log_.FechaJornal();
}

}  // namespace lumora
