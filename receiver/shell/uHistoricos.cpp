#include "receiver/shell/uHistoricos.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <chrono>
#include <memory>
#include <set>
#include <utility>

#include "common/AtomicFile.h"
#include "common/Exception.h"
#include "common/Unhandled.h"
#include "common/qt/Text1252Qt.h"
#include "receiver/control/Tabelas.h"
#include "receiver/shell/ConfigIni.h"

namespace lumora {
namespace {

using common::qt::FromQString;
using common::qt::ToQString;

const char* const kDiasSemana[] = {"dom",
                                   "seg",
                                   "ter",
                                   "qua",
                                   "qui",
                                   "sex",
                                   "s\xE1"
                                   "b"};
const std::string kTodos = "(todos)";

QString TextoDia(common::DateTime dia) {
    return ToQString(dia.Format("dd/mm/yyyy") + " " + kDiasSemana[dia.DayOfWeek() - 1]);
}

// Keeps the operator's choice when the new day has it too.
void Preenche(QComboBox* cb, const std::vector<std::pair<QString, QVariant>>& itens) {
    const QVariant antes = cb->currentData();
    const QSignalBlocker bloqueio(cb);
    cb->clear();
    cb->addItem(ToQString(kTodos));
    for (const auto& [texto, valor] : itens) cb->addItem(texto, valor);
    const int i = antes.isValid() ? cb->findData(antes) : -1;
    cb->setCurrentIndex(i < 0 ? 0 : i);
}

}  // namespace

// ---- the rows ----

void TModeloRegistros::Define(const DiaHistorico* dia, const std::vector<int>* linhas) {
    beginResetModel();
    dia_ = dia;
    linhas_ = linhas;
    endResetModel();
}

int TModeloRegistros::rowCount(const QModelIndex& pai) const {
    return pai.isValid() || !linhas_ ? 0 : static_cast<int>(linhas_->size());
}

int TModeloRegistros::columnCount(const QModelIndex& pai) const { return pai.isValid() ? 0 : 4; }

QVariant TModeloRegistros::data(const QModelIndex& indice, int papel) const {
    if (papel != Qt::DisplayRole || !linhas_ || indice.row() >= rowCount()) return {};
    const LinhaHistorico& l = dia_->linhas[static_cast<size_t>((*linhas_)[indice.row()])];
    switch (indice.column()) {
        case 0:
            return ToQString(TextoHora(l));
        case 1:
            return ToQString(std::string(l.Cracha()));
        case 2:
            return ToQString(dia_->Estado(l));
        default:
            return ToQString(TextoTerminal(l.terminal));
    }
}

QVariant TModeloRegistros::headerData(int secao, Qt::Orientation orientacao, int papel) const {
    if (orientacao != Qt::Horizontal || papel != Qt::DisplayRole) return {};
    static const char* const titulos[] = {"Data Hora", "Comanda", "Estado", "Equip."};
    return secao >= 0 && secao < 4 ? QString::fromLatin1(titulos[secao]) : QVariant();
}

// ---- the chart ----

TGraficoHoras::TGraficoHoras(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("grafHoras"));
    setMinimumHeight(120);
}

void TGraficoHoras::Define(const std::array<int, 24>& valores, int primeiraHora) {
    valores_ = valores;
    primeiraHora_ = primeiraHora;
    update();
}

