// The hidden response-time window: the milliseconds each module receive waits.
#include "manager/shell/uTempo.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "common/Unhandled.h"
#include "common/qt/Text1252Qt.h"
#include "manager/modules/Preferencias.h"

namespace modrevo {

TfrmTempo::TfrmTempo(std::filesystem::path arquivo, QWidget* parent)
    : QDialog(parent), arquivo_(std::move(arquivo)) {
    setObjectName(QStringLiteral("frmTempo"));
    setWindowTitle(QStringLiteral("Tempo de Resposta"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(242, 81);
    auto* coluna = new QVBoxLayout(this);
    coluna->setContentsMargins(16, 12, 16, 12);
    auto* rotulo = new QLabel(QStringLiteral("Tempo de Aguardo(milisegundos)"), this);
    rotulo->setObjectName(QStringLiteral("Label1"));
    EditTempo_ = new QLineEdit(common::qt::ToQString(kTempoPadrao), this);
    EditTempo_->setObjectName(QStringLiteral("EditTempo"));
    EditTempo_->setFixedWidth(97);
    coluna->addWidget(rotulo);
    coluna->addWidget(EditTempo_);
    coluna->addStretch(1);
}

void TfrmTempo::Mostra() {
    const std::string atual = common::qt::FromQString(EditTempo_->text());
    EditTempo_->setText(common::qt::ToQString(CarregaTempoResposta(arquivo_, atual)));
    if (parentWidget()) move(parentWidget()->frameGeometry().center() - rect().center());
    exec();
}

void TfrmTempo::closeEvent(QCloseEvent* event) {
    // The window closes even when the file cannot be written; the operator has been told.
    common::GuardEntryPoint(
        [this] { SalvaTempoResposta(arquivo_, common::qt::FromQString(EditTempo_->text())); });
    QDialog::closeEvent(event);
}

void TfrmTempo::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace modrevo
