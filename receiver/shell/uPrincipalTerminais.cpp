// The main window's view of the gates: the terminals' status window and panel, the reports of a
// terminal away and back, the tray icon's count, and the menu of the past nights.
#include <QBrush>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>

#include "common/Unhandled.h"
#include "common/qt/Text1252Qt.h"
#include "receiver/shell/uHistoricos.h"
#include "receiver/shell/uPrincipal.h"

namespace lumora {
namespace {

using common::qt::ToQString;

// A click on a status panel.
class CliquePainel : public QObject {
  public:
    CliquePainel(QObject* pai, std::function<void()> acao) : QObject(pai), acao_(std::move(acao)) {}
    bool eventFilter(QObject* alvo, QEvent* evento) override {
        if (evento->type() == QEvent::MouseButtonRelease) {
            common::GuardEntryPoint(acao_);
            return true;
        }
        return QObject::eventFilter(alvo, evento);
    }

  private:
    std::function<void()> acao_;
};

}  // namespace

std::string Momento(common::DateTime quando, common::DateTime agora) {
    if (quando.IsZero()) return "-";
    return quando.Format(quando.DayNumber() == agora.DayNumber() ? "hh:nn:ss" : "dd/mm hh:nn");
}

void TFormPrincipal::CriaJanelaTerminais() {
    // A window of its own: the four tabs already fill the narrow main window, whose first
    // status panel says how many gates are online and opens this one when clicked.
    auto* aba = new QWidget(this, Qt::Window | Qt::Tool);
    janelaTerminais_ = aba;
    aba->setObjectName(QStringLiteral("formTerminais"));
    aba->setWindowTitle(QStringLiteral("Status dos Terminais"));
    aba->resize(520, 260);
    auto* col = new QVBoxLayout(aba);
    col->setContentsMargins(4, 4, 4, 4);
    col->setSpacing(3);
    lbTerminais_ = new QLabel(aba);
    lbTerminais_->setObjectName(QStringLiteral("lbTerminais"));
    col->addWidget(lbTerminais_);
    grdTerminais_ = new QTableWidget(0, 7, aba);
    grdTerminais_->setObjectName(QStringLiteral("grdTerminais"));
    grdTerminais_->setHorizontalHeaderLabels({QStringLiteral("Equip."), QStringLiteral("IP"),
                                              QStringLiteral("Estado"), QStringLiteral("Desde"),
                                              ToQString("\xDAltima msg."), QStringLiteral("Lib."),
                                              QStringLiteral("Blo.")});
    grdTerminais_->verticalHeader()->hide();
    grdTerminais_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTerminais_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Widths fitted when the window opens and when gates come or go, not at every second's
    // refresh: measuring every cell of a venue's gates each second costs more than serving them.
    grdTerminais_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grdTerminais_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    col->addWidget(grdTerminais_, 1);

    tmrTerminais_ = new QTimer(this);
    tmrTerminais_->setObjectName(QStringLiteral("tmrTerminais"));
    tmrTerminais_->setInterval(1000);
    connect(tmrTerminais_, &QTimer::timeout, this,
            [this] { common::GuardEntryPoint([this] { AtualizaTerminais(); }); });
    // The same tick checks the history file in the gates' quiet spells, so that the first
    // turnstile result after one does not wait for the check.
    connect(tmrTerminais_, &QTimer::timeout, this, [this] {
        common::GuardEntryPoint([this] {
            if (!tabelasIniciadas_) return;
            VerificaNoite();
            arquivos_->ConfirmaHistoricoEmRepouso();
        });
    });
    servidor_->OnMensagem = [this](const std::string& ip) {
        estadoTerminais_.Mensagem(ip, common::Now());
    };
    if (auto* painel = statusBar()->findChild<QLabel*>(QStringLiteral("StatusPanel0"))) {
        painel->installEventFilter(new CliquePainel(painel, [this] { MostraTerminais(); }));
        painel->setToolTip(QStringLiteral("Status dos Terminais"));
    }
}

void TFormPrincipal::MostraTerminais() {
    janelaTerminais_->show();
    AtualizaTerminais();
    grdTerminais_->resizeColumnsToContents();
    janelaTerminais_->raise();
    janelaTerminais_->activateWindow();
}

void TFormPrincipal::CriaMenuRelatorios() {
    QMenu* menu = menuBar()->addMenu(ToQString("&Relat\xF3rios"));
    menu->setObjectName(QStringLiteral("Relatorios1"));
    QAction* status = menu->addAction(QStringLiteral("Status dos Terminais"));
    status->setObjectName(QStringLiteral("StatusTerminais1"));
    connect(status, &QAction::triggered, this,
            [this] { common::GuardEntryPoint([this] { MostraTerminais(); }); });
    QAction* historicos = menu->addAction(ToQString("Hist\xF3ricos Anteriores..."));
    historicos->setObjectName(QStringLiteral("HistoricosAnteriores1"));
    connect(historicos, &QAction::triggered, this,
            [this] { common::GuardEntryPoint([this] { AbreHistoricos(); }); });
}

TformHistoricos* TFormPrincipal::AbreHistoricos() {
    // A window of its own, which stays while this one hides to the notification area; closed,
    // it lets the day it held go.
    if (!historicos_) {
        historicos_ = new TformHistoricos(pasta_, this);
        historicos_->setAttribute(Qt::WA_DeleteOnClose);
    }
    historicos_->show();
    historicos_->raise();
    historicos_->activateWindow();
    return historicos_;
}

void TFormPrincipal::AtualizaTerminais() {
    if (!tabelasIniciadas_) return;
    const common::DateTime agora = common::Now();
    estadoTerminais_.Comunicacao(servidor_->Escutando(), agora);
    if (tabelas_.cdsEquipamentos.ChangeCount() != mudancasEquipamentos_) {
        mudancasEquipamentos_ = tabelas_.cdsEquipamentos.ChangeCount();
        estadoTerminais_.DefineEquipamentos(tabelas_.cdsEquipamentos);
    }
    if (tabelas_.cdsHistorico.ChangeCount() != mudancasHistorico_) {
        mudancasHistorico_ = tabelas_.cdsHistorico.ChangeCount();
        estadoTerminais_.ContaHistorico(tabelas_.cdsHistorico);
    }
    for (const AvisoTerminal& aviso : estadoTerminais_.Verifica(agora)) AvisaTerminal(aviso);
    PublicaMonitor(agora);

    const auto& terminais = estadoTerminais_.Terminais();
    const std::string resumo = std::to_string(estadoTerminais_.Conectados()) + " de " +
                               std::to_string(terminais.size()) + " terminais conectados";
    lbTerminais_->setText(ToQString(resumo));
    if (auto* painel = statusBar()->findChild<QLabel*>(QStringLiteral("StatusPanel0"))) {
        painel->setText(ToQString(" " + resumo));
        // Red while a registered gate is not there.
        const bool falta = estadoTerminais_.Conectados() < static_cast<int>(terminais.size());
        painel->setStyleSheet(falta ? QStringLiteral("color: #a00000") : QString());
    }
    if (bandeja_) bandeja_->setToolTip(windowTitle() + QStringLiteral("\n") + ToQString(resumo));
    // The table is filled for someone looking at it; opening the window fills it.
    if (!janelaTerminais_->isVisible()) return;
    const bool outrasLinhas = grdTerminais_->rowCount() != static_cast<int>(terminais.size());
    grdTerminais_->setRowCount(static_cast<int>(terminais.size()));
    for (int i = 0; i < static_cast<int>(terminais.size()); ++i) {
        const EstadoTerminal& t = terminais[static_cast<size_t>(i)];
        const std::string textos[] = {t.numero,
                                      t.ip,
                                      t.conectado ? "Conectado" : "Desconectado",
                                      Momento(t.desde, agora),
                                      Momento(t.ultimaMensagem, agora),
                                      std::to_string(t.liberados),
                                      std::to_string(t.bloqueados)};
        for (int c = 0; c < 7; ++c) {
            QTableWidgetItem* item = grdTerminais_->item(i, c);
            if (!item) {
                item = new QTableWidgetItem;
                grdTerminais_->setItem(i, c, item);
            }
            item->setText(ToQString(textos[c]));
            // The gates that are not there stand out.
            item->setForeground(t.conectado ? QBrush() : QBrush(Qt::darkRed));
            item->setBackground(t.conectado ? QBrush() : QBrush(QColor(255, 225, 225)));
        }
    }
    if (outrasLinhas) grdTerminais_->resizeColumnsToContents();
}

void TFormPrincipal::AvisaTerminal(const AvisoTerminal& aviso) {
    const std::string quem = "Terminal " + aviso.numero + " (" + aviso.ip + ")";
    const std::string texto = aviso.voltou
                                  ? quem + " conectado novamente"
                                  : quem + " sem conex\xE3o h\xE1 " +
                                        std::to_string(TEstadoTerminais::kAusenciaMs / 1000) + " s";
    log_.Enviados("Aviso: " + texto);
    // A notification where someone sees the desktop; the journal's line where nobody does.
    if (!SemOperador() && bandeja_ && QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!bandeja_->isVisible()) bandeja_->show();
        bandeja_->showMessage(
            windowTitle(), ToQString(texto),
            aviso.voltou ? QSystemTrayIcon::Information : QSystemTrayIcon::Warning, 10000);
    } else if (SemOperador()) {
        log_.Destaca(texto);
    } else {
        common::WriteStderrLine("Lumora: " + texto);
    }
}

