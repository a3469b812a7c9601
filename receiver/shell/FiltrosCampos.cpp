// The character filter of the time fields and the typing limit of the text fields.
#include "receiver/shell/FiltrosCampos.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace lumora {

bool FiltroDigitos::Descarta(const QKeyEvent& tecla) {
    const int k = tecla.key();
    if (k == Qt::Key_Backspace) return false;
    // Focus moves between fields before any character is typed.
    if (k == Qt::Key_Tab || k == Qt::Key_Backtab) return false;
    // Alt combinations are menu keys ("&Arquivo"), not characters.
    if (tecla.modifiers() & Qt::AltModifier) return false;
    // Ctrl with a letter stands for a control character whatever text the platform gives it.
    if (tecla.modifiers() & Qt::ControlModifier) {
        return (k >= Qt::Key_A && k <= Qt::Key_Z) || k == Qt::Key_BracketLeft ||
               k == Qt::Key_BracketRight || k == Qt::Key_Backslash;
    }
    const QString texto = tecla.text();
    if (texto.isEmpty()) return false;
    return !(texto.size() == 1 && texto[0] >= u'0' && texto[0] <= u'9');
}

bool FiltroDigitos::eventFilter(QObject* alvo, QEvent* evento) {
    switch (evento->type()) {
        case QEvent::InputMethod: {
            // Characters composed by an input method arrive here, not as key presses: the
            // same rule, character by character.
            auto* metodo = static_cast<QInputMethodEvent*>(evento);
            const QString texto = metodo->commitString();
            QString digitos;
            for (const QChar c : texto) {
                if (c >= u'0' && c <= u'9') digitos += c;
            }
            if (digitos != texto) {
                metodo->setCommitString(digitos, metodo->replacementStart(),
                                        metodo->replacementLength());
            }
            return QObject::eventFilter(alvo, evento);
        }
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            // Dropped text would pass the filter whole.
            evento->ignore();
            return true;
        default:
            break;
    }
    if (evento->type() == QEvent::KeyPress) {
        if (Descarta(*static_cast<QKeyEvent*>(evento))) return true;
    } else if (evento->type() == QEvent::ShortcutOverride) {
        // Claim the shortcut keys for the field, so that they reach the filter above (and are
        // dropped there) instead of working as shortcuts.
        auto* tecla = static_cast<QKeyEvent*>(evento);
        if (Descarta(*tecla)) {
            evento->accept();
            return true;
        }
    }
    return QObject::eventFilter(alvo, evento);
}

LimiteDigitacao::LimiteDigitacao(QLineEdit* campo, int limite)
    : QValidator(campo),
      limite_(limite),
      anterior_(campo->text().size()),
      separadores_(campo->text().count(u';')) {
    // The field's text has already changed when a change is validated: remember the last one.
    connect(campo, &QLineEdit::textChanged, this, [this](const QString& texto) {
        anterior_ = texto.size();
        separadores_ = texto.count(u';');
    });
}

QValidator::State LimiteDigitacao::validate(QString& texto, int& /*posicao*/) const {
    if (texto.count(u';') > separadores_) return Invalid;
    if (texto.size() <= limite_ || texto.size() <= anterior_) return Acceptable;
    return Invalid;
}

}  // namespace lumora
