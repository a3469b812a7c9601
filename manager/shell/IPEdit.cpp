// The IP address edit control: text and number conversions, keyboard filter, focus and layout.
#include "manager/shell/IPEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QValidator>
#include <algorithm>
#include <exception>

#include "common/Convert.h"
#include "common/Unhandled.h"
#include "common/qt/Text1252Qt.h"

namespace modrevo {

using common::qt::FromQString;
using common::qt::ToQString;

namespace {

// A new control's height, raised by the layout when its font needs more.
constexpr int kAlturaInicial = 21;
// An edit field keeps 2 pixels free on each side of its text and draws the caret after it;
// 1 pixel above and below. Without them three digits would scroll inside an octet.
constexpr int kFolgaHorizontal = 2 * 2 + 1;
constexpr int kFolgaVertical = 2 * 1;

int ValorDoDigito(char c, int base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One part of a dotted text as an octet's text. Read the lenient way: blanks, a sign, then
// decimal digits or hexadecimal ones after "$", "x", "X", "0x" or "0X", up to the first
// character that does not fit. The sign counts only when the whole part was read, so "-5"
// gives "-5" (the remainder keeps its sign, as the octet's own conversion does when it is
// left) but "-5x" gives "5". Only the remainder modulo 256 is kept while reading, which is
// exact however many digits follow.
std::string NormalizaParte(const std::string& parte) {
    size_t i = 0;
    while (i < parte.size() && parte[i] == ' ') ++i;
    bool negativo = false;
    if (i < parte.size() && (parte[i] == '+' || parte[i] == '-')) {
        negativo = parte[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < parte.size() && (parte[i] == '$' || parte[i] == 'x' || parte[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < parte.size() && parte[i] == '0' &&
               (parte[i + 1] == 'x' || parte[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    int resto = 0;
    for (; i < parte.size(); ++i) {
        const int digito = ValorDoDigito(parte[i], base);
        if (digito < 0) break;
        resto = (resto * base + digito) % 256;
    }
    const bool inteira = i == parte.size();
    return std::to_string(negativo && inteira ? -resto : resto);
}

// Non-digit characters in an octet's text.
qsizetype NaoDigitos(const QString& texto) {
    qsizetype n = 0;
    for (QChar c : texto) n += c < u'0' || c > u'9';
    return n;
}

// Three characters at most when typing, and digits only, however the text comes in: keys with
// any modifier, an input method, a paste or a drop all pass here, the key filter does not see
// them all. A longer text written by the program (a negative octet such as "-255") is shown
// whole, and the operator may still shorten it.
class LimiteDigitacao : public QValidator {
  public:
    explicit LimiteDigitacao(QLineEdit* campo)
        : QValidator(campo),
          anterior_(campo->text().size()),
          naoDigitosAnteriores_(NaoDigitos(campo->text())) {
        // The text has already changed when a change is validated: remember the last one.
        connect(campo, &QLineEdit::textChanged, this, [this](const QString& texto) {
            anterior_ = texto.size();
            naoDigitosAnteriores_ = NaoDigitos(texto);
        });
    }
    State validate(QString& texto, int& /*posicao*/) const override {
        if (NaoDigitos(texto) > naoDigitosAnteriores_) return Invalid;
        return texto.size() <= 3 || texto.size() <= anterior_ ? Acceptable : Invalid;
    }

  private:
    qsizetype anterior_;
    qsizetype naoDigitosAnteriores_;
};

enum class Tecla { Normal, Descarta, Ponto };

// What the octets' filter does with a key press. Only typed characters are filtered: keys that
// type nothing go through, and so do Tab, Return and Escape, which belong to the window
// (focus moves, default and cancel buttons) before they are characters.
Tecla ClassificaTecla(const QKeyEvent& tecla) {
    switch (tecla.key()) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            return Tecla::Normal;
        default:
            break;
    }
    // Alt combinations are menu keys, not characters.
    if (tecla.modifiers() & Qt::AltModifier) return Tecla::Normal;
    // Ctrl with a letter stands for a control character (copy, cut, paste, undo, select all)
    // whatever text the platform gives it.
    if (tecla.modifiers() & Qt::ControlModifier) {
        const int k = tecla.key();
        const bool controle = (k >= Qt::Key_A && k <= Qt::Key_Z) || k == Qt::Key_BracketLeft ||
                              k == Qt::Key_BracketRight || k == Qt::Key_Backslash;
        return controle ? Tecla::Descarta : Tecla::Normal;
    }
    const QString texto = tecla.text();
    if (texto.isEmpty()) return Tecla::Normal;
    if (texto == QStringLiteral(".")) return Tecla::Ponto;
    if (texto.size() == 1 && texto[0] >= u'0' && texto[0] <= u'9') return Tecla::Normal;
    return Tecla::Descarta;
}

// Focus that goes to another window, a popup or the menu bar for a while is not a move
// between the controls of this window.
bool MudancaDeJanela(Qt::FocusReason motivo) {
    return motivo == Qt::ActiveWindowFocusReason || motivo == Qt::PopupFocusReason ||
           motivo == Qt::MenuBarFocusReason;
}

}  // namespace

// ---- TIPByteEdit ----

TIPByteEdit::TIPByteEdit(int tag, QWidget* parent) : QLineEdit(parent), tag_(tag) {
    setFrame(false);
    setText(QStringLiteral("0"));
    setValidator(new LimiteDigitacao(this));
    SetAlignment(Alinhamento::Centro);
}

void TIPByteEdit::SetAlignment(Alinhamento alinhamento) {
    alinhamento_ = alinhamento;
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (alinhamento == Alinhamento::Direita) horizontal = Qt::AlignRight;
    if (alinhamento == Alinhamento::Centro) horizontal = Qt::AlignHCenter;
    setAlignment(horizontal | Qt::AlignVCenter);
}

// ---- TIPEdit ----

TIPEdit::TIPEdit(QWidget* parent) : QFrame(parent) {
    // Looks like an edit field: the octets and the dots sit on the edit background colour.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    for (int i = 0; i < 4; ++i) {
        // Created in order, so that Tab goes from octet to octet.
        auto* octeto = new TIPByteEdit(i, this);
        octeto->setObjectName(QStringLiteral("octeto%1").arg(i));
        octeto->setFocusPolicy(Qt::StrongFocus);
        octeto->installEventFilter(this);
        connect(octeto, &QLineEdit::textChanged, this, &TIPEdit::changed);
        octetos_[i] = octeto;

        auto* separador = new QLabel(i < 3 ? QStringLiteral(".") : QString(), this);
        separador->setObjectName(QStringLiteral("separador%1").arg(i));
        separador->setAlignment(Qt::AlignCenter);
        separador->setForegroundRole(QPalette::Text);
        // Its clicks are the box's own (mouse handlers below).
        separador->setAttribute(Qt::WA_TransparentForMouseEvents);
        separador->setVisible(i < 3);
        separadores_[i] = separador;
    }
    SetBorderStyle(Borda::Simples);
    // Focus given to the box goes to octet 0 (and the box may be named in a tab order).
    setFocusProxy(octetos_[0]);
    resize(sizeHint().width(), kAlturaInicial);
}

std::string TIPEdit::Text() const {
    std::string texto;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) texto += '.';
        texto += FromQString(octetos_[i]->text());
    }
    return texto;
}

void TIPEdit::SetText(const std::string& texto) {
    std::string resto = common::Trim(texto) + ".";
    // Octets without a part keep what they have; parts after the fourth are ignored.
    for (TIPByteEdit* octeto : octetos_) {
        const size_t ponto = resto.find('.');
        if (ponto == std::string::npos) break;
        octeto->setText(ToQString(NormalizaParte(resto.substr(0, ponto))));
        resto.erase(0, ponto + 1);
    }
}

uint32_t TIPEdit::Value() const {
    // Unsigned arithmetic and no masking: an octet above 255 or below 0 spills into the
    // bytes above it, as it always has.
    uint32_t valor = 0;
    for (int i = 0; i < 4; ++i) {
        const int32_t octeto = common::StrToInt(FromQString(octetos_[i]->text()));
        valor |= static_cast<uint32_t>(octeto) << (8 * (3 - i));
    }
    return valor;
}

void TIPEdit::SetValue(uint32_t valor) {
    for (int i = 0; i < 4; ++i) {
        octetos_[i]->setText(ToQString(std::to_string((valor >> (8 * (3 - i))) & 0xFF)));
    }
}

void TIPEdit::SetEnabled(bool habilitado) {
    habilitado_ = habilitado;
    setEnabled(habilitado);
    for (TIPByteEdit* octeto : octetos_) octeto->setEnabled(habilitado);
    for (QLabel* separador : separadores_) separador->setEnabled(habilitado);
}

void TIPEdit::SetBorderStyle(Borda borda) {
    borda_ = borda;
    setFrameStyle(borda == Borda::Simples ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
    Dispoe();
}

// ---- layout ----

TIPEdit::Medidas TIPEdit::Mede() const {
    const QFontMetrics metricas(font());
    Medidas m{};
    m.moldura = width() - contentsRect().width();
    m.molduraV = height() - contentsRect().height();
    m.larguraPonto = separadores_[0]->sizeHint().width();
    m.alturaLinha = metricas.height() + kFolgaVertical;
    const int larguraDigitos = metricas.horizontalAdvance(QStringLiteral("000")) + kFolgaHorizontal;
    m.larguraOcteto = std::max((width() - m.moldura - 3 * m.larguraPonto) / 4, larguraDigitos);
    return m;
}

QSize TIPEdit::minimumSizeHint() const {
    const QFontMetrics metricas(font());
    const Medidas m = Mede();
    const int larguraDigitos = metricas.horizontalAdvance(QStringLiteral("000")) + kFolgaHorizontal;
    return {4 * larguraDigitos + 3 * m.larguraPonto + m.moldura, m.alturaLinha + m.molduraV};
}

QSize TIPEdit::sizeHint() const {
    const QSize minimo = minimumSizeHint();
    return {minimo.width(), std::max(minimo.height(), kAlturaInicial)};
}

// Too small a box grows first, and the resize lays it out again.
void TIPEdit::Dispoe() {
    const Medidas m = Mede();
    if (height() < m.alturaLinha + m.molduraV) {
        resize(width(), m.alturaLinha + m.molduraV);
        return;
    }
    const int larguraMinima = 4 * m.larguraOcteto + 3 * m.larguraPonto + m.moldura;
    if (width() < larguraMinima) {
        resize(larguraMinima, height());
        return;
    }
    const QRect cliente = contentsRect();
    const int topo = cliente.top() + (cliente.height() - m.alturaLinha) / 2;
    for (int i = 0; i < 4; ++i) {
        const int esquerda = cliente.left() + i * (m.larguraOcteto + m.larguraPonto);
        octetos_[i]->setGeometry(esquerda, topo, m.larguraOcteto, m.alturaLinha);
        separadores_[i]->setGeometry(esquerda + m.larguraOcteto, topo, m.larguraPonto,
                                     m.alturaLinha);
    }
}

void TIPEdit::resizeEvent(QResizeEvent* evento) {
    QFrame::resizeEvent(evento);
    Dispoe();
}

void TIPEdit::changeEvent(QEvent* evento) {
    QFrame::changeEvent(evento);
    if (evento->type() == QEvent::FontChange || evento->type() == QEvent::StyleChange) {
        updateGeometry();
        Dispoe();
    }
}

// ---- mouse: the box and its dots here, the octets through the filter ----

void TIPEdit::mousePressEvent(QMouseEvent* evento) {
    if (evento->button() == Qt::LeftButton) pressionado_ = this;
    QFrame::mousePressEvent(evento);
}

void TIPEdit::mouseReleaseEvent(QMouseEvent* evento) {
    if (evento->button() == Qt::LeftButton && pressionado_ == this) {
        pressionado_ = nullptr;
        if (rect().contains(evento->position().toPoint())) emit clicked();
    }
    QFrame::mouseReleaseEvent(evento);
}

void TIPEdit::mouseDoubleClickEvent(QMouseEvent* evento) {
    // The release that ends a double click is no click of its own.
    pressionado_ = nullptr;
    if (evento->button() == Qt::LeftButton) emit doubleClicked();
    QFrame::mouseDoubleClickEvent(evento);
}

// ---- the octets' events ----

bool TIPEdit::EhOcteto(const QObject* objeto) const {
    return std::find(octetos_.begin(), octetos_.end(), objeto) != octetos_.end();
}

bool TIPEdit::eventFilter(QObject* alvo, QEvent* evento) {
    if (!EhOcteto(alvo)) return QFrame::eventFilter(alvo, evento);
    auto& octeto = static_cast<TIPByteEdit&>(*alvo);
    switch (evento->type()) {
        case QEvent::KeyPress:
            return TeclaNoOcteto(octeto, static_cast<const QKeyEvent&>(*evento));
        case QEvent::FocusIn:
            return EntraNoOcteto(octeto, static_cast<const QFocusEvent&>(*evento));
        case QEvent::FocusOut:
            SaiDoOcteto(octeto, static_cast<const QFocusEvent&>(*evento));
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            const auto& mouse = static_cast<const QMouseEvent&>(*evento);
            if (mouse.button() == Qt::LeftButton) {
                if (evento->type() == QEvent::MouseButtonPress) {
                    pressionado_ = alvo;
                } else {
                    pressionado_ = nullptr;
                    emit doubleClicked();
                }
            }
            // A click that entered the control has sent the caret to octet 0: the octet
            // clicked does not place a caret or select anything of its own.
            return !octeto.hasFocus();
        }
        case QEvent::MouseButtonRelease: {
            const auto& mouse = static_cast<const QMouseEvent&>(*evento);
            if (mouse.button() == Qt::LeftButton && pressionado_ == alvo) {
                pressionado_ = nullptr;
                if (octeto.rect().contains(mouse.position().toPoint())) emit clicked();
            }
            return false;
        }
        default:
            return false;
    }
}

// True when the key is dropped.
bool TIPEdit::TeclaNoOcteto(TIPByteEdit& octeto, const QKeyEvent& tecla) {
    switch (ClassificaTecla(tecla)) {
        case Tecla::Normal:
            return false;
        case Tecla::Descarta:
            return true;
        case Tecla::Ponto:
            // The dot is never typed: it takes the operator to the next octet, ready to be
            // typed over. After the last octet there is nowhere to go.
            if (octeto.Tag() < 3) {
                TIPByteEdit* proximo = octetos_[octeto.Tag() + 1];
                proximo->setFocus(Qt::OtherFocusReason);
                proximo->selectAll();
            }
            return true;
    }
    return false;
}

// True when the octet is not to see its focus-in (it has already lost the focus again).
bool TIPEdit::EntraNoOcteto(TIPByteEdit& octeto, const QFocusEvent& foco) {
    if (focoDentro_ || foco.reason() == Qt::PopupFocusReason ||
        foco.reason() == Qt::MenuBarFocusReason) {
        return false;
    }
    // Coming in from outside, whichever octet was aimed at: the address is typed from the
    // start.
    focoDentro_ = true;
    const bool desviado = &octeto != octetos_[0];
    if (desviado) {
        desviando_ = true;
        octetos_[0]->setFocus(Qt::OtherFocusReason);
        desviando_ = false;
    }
    octetos_[0]->selectAll();
    emit entered();
    return desviado;
}

void TIPEdit::SaiDoOcteto(TIPByteEdit& octeto, const QFocusEvent& foco) {
    if (MudancaDeJanela(foco.reason())) return;
    // The octet clicked on the way in was never really entered, so it is not left either.
    if (!desviando_) {
        try {
            const int32_t valor = common::StrToInt(FromQString(octeto.text()));
            octeto.setText(ToQString(std::to_string(valor % 256)));
        } catch (...) {
            // The field stays as it is. The box waits until the focus has settled: a modal
            // loop in the middle of a focus change would leave the new widget half focused
            // and a button pressed on the way stuck down.
            QTimer::singleShot(
                0, this, [falha = std::current_exception()] { common::ReportUnhandled(falha); });
        }
    }
    // QApplication already names the widget the focus is going to.
    if (!EhOcteto(QApplication::focusWidget())) {
        focoDentro_ = false;
        emit exited();
    }
}

}  // namespace modrevo