void TGraficoHoras::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const int alturaTexto = fm.height();
    const int maximo = std::max(1, *std::max_element(valores_.begin(), valores_.end()));
    const QRect area = rect().adjusted(4, alturaTexto + 4, -4, -(alturaTexto + 4));
    const double largura = area.width() / 24.0;
    p.setPen(palette().text().color());
    p.drawText(QRect(4, 2, width() - 8, alturaTexto), Qt::AlignLeft,
               ToQString("Sa\xED"
                         "das (Liberado) por hora"));
    QFont pequena = font();
    pequena.setPointSizeF(std::max(6.0, pequena.pointSizeF() - 2));
    p.setFont(pequena);
    for (int k = 0; k < 24; ++k) {
        const int h = (primeiraHora_ + k) % 24;
        const int v = valores_[static_cast<size_t>(h)];
        const int x = area.left() + static_cast<int>(k * largura);
        const int w = std::max(1, static_cast<int>(largura) - 2);
        const int altura =
            static_cast<int>(static_cast<double>(v) * (area.height() - alturaTexto) / maximo);
        const QRect barra(x + 1, area.bottom() - altura, w, altura);
        p.fillRect(barra, palette().highlight());
        if (v > 0) {
            p.drawText(QRect(x, barra.top() - alturaTexto, static_cast<int>(largura), alturaTexto),
                       Qt::AlignHCenter | Qt::AlignBottom, QString::number(v));
        }
        p.drawText(QRect(x, area.bottom() + 2, static_cast<int>(largura), alturaTexto),
                   Qt::AlignHCenter, QString::number(h));
    }
}

// ---- the window ----

