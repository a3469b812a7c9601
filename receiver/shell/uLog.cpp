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
#include <QTextBlock>
#include <QTextCursor>
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

// A text sent to a terminal ends with its CR; the area shows it as the line's end. A line
// beyond the bound is cut, and says how much of it is not shown.
std::string ComoMostrada(const std::string& linha) {
    std::size_t tamanho = linha.size();
    if (tamanho > 0 && linha.back() == '\r') --tamanho;
    if (tamanho <= TformLog::kMaxLinha) return linha.substr(0, tamanho);
    return linha.substr(0, TformLog::kMaxLinha) + "... (mais " +
           std::to_string(tamanho - TformLog::kMaxLinha) + " bytes)";
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
    std::string mostrada = ComoMostrada(linha);
    if (isVisible()) {
        area.memo->appendPlainText(common::qt::ToQString(mostrada));
        Apara(area);
        return;
    }
    // A line break each, as in the area.
    area.bytesAguardando += mostrada.size() + 1;
    area.aguardando.push_back(std::move(mostrada));
    while (area.aguardando.size() > static_cast<std::size_t>(kMaxLinhas) ||
           area.bytesAguardando > kMaxBytesArea) {
        area.bytesAguardando -= area.aguardando.front().size() + 1;
        area.aguardando.pop_front();
    }
}

void TformLog::Descarrega(Area& area) {
    if (area.aguardando.empty()) return;
    std::string texto;
    texto.reserve(area.bytesAguardando);
    for (const std::string& linha : area.aguardando) {
        if (!texto.empty()) texto += '\n';
        texto += linha;
    }
    area.aguardando.clear();
    area.bytesAguardando = 0;
    // One block per line, as line by line; the area's bounds let the oldest go.
    area.memo->appendPlainText(common::qt::ToQString(texto));
    Apara(area);
}

void TformLog::Apara(Area& area) {
    // The line bound is the area's own; the text bound is kept here, on what the area holds
    // now, so that lines the operator typed or cleared count as they are. Windows-1252 is one
    // character a byte.
    QTextDocument* doc = area.memo->document();
    if (static_cast<std::size_t>(doc->characterCount()) <= kMaxBytesArea) return;
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::Start);
    QTextBlock bloco = doc->firstBlock();
    std::size_t excesso = static_cast<std::size_t>(doc->characterCount()) - kMaxBytesArea;
    // One removal for all the oldest lines that must go; the newest line always stays.
    while (excesso > 0 && bloco.isValid() && bloco.next().isValid()) {
        const auto tamanho = static_cast<std::size_t>(bloco.length());
        excesso = excesso > tamanho ? excesso - tamanho : 0;
        bloco = bloco.next();
    }
    cursor.setPosition(bloco.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
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
