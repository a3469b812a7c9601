// Input rules of the settings fields: digits-only time fields and the typing limit of the texts.
#pragma once

#include <QObject>
#include <QValidator>

class QKeyEvent;
class QLineEdit;

namespace lumora {

// Time fields: a typed character gets through only if it is Backspace or a digit. Every other
// character is dropped, the control characters of the copy, cut, paste, undo and select-all
// shortcuts included; keys that type nothing (Delete, arrows, Home, Tab) work as usual. Text
// from an input method is typing as well: only its digits get in. Nothing can be dropped into
// the field. Pasting through the context menu is not a typed character and still works.
class FiltroDigitos : public QObject {
  public:
    using QObject::QObject;
    // True when the key press is to be dropped.
    static bool Descarta(const QKeyEvent& tecla);

  protected:
    bool eventFilter(QObject* alvo, QEvent* evento) override;
};

// A limit on typing only: text put into the field by the program (a longer value from
// Config.ini) is shown whole, and the operator may still shorten it. No ";" gets in either, by
// any way of putting text in: it separates the fields of the reply the text goes into.
class LimiteDigitacao : public QValidator {
  public:
    LimiteDigitacao(QLineEdit* campo, int limite);
    State validate(QString& texto, int& posicao) const override;

  private:
    int limite_;
    qsizetype anterior_;
    qsizetype separadores_;  // ";" in the text as it stood
};

}  // namespace lumora