TformHistoricos::TformHistoricos(std::filesystem::path pastaPrograma, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::Tool), pasta_(std::move(pastaPrograma)) {
    setObjectName(QStringLiteral("formHistoricos"));
    setWindowTitle(ToQString("Hist\xF3ricos Anteriores"));
    resize(900, 640);

    auto* raiz = new QHBoxLayout(this);
    lbDias_ = new QListWidget(this);
    lbDias_->setObjectName(QStringLiteral("lbDias"));
    lbDias_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 xxxx")) + 30);
    raiz->addWidget(lbDias_);

    auto* direita = new QVBoxLayout;
    raiz->addLayout(direita, 1);
    auto* filtros = new QHBoxLayout;
    direita->addLayout(filtros);
    filtros->addWidget(new QLabel(QStringLiteral("Comanda:"), this));
    edFiltroComanda_ = new QLineEdit(this);
    edFiltroComanda_->setObjectName(QStringLiteral("edFiltroComanda"));
    edFiltroComanda_->setMaxLength(16);
    filtros->addWidget(edFiltroComanda_);
    filtros->addWidget(new QLabel(QStringLiteral("Equip.:"), this));
    cbFiltroTerminal_ = new QComboBox(this);
    cbFiltroTerminal_->setObjectName(QStringLiteral("cbFiltroTerminal"));
    filtros->addWidget(cbFiltroTerminal_);
    filtros->addWidget(new QLabel(QStringLiteral("Estado:"), this));
    cbFiltroEstado_ = new QComboBox(this);
    cbFiltroEstado_->setObjectName(QStringLiteral("cbFiltroEstado"));
    filtros->addWidget(cbFiltroEstado_);
    filtros->addStretch(1);
    btAtualizar_ = new QPushButton(QStringLiteral("Atualizar"), this);
    btAtualizar_->setObjectName(QStringLiteral("btAtualizar"));
    filtros->addWidget(btAtualizar_);

    // A card's story across every night of the folder.
    auto* busca = new QHBoxLayout;
    direita->addLayout(busca);
    busca->addWidget(new QLabel(ToQString("Comanda em todas as noites:"), this));
    edBuscaComanda_ = new QLineEdit(this);
    edBuscaComanda_->setObjectName(QStringLiteral("edBuscaComanda"));
    edBuscaComanda_->setMaxLength(16);
    busca->addWidget(edBuscaComanda_);
    btBuscar_ = new QPushButton(QStringLiteral("Buscar"), this);
    btBuscar_->setObjectName(QStringLiteral("btBuscar"));
    busca->addWidget(btBuscar_);
    busca->addStretch(1);

    auto* resumo = new QHBoxLayout;
    direita->addLayout(resumo);
    lbResumo_ = new QLabel(this);
    lbResumo_->setObjectName(QStringLiteral("lbResumo"));
    resumo->addWidget(lbResumo_, 1);
    // Moving while a large night is read: the window is not stuck, it is reading.
    pbCarregando_ = new QProgressBar(this);
    pbCarregando_->setObjectName(QStringLiteral("pbCarregando"));
    pbCarregando_->setRange(0, 0);
    pbCarregando_->setMaximumWidth(160);
    pbCarregando_->setTextVisible(false);
    pbCarregando_->hide();
    resumo->addWidget(pbCarregando_);

    auto* divisor = new QSplitter(Qt::Vertical, this);
    direita->addWidget(divisor, 1);
    grdRegistros_ = new QTableView(divisor);
    grdRegistros_->setObjectName(QStringLiteral("grdRegistros"));
    modelo_ = new TModeloRegistros(this);
    grdRegistros_->setModel(modelo_);
    grdRegistros_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdRegistros_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A hundred thousand rows: fixed heights, so that nothing measures every row.
    grdRegistros_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdRegistros_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    grdRegistros_->verticalHeader()->hide();
    grdRegistros_->horizontalHeader()->setStretchLastSection(true);
    grdRegistros_->setColumnWidth(0, 150);
    grdRegistros_->setColumnWidth(1, 140);
    grdRegistros_->setColumnWidth(2, 150);

    auto* baixo = new QWidget(divisor);
    auto* linhaBaixo = new QHBoxLayout(baixo);
    linhaBaixo->setContentsMargins(0, 0, 0, 0);
    grdTotais_ = new QTableWidget(0, 5, baixo);
    grdTotais_->setObjectName(QStringLiteral("grdTotais"));
    grdTotais_->setHorizontalHeaderLabels({QStringLiteral("Grupo"), QStringLiteral("Item"),
                                           QStringLiteral("Registros"), QStringLiteral("Liberado"),
                                           QStringLiteral("Bloqueado")});
    grdTotais_->verticalHeader()->hide();
    grdTotais_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTotais_->setMinimumWidth(360);
    grdTotais_->horizontalHeader()->setDefaultSectionSize(64);
    grdTotais_->setColumnWidth(0, 52);
    grdTotais_->setColumnWidth(1, 90);
    grdTotais_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    linhaBaixo->addWidget(grdTotais_);
    grafHoras_ = new TGraficoHoras(baixo);
    linhaBaixo->addWidget(grafHoras_, 1);
    divisor->setStretchFactor(0, 3);
    divisor->setStretchFactor(1, 2);

    auto* botoes = new QHBoxLayout;
    direita->addLayout(botoes);
    botoes->addStretch(1);
    btExportarRegistros_ = new QPushButton(QStringLiteral("Exportar Registros (CSV)..."), this);
    btExportarRegistros_->setObjectName(QStringLiteral("btExportarRegistros"));
    botoes->addWidget(btExportarRegistros_);
    btExportarTotais_ = new QPushButton(QStringLiteral("Exportar Totais (CSV)..."), this);
    btExportarTotais_->setObjectName(QStringLiteral("btExportarTotais"));
    botoes->addWidget(btExportarTotais_);

    PerguntaArquivo = [this](const QString& sugestao) {
        return QFileDialog::getSaveFileName(this, ToQString("Exportar"), sugestao,
                                            QStringLiteral("CSV (*.csv)"));
    };

    // One night, or with Shift or Ctrl several: the range from the oldest to the newest.
    lbDias_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(lbDias_, &QListWidget::itemSelectionChanged, this, [this] {
        common::GuardEntryPoint([this] {
            std::optional<common::DateTime> de, ate;
            for (int i = 0; i < lbDias_->count() && i < static_cast<int>(dias_.size()); ++i) {
                if (!lbDias_->item(i)->isSelected()) continue;
                const common::DateTime d = dias_[static_cast<size_t>(i)].dia;
                if (!de || d < *de) de = d;
                if (!ate || d > *ate) ate = d;
            }
            if (de) AbreNoites(*de, *ate);
        });
    });
    connect(btAtualizar_, &QPushButton::clicked, this, [this] {
        common::GuardEntryPoint([this] {
            AtualizaDias();
            if (!diaAberto_.IsZero()) AbreNoites(diaAberto_, ateAberto_);
        });
    });
    const auto buscar = [this] {
        common::GuardEntryPoint([this] {
            const std::string parte = FromQString(edBuscaComanda_->text().trimmed());
            if (!parte.empty()) BuscaEmTodas(parte);
        });
    };
    connect(btBuscar_, &QPushButton::clicked, this, buscar);
    connect(edBuscaComanda_, &QLineEdit::returnPressed, this, buscar);
    auto filtrar = [this] { common::GuardEntryPoint([this] { AplicaFiltros(); }); };
    connect(edFiltroComanda_, &QLineEdit::textChanged, this, filtrar);
    connect(cbFiltroTerminal_, &QComboBox::currentIndexChanged, this, filtrar);
    connect(cbFiltroEstado_, &QComboBox::currentIndexChanged, this, filtrar);
    connect(btExportarRegistros_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { Exporta(false); }); });
    connect(btExportarTotais_, &QPushButton::clicked, this,
            [this] { common::GuardEntryPoint([this] { Exporta(true); }); });
    AtualizaDias();
}

