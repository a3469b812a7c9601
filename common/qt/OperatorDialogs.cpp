// The operator's message boxes on QMessageBox, and the switch that lets tests replace them.
#include "common/qt/OperatorDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include "common/Unhandled.h"
#include "common/qt/Text1252Qt.h"

namespace common::qt {
namespace {

IOperatorDialogs* current = nullptr;

// The failure box on screen, if any, and its own text; there is never more than one.
QPointer<QMessageBox> openFailure;
std::string openFailureText;

QMessageBox::StandardButton Show(QMessageBox::Icon icon, const QString& title,
                                 const std::string& text, QMessageBox::StandardButtons buttons,
                                 QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, title, ToQString(text), buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString ProgramTitle() { return QCoreApplication::applicationName(); }

}  // namespace

IOperatorDialogs& Dialogs() {
    static MessageBoxDialogs boxes;
    return current ? *current : boxes;
}

void SetDialogs(IOperatorDialogs* dialogs) { current = dialogs; }

void MessageBoxDialogs::Notice(const std::string& text) {
    Show(QMessageBox::Information, ToQString(kTituloAtencao), text, QMessageBox::Ok,
         QMessageBox::Ok);
}

bool MessageBoxDialogs::Question(const std::string& text) {
    return Show(QMessageBox::Question, ToQString(kTituloAtencao), text,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

bool MessageBoxDialogs::Confirm(const std::string& text) {
    return Show(QMessageBox::Question, QStringLiteral("Confirm"), text,
                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

void MessageBoxDialogs::Plain(const std::string& text) {
    Show(QMessageBox::NoIcon, ProgramTitle(), text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBoxDialogs::Failure(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, ProgramTitle(), ToQString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    openFailure = &box;
    openFailureText = text;
    box.exec();
    openFailure = nullptr;
}

void MessageBoxDialogs::FailuresMeanwhile(int count) {
    if (!openFailure) return;
    openFailure->setText(ToQString(openFailureText + "\n\n" + FailuresMeanwhileText(count)));
}

std::string FailuresMeanwhileText(int count) {
    if (count == 1) return "Mais 1 falha ocorreu enquanto esta mensagem estava aberta.";
    return "Mais " + std::to_string(count) +
           " falhas ocorreram enquanto esta mensagem estava aberta.";
}

void InstallFailureBox() {
    SetUnhandledFailureHandler([](const std::string& text) { Dialogs().Failure(text); });
    SetUnhandledOverflowCounter([](int count) { Dialogs().FailuresMeanwhile(count); });
}

}  // namespace common::qt