void TFormPrincipal::VerificaNoite() {
    if (!tabelasIniciadas_ || finalizado_) return;
    const common::DateTime agora = common::Now();
    const common::DateTime noite = NoiteDe(agora, horaCorte_);
    // Only forwards: a clock set back a little across the cut must not flip between files.
    if (noite <= arquivos_->Noite() || agora < proximaVirada_) return;
    constexpr int64_t kEsperaNovaTentativaMs = 10'000;
    try {
        arquivos_->ViraNoite(noite);
        monitor_.Salvamento({});
        proximaVirada_ = {};
        log_.Enviados("Info: Hist\xF3rico da noite de " + noite.Format("dd/mm/yyyy") + ": " +
                      arquivos_->ArquivoHistorico().string());
    } catch (const std::exception& e) {
        proximaVirada_ = common::DateTime::FromMs(agora.Ms() + kEsperaNovaTentativaMs);
        monitor_.Salvamento(*e.what() ? e.what() : "night change failed");
        const std::string linha =
            "Erro: Hist\xF3rico da noite de " + noite.Format("dd/mm/yyyy") + ": " + e.what();
        log_.Enviados(linha);
        log_.Destaca(linha);
    }
    if (const std::string& reparo = arquivos_->ReparoHistorico(); !reparo.empty())
        common::WriteStderrLine("Lumora: history repaired: " + reparo);
}

}  // namespace lumora