void TformHistoricos::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    AtualizaDias();
}

void TformHistoricos::AtualizaDias() {
    dias_ = DiasComHistorico(pasta_, LePastaParceira(pasta_));
    const QSignalBlocker bloqueio(lbDias_);
    lbDias_->clear();
    for (const DiaArquivo& d : dias_) {
        lbDias_->addItem(TextoDia(d.dia));
        if (d.dia == diaAberto_) lbDias_->setCurrentRow(lbDias_->count() - 1);
    }
}

TformHistoricos::~TformHistoricos() {
    if (!carga_) return;
    carga_->wait();
    delete carga_;
}

bool TformHistoricos::AbreDia(common::DateTime dia) { return AbreNoites(dia, dia); }

bool TformHistoricos::AbreNoites(common::DateTime de, common::DateTime ate) {
    bool alguma = false;
    {
        // The list shows what is open, without asking for it again.
        const QSignalBlocker bloqueio(lbDias_);
        for (size_t i = 0; i < dias_.size(); ++i) {
            const bool dentro = dias_[i].dia >= de && dias_[i].dia <= ate;
            alguma |= dentro;
            if (auto* item = lbDias_->item(static_cast<int>(i))) item->setSelected(dentro);
            if (dias_[i].dia == ate)
                lbDias_->setCurrentRow(static_cast<int>(i), QItemSelectionModel::NoUpdate);
        }
    }
    if (!alguma) return false;
    diaAberto_ = de;
    ateAberto_ = ate;
    Pede({de, ate, std::nullopt},
         QStringLiteral("Carregando ") + TextoDia(de) +
             (de == ate ? QString() : QStringLiteral(" a ") + TextoDia(ate)) +
             QStringLiteral("..."));
    return true;
}

void TformHistoricos::BuscaEmTodas(const std::string& parte) {
    {
        // No night is what is shown: a click on any opens it again.
        const QSignalBlocker bloqueio(lbDias_);
        lbDias_->clearSelection();
    }
    Pede({{}, {}, parte}, ToQString("Buscando a comanda " + parte + " em todas as noites..."));
}

void TformHistoricos::Pede(const Pedido& pedido, const QString& rotulo) {
    // Nothing of what was shown may stay on screen beside what is being read, or a failure.
    modelo_->Define(nullptr, nullptr);
    mostradas_.clear();
    dia_ = {};
    lbResumo_->setText(rotulo);
    pbCarregando_->show();
    if (carga_) {
        proximo_ = pedido;  // read when the one under way ends; its rows are not shown
    } else {
        Carrega(pedido);
    }
}

// What the reading thread hands over: the day, and what showing it would cost the window's
// thread at a million rows (tens of milliseconds) made ready with the filters as they were.
struct DiaLido {
    DiaHistorico dia;
    std::string erro;
    std::string resumo;              // a search's line above the rows (Windows-1252)
    std::string falhaParceira;       // why the partner PC's rows are missing, when they are
    std::vector<int32_t> terminais;  // the day's terminal numbers, each once, in order
    FiltroHistorico filtro;
    std::vector<int> mostradas;
    TotaisHistorico totais;
};

