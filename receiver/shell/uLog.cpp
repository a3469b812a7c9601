// The traffic-log window: two framed text areas and the "Stay on Top" context menu.
#include "receiver/shell/uLog.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include "common/Unhandled.h"
#include "common/qt/Text1252Qt.h"

namespace lumora {
namespace {

QPlainTextEdit* Painel(QWidget* janela, QVBoxLayout* coluna, const char* titulo, const char* nome,
                       bool quebraLinha, int altura) {
    auto* moldura = new QFrame(janela);
    moldura->setFrameShape(QFrame::StyledPanel);
    moldura->setFrameShadow(QFrame::Raised);
    if (altura > 0) moldura->setFixedHeight(altura);
    auto* layout = new QVBoxLayout(moldura);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(2);
    layout->addWidget(new QLabel(QString::fromLatin1(titulo), moldura));
    auto* memo = new QPlainTextEdit(moldura);
    memo->setObjectName(QString::fromLatin1(nome));
    memo->setLineWrapMode(quebraLinha ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Also turns the area's undo history off, which would otherwise keep every line appended.
    memo->setMaximumBlockCount(TformLog::kMaxLinhas);
    layout->addWidget(memo);
    coluna->addWidget(moldura, altura > 0 ? 0 : 1);
    return memo;
}

// A text sent to a terminal ends with its CR; the area shows it as the line's end.
std::string SemCrFinal(const std::string& linha) {
    if (!linha.empty() && linha.back() == '\r') return linha.substr(0, linha.size() - 1);
    return linha;
}

}  // namespace

// A tool window, like the main one: the program has no taskbar button after start-up, and the
// operator reaches this window through the main window's menu.
TformLog::TformLog(QWidget* parent) : QWidget(parent, Qt::Window | Qt::Tool) {
    setObjectName(QStringLiteral("formLog"));
    setWindowTitle(QStringLiteral("Dados Recebidos/Enviados"));
    resize(691, 419);
    auto* coluna = new QVBoxLayout(this);
    coluna->setContentsMargins(0, 0, 0, 0);
    coluna->setSpacing(0);
    memoRecebidos_ = Painel(this, coluna, "Recebidos", "memoRecebidos", false, 0);
    memoEnviados_ = Painel(this, coluna, "Enviados", "MemoEnviados", true, 208);
    recebidos_.memo = memoRecebidos_;
    enviados_.memo = memoEnviados_;

    stayOnTop_ = new QAction(QStringLiteral("Stay on Top"), this);
    stayOnTop_->setObjectName(QStringLiteral("StayonTop1"));
    stayOnTop_->setCheckable(true);
    stayOnTop_->setChecked(false);
    // A checkable item flips its own check mark first; the stacking then follows it.
    connect(stayOnTop_, &QAction::triggered, this,
            [this] { common::GuardEntryPoint([this] { AplicaEmpilhamento(); }); });
}

void TformLog::Acrescenta(Area& area, const std::string& linha) {
    if (isVisible()) {
        area.memo->appendPlainText(common::qt::ToQString(SemCrFinal(linha)));
        return;
    }
    area.aguardando.push_back(linha);
    if (area.aguardando.size() > static_cast<std::size_t>(kMaxLinhas)) area.aguardando.pop_front();
}

void TformLog::Descarrega(Area& area) {
    if (area.aguardando.empty()) return;
    std::string texto;
    for (const std::string& linha : area.aguardando) {
        if (!texto.empty()) texto += '\n';
        texto += SemCrFinal(linha);
    }
    area.aguardando.clear();
    // One block per line, as line by line; the area's bound lets the oldest go.
    area.memo->appendPlainText(common::qt::ToQString(texto));
}

void TformLog::Recebidos(const std::string& linha) { Acrescenta(recebidos_, linha); }

void TformLog::Enviados(const std::string& linha) { Acrescenta(enviados_, linha); }

void TformLog::showEvent(QShowEvent* event) {
    Descarrega(recebidos_);
    Descarrega(enviados_);
    QWidget::showEvent(event);
}

void TformLog::StayOnTopClick() { stayOnTop_->trigger(); }

void TformLog::AplicaEmpilhamento() {
    const bool visivel = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, stayOnTop_->isChecked());
    // Changing the flags takes the window down; put it back where the operator had it.
    if (visivel) show();
}

void TformLog::closeEvent(QCloseEvent* event) {
    // Closing only hides: the lines stay for the next time the window is shown.
    event->ignore();
    hide();
}

void TformLog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(stayOnTop_);
    menu.exec(event->globalPos());
}

}  // namespace lumora
