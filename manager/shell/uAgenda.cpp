// The address-book window.
#include "manager/shell/uAgenda.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "common/Unhandled.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/Text1252Qt.h"

namespace modrevo {
namespace {

QString T(const std::string& bytes) { return common::qt::ToQString(bytes); }

}  // namespace

TFormAgenda::TFormAgenda(std::filesystem::path arquivo, QWidget* parent)
    : QDialog(parent), arquivo_(std::move(arquivo)) {
    setObjectName(QStringLiteral("FormAgenda"));
    setWindowTitle(T("Agenda de Endere\xE7os"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(380, 360);

    auto* coluna = new QVBoxLayout(this);
    auto* ajuda = new QLabel(T("M\xF3"
                               "dulos atr\xE1s de roteadores, que o broadcast n\xE3o "
                               "alcan\xE7"
                               "a,\nprocurados um a um a cada atualiza\xE7\xE3o:\n"
                               "  um endere\xE7o:  10.1.2.30\n"
                               "  uma rede (at\xE9 /22):  10.1.2.0/24\n"
                               "  uma faixa (sem os .0 e .255):  10.1.2.10-10.1.2.50"),
                             this);
    ajuda->setObjectName(QStringLiteral("lbAjuda"));
    coluna->addWidget(ajuda);

    auto* linha = new QHBoxLayout;
    edEndereco_ = new QLineEdit(this);
    edEndereco_->setObjectName(QStringLiteral("edEndereco"));
    edEndereco_->setMaxLength(40);
    btAdicionar_ = new QPushButton(QStringLiteral("Adicionar"), this);
    btAdicionar_->setObjectName(QStringLiteral("btAdicionar"));
    linha->addWidget(edEndereco_, 1);
    linha->addWidget(btAdicionar_);
    coluna->addLayout(linha);

    lstEnderecos_ = new QListWidget(this);
    lstEnderecos_->setObjectName(QStringLiteral("lstEnderecos"));
    coluna->addWidget(lstEnderecos_, 1);

    auto* botoes = new QHBoxLayout;
    btRemover_ = new QPushButton(QStringLiteral("Remover"), this);
    btRemover_->setObjectName(QStringLiteral("btRemover"));
    btOK_ = new QPushButton(QStringLiteral("OK"), this);
    btOK_->setObjectName(QStringLiteral("btOK"));
    btOK_->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    btCancelar_ = new QPushButton(QStringLiteral("Cancelar"), this);
    btCancelar_->setObjectName(QStringLiteral("btCancelar"));
    botoes->addWidget(btRemover_);
    botoes->addStretch(1);
    botoes->addWidget(btOK_);
    botoes->addWidget(btCancelar_);
    for (QPushButton* b : {btAdicionar_, btRemover_, btOK_, btCancelar_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    coluna->addLayout(botoes);

    // Enter in the field adds what was typed; it never closes the window.
    connect(edEndereco_, &QLineEdit::returnPressed, this,
            [this] { common::GuardEntryPoint([this] { btAdicionarClick(); }); });
    connect(btAdicionar_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { btAdicionarClick(); }); });
    connect(btRemover_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { btRemoverClick(); }); });
    connect(btOK_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { OkClick(); }); });
    connect(btCancelar_, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormAgenda::Carrega() {
    agenda_ = CarregaAgenda(arquivo_);
    MostraLista();
}

bool TFormAgenda::Mostra() {
    Carrega();
    edEndereco_->clear();
    edEndereco_->setFocus();
    if (parentWidget()) move(parentWidget()->frameGeometry().center() - rect().center());
    return exec() == QDialog::Accepted;
}

void TFormAgenda::MostraLista() {
    lstEnderecos_->clear();
    for (const EntradaAgenda& e : agenda_) lstEnderecos_->addItem(T(e.texto));
}

void TFormAgenda::btAdicionarClick() {
    std::string motivo;
    const auto entrada = LeEntradaAgenda(common::qt::FromQString(edEndereco_->text()), motivo);
    if (entrada) motivo = MotivoRecusaNaAgenda(agenda_, *entrada);
    if (!motivo.empty()) {
        common::qt::Dialogs().Notice(motivo);
        edEndereco_->setFocus();
        edEndereco_->selectAll();
        return;
    }
    agenda_.push_back(*entrada);
    MostraLista();
    lstEnderecos_->setCurrentRow(lstEnderecos_->count() - 1);
    edEndereco_->clear();
    edEndereco_->setFocus();
}

void TFormAgenda::btRemoverClick() {
    const int linha = lstEnderecos_->currentRow();
    if (linha < 0 || linha >= static_cast<int>(agenda_.size())) return;
    agenda_.erase(agenda_.begin() + linha);
    MostraLista();
    lstEnderecos_->setCurrentRow(std::min(linha, lstEnderecos_->count() - 1));
}

void TFormAgenda::OkClick() {
    // What is still typed and not added would be lost without a word: it is added first, or
    // refused with its reason and the window stays.
    if (!edEndereco_->text().trimmed().isEmpty()) {
        const std::size_t antes = agenda_.size();
        btAdicionarClick();
        if (agenda_.size() == antes) return;
    }
    // A file that cannot be written keeps the window open, the list as typed.
    SalvaAgenda(arquivo_, agenda_);
    accept();
}

}  // namespace modrevo