namespace {

bool MesmoFiltro(const FiltroHistorico& a, const FiltroHistorico& b) {
    return a.cracha == b.cracha && a.terminal == b.terminal && a.estado == b.estado;
}

}  // namespace

void TformHistoricos::Carrega(const Pedido& pedido) {
    auto lido = std::make_shared<DiaLido>();
    lido->filtro = FiltroAtual();
    // The cut hour as the receiver of this folder keeps it, read again for each night.
    const int horaCorte = LeHoraCorte(pasta_ / "Config.ini");
    const std::filesystem::path parceira = LePastaParceira(pasta_);
    carga_ = QThread::create([pasta = pasta_, parceira, pedido, horaCorte, lido] {
        try {
            if (pedido.busca) {
                const auto achados =
                    BuscaComanda(pasta, *pedido.busca, horaCorte, parceira, &lido->falhaParceira);
                lido->dia = DiaDaBusca(achados);
                std::set<int64_t> noites;
                for (const Achado& a : achados) noites.insert(a.noite.Ms());
                lido->resumo = std::to_string(achados.size()) +
                               (achados.size() == 1 ? " registro" : " registros") + " da comanda " +
                               *pedido.busca + " em " + std::to_string(noites.size()) +
                               (noites.size() == 1 ? " noite" : " noites") +
                               ", os mais novos primeiro";
            } else {
                lido->dia = LeFaixaDeNoites(pasta, pedido.de, pedido.ate, horaCorte, parceira,
                                            &lido->falhaParceira);
            }
        } catch (const common::Exception& e) {
            lido->erro = e.Message();
        } catch (const std::exception& e) {
            lido->erro = e.what();
        }
        for (const LinhaHistorico& l : lido->dia.linhas) lido->terminais.push_back(l.terminal);
        std::sort(lido->terminais.begin(), lido->terminais.end());
        lido->terminais.erase(std::unique(lido->terminais.begin(), lido->terminais.end()),
                              lido->terminais.end());
        lido->mostradas = FiltraHistorico(lido->dia, lido->filtro);
        lido->totais = Totaliza(lido->dia, lido->mostradas);
    });
    // Queued to this window's thread: the rows are taken over where the window lives.
    connect(carga_, &QThread::finished, this, [this, lido] {
        common::GuardEntryPoint([&] {
            // Signalled just before its thread ends: that end is a moment away.
            carga_->wait();
            delete std::exchange(carga_, nullptr);
            if (proximo_) {
                const Pedido seguinte = *std::exchange(proximo_, std::nullopt);
                Carrega(seguinte);
                return;
            }
            pbCarregando_->hide();
            Mostra(*lido);
        });
    });
    carga_->start(QThread::LowPriority);
}

void TformHistoricos::Mostra(DiaLido& lido) {
    dia_ = std::move(lido.dia);
    std::vector<std::pair<QString, QVariant>> terminais, estados;
    for (int32_t n : lido.terminais) {
        terminais.emplace_back(ToQString(n == kSemTerminal ? "(nenhum)" : TextoTerminal(n)), n);
    }
    for (const std::string& e : dia_.estados) estados.emplace_back(ToQString(e), ToQString(e));
    Preenche(cbFiltroTerminal_, terminais);
    Preenche(cbFiltroEstado_, estados);
    // A filter the new day has no such value for is back at "all": then it is applied here.
    if (MesmoFiltro(FiltroAtual(), lido.filtro)) {
        mostradas_ = std::move(lido.mostradas);
        totais_ = std::move(lido.totais);
        MostraFiltradas();
    } else {
        AplicaFiltros();
    }
    if (!lido.resumo.empty()) lbResumo_->setText(ToQString(lido.resumo));
    if (!lido.falhaParceira.empty()) {
        lbResumo_->setText(
            lbResumo_->text() +
            ToQString(" (sem os registros do outro computador: " + lido.falhaParceira + ")"));
    }
    if (!lido.erro.empty()) lbResumo_->setText(ToQString("Erro: " + lido.erro));
}

