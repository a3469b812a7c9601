// Shows the programs' own question boxes and file chooser with Qt's translations installed as
// the programs install them, reads their buttons and prints them, one line a dialog:
// "question Sim Não", "confirm OK Cancelar", "file-chooser Salvar Cancelar". Exit status 1 when
// the translations are not found. The package check runs it against the installed Qt.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>

#include "common/qt/OperatorDialogs.h"
#include "common/qt/TraducaoQt.h"

namespace {

// The texts of the standard buttons of the modal dialog on screen, in the order asked for.
QString Botoes(QWidget* dialogo, std::initializer_list<QDialogButtonBox::StandardButton> quais) {
    QString linha;
    auto* caixa = dialogo ? dialogo->findChild<QDialogButtonBox*>() : nullptr;
    for (const auto qual : quais) {
        const QAbstractButton* botao = caixa ? caixa->button(qual) : nullptr;
        linha += QStringLiteral(" ") + (botao ? botao->text().remove(u'&') : QStringLiteral("?"));
    }
    return linha;
}

// Runs `abre`, which opens a modal dialog and returns once it is closed; meanwhile reads the
// dialog's buttons and closes it unanswered.
QString Le(const std::function<void()>& abre,
           std::initializer_list<QDialogButtonBox::StandardButton> quais) {
    QString lido = QStringLiteral(" (no dialog)");
    QTimer::singleShot(0, [&] {
        QWidget* dialogo = QApplication::activeModalWidget();
        lido = Botoes(dialogo, quais);
        if (auto* d = qobject_cast<QDialog*>(dialogo)) d->reject();
    });
    abre();
    return lido;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    if (!common::qt::InstalaTraducaoQt()) {
        std::fputs("Qt's translations (qtbase_pt_BR) were not found\n", stderr);
        return 1;
    }
    common::qt::MessageBoxDialogs caixas;
    const QString pergunta = Le([&] { caixas.Question("Deseja realmente finalizar o programa?"); },
                                {QDialogButtonBox::Yes, QDialogButtonBox::No});
    const QString confirma = Le([&] { caixas.Confirm("Delete record?"); },
                                {QDialogButtonBox::Ok, QDialogButtonBox::Cancel});
    // Qt's own chooser, as on a desktop without a platform file dialog.
    const QString arquivo = Le(
        [] {
            QFileDialog::getSaveFileName(nullptr, QStringLiteral("Exportar"), QString(),
                                         QStringLiteral("CSV (*.csv)"), nullptr,
                                         QFileDialog::DontUseNativeDialog);
        },
        {QDialogButtonBox::Save, QDialogButtonBox::Cancel});
    std::printf("question%s\nconfirm%s\nfile-chooser%s\n", pergunta.toUtf8().constData(),
                confirma.toUtf8().constData(), arquivo.toUtf8().constData());
    return 0;
}
