// The operator's message boxes on QMessageBox, and the switch that lets tests replace them.
#include "common/qt/OperatorDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <vector>

#include "common/Unhandled.h"
#include "common/qt/Text1252Qt.h"

namespace common::qt {
namespace {

IOperatorDialogs* current = nullptr;
bool nobodyAnswers = false;
std::function<void(const std::string&)> unansweredSink;

// The failure box on screen, if any, and its own text; there is never more than one.
QPointer<QMessageBox> openFailure;
std::string openFailureText;

// Every box on screen, and the button that closing it unanswered stands for.
struct OnScreen {
    QPointer<QMessageBox> box;
    QMessageBox::StandardButton unanswered;
};
std::vector<OnScreen> onScreen;

QMessageBox::StandardButton Run(QMessageBox& box, QMessageBox::StandardButton unanswered) {
    const common::BoxScope open;
    onScreen.push_back({&box, unanswered});
    const int answer = box.exec();
    std::erase_if(onScreen, [&box](const OnScreen& s) { return !s.box || s.box == &box; });
    return static_cast<QMessageBox::StandardButton>(answer);
}

QMessageBox::StandardButton Show(QMessageBox::Icon icon, const QString& title,
                                 const std::string& text, QMessageBox::StandardButtons buttons,
                                 QMessageBox::StandardButton defaultButton,
                                 QMessageBox::StandardButton unanswered) {
    QMessageBox box(icon, title, ToQString(text), buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    return Run(box, unanswered);
}

void Unanswered(const std::string& line) {
    common::WriteStderrLine(line);
    if (const auto sink = unansweredSink) {
        std::string one = line;
        for (char& c : one) {
            if (c == '\n' || c == '\r') c = ' ';
        }
        sink(one);
    }
}

QString ProgramTitle() { return QCoreApplication::applicationName(); }

}  // namespace

IOperatorDialogs& Dialogs() {
    static MessageBoxDialogs boxes;
    static UnansweredDialogs unanswered;
    if (nobodyAnswers) return unanswered;
    return current ? *current : boxes;
}

void SetDialogs(IOperatorDialogs* dialogs) { current = dialogs; }

void SetNobodyAnswers(bool nobody) { nobodyAnswers = nobody; }

bool NobodyAnswers() { return nobodyAnswers; }

void SetUnansweredSink(std::function<void(const std::string& line)> sink) {
    unansweredSink = std::move(sink);
}

void CloseOpenBoxes() {
    // Copies: closing lets no event loop run here, but the list belongs to the boxes.
    for (const OnScreen& s : std::vector<OnScreen>(onScreen)) {
        if (s.box) s.box->done(s.unanswered);
    }
}

void UnansweredDialogs::Notice(const std::string& text) { Unanswered("Aviso: " + text); }

bool UnansweredDialogs::Question(const std::string& text) {
    Unanswered("Pergunta: " + text + " N\xE3o");
    return false;
}

bool UnansweredDialogs::Confirm(const std::string& text) {
    Unanswered("Pergunta: " + text + " Cancel");
    return false;
}

void UnansweredDialogs::Plain(const std::string& text) { Unanswered("Aviso: " + text); }

void UnansweredDialogs::Failure(const std::string& text) { Unanswered("Erro: " + text); }

void MessageBoxDialogs::Notice(const std::string& text) {
    Show(QMessageBox::Information, ToQString(kTituloAtencao), text, QMessageBox::Ok,
         QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBoxDialogs::Question(const std::string& text) {
    return Show(QMessageBox::Question, ToQString(kTituloAtencao), text,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes,
                QMessageBox::No) == QMessageBox::Yes;
}

bool MessageBoxDialogs::Confirm(const std::string& text) {
    return Show(QMessageBox::Question, QStringLiteral("Confirm"), text,
                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok,
                QMessageBox::Cancel) == QMessageBox::Ok;
}

void MessageBoxDialogs::Plain(const std::string& text) {
    Show(QMessageBox::NoIcon, ProgramTitle(), text, QMessageBox::Ok, QMessageBox::Ok,
         QMessageBox::Ok);
}

void MessageBoxDialogs::Failure(const std::string& text) {
    // Every failure reaches the journal, whether or not someone reads the box.
    common::WriteStderrLine("Erro: " + text);
    QMessageBox box(QMessageBox::Critical, ProgramTitle(), ToQString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    openFailure = &box;
    openFailureText = text;
    Run(box, QMessageBox::Ok);
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