FiltroHistorico TformHistoricos::FiltroAtual() const {
    FiltroHistorico f;
    f.cracha = FromQString(edFiltroComanda_->text());
    if (cbFiltroTerminal_->currentIndex() > 0)
        f.terminal = cbFiltroTerminal_->currentData().toInt();
    if (cbFiltroEstado_->currentIndex() > 0)
        f.estado = FromQString(cbFiltroEstado_->currentData().toString());
    return f;
}

void TformHistoricos::AplicaFiltros() {
    if (carga_) return;  // the filters apply to the day once it has been read
    mostradas_ = FiltraHistorico(dia_, FiltroAtual());
    totais_ = Totaliza(dia_, mostradas_);
    MostraFiltradas();
}

void TformHistoricos::MostraFiltradas() {
    modelo_->Define(&dia_, &mostradas_);
    MostraTotais();
    std::error_code erro;
    const auto quando = std::filesystem::last_write_time(dia_.arquivo, erro);
    QString gravado;
    if (!erro) {
        const auto sistema = std::chrono::file_clock::to_sys(quando);
        gravado = QDateTime::fromSecsSinceEpoch(
                      std::chrono::duration_cast<std::chrono::seconds>(sistema.time_since_epoch())
                          .count())
                      .toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    lbResumo_->setText(
        ToQString(std::to_string(mostradas_.size()) + " de " + std::to_string(dia_.linhas.size()) +
                  " registros") +
        (gravado.isEmpty() ? QString() : ToQString(" (arquivo gravado em ") + gravado + ")"));
}

void TformHistoricos::MostraTotais() {
    std::vector<std::tuple<std::string, std::string, Contagem>> linhas;
    linhas.emplace_back("Total", "", totais_.geral);
    for (const auto& [texto, n] : totais_.porEstado) {
        Contagem c;
        c.total = n;
        if (texto == estado::kLiberado) c.liberado = n;
        if (texto == estado::kBloqueado) c.bloqueado = n;
        linhas.emplace_back("Estado", texto, c);
    }
    for (const auto& [terminal, c] : totais_.porTerminal) {
        linhas.emplace_back("Equip.",
                            terminal == kSemTerminal ? "(nenhum)" : TextoTerminal(terminal), c);
    }
    grdTotais_->setRowCount(static_cast<int>(linhas.size()));
    for (int i = 0; i < static_cast<int>(linhas.size()); ++i) {
        const auto& [grupo, item, c] = linhas[static_cast<size_t>(i)];
        const QString textos[] = {ToQString(grupo), ToQString(item), QString::number(c.total),
                                  QString::number(c.liberado), QString::number(c.bloqueado)};
        for (int col = 0; col < 5; ++col) {
            grdTotais_->setItem(i, col, new QTableWidgetItem(textos[col]));
        }
    }
    std::array<int, 24> saidas{};
    for (size_t h = 0; h < 24; ++h) saidas[h] = totais_.porHora[h].liberado;
    grafHoras_->Define(saidas, totais_.primeiraHora);
}

void TformHistoricos::ExportaRegistros(const std::filesystem::path& arquivo) const {
    common::ReplaceFileContents(arquivo, CsvLinhas(dia_, mostradas_));
}

void TformHistoricos::ExportaTotais(const std::filesystem::path& arquivo) const {
    common::ReplaceFileContents(arquivo, CsvTotais(totais_));
}

QString TformHistoricos::Sugestao(const char* tipo) const {
    QString pasta = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (pasta.isEmpty()) pasta = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return pasta + QStringLiteral("/") + QString::fromLatin1(tipo) + QStringLiteral("_") +
           QString::fromStdString(diaAberto_.Format("yyyy-mm-dd")) + QStringLiteral(".csv");
}

void TformHistoricos::Exporta(bool totais) {
    if (diaAberto_.IsZero()) return;
    const QString escolhido = PerguntaArquivo(Sugestao(totais ? "totais" : "registros"));
    if (escolhido.isEmpty()) return;
    const std::filesystem::path arquivo = QFile::encodeName(escolhido).toStdString();
    if (totais) {
        ExportaTotais(arquivo);
    } else {
        ExportaRegistros(arquivo);
    }
}

}  // namespace lumora
