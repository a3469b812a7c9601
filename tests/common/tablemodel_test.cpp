// The grid model follows a table change by change: what it shows always equals the table, and
// a card read (a cursor move) or a new history row touches one or two rows, never all of them.
#include "common/qt/TableModel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <functional>
#include <random>

#include "common/TrafficChanges.h"
#include "common/qt/DataSource.h"
#include "common/qt/DbGrid.h"
#include "common/qt/TraducaoQt.h"

namespace {

using common::FieldDef;
using common::FieldType;
using common::MemTable;
using common::qt::DataSource;
using common::qt::GridColumn;
using common::qt::TableModel;

std::vector<std::string> Mostrado(const TableModel& m) {
    std::vector<std::string> r;
    for (int i = 0; i < m.rowCount(); ++i)
        r.push_back(m.index(i, 0).data().toString().toStdString() + "|" +
                    m.headerData(i, Qt::Vertical, Qt::DisplayRole).toString().toStdString());
    return r;
}

// What the grid should show: the rows in order with the open record at its place, and the
// indicator of the current row.
std::vector<std::string> Esperado(const MemTable& t) {
    std::vector<std::string> r;
    if (!t.Active()) return r;
    for (int i = 0; i < t.RecordCount(); ++i) r.push_back(std::get<std::string>(t.RowAt(i)[0]));
    int atual = t.RecNo();
    if (t.State() == common::TableState::Insert) {
        r.insert(r.begin() + t.InsertPosition(), t.IsNull(0) ? "" : t.AsString(0));
        atual = t.InsertPosition();
    } else if (t.State() == common::TableState::Edit && atual >= 0) {
        r[atual] = t.AsString(0);
    }
    for (int i = 0; i < static_cast<int>(r.size()); ++i) {
        const char* marca = "";
        if (i == atual)
            marca = t.State() == common::TableState::Insert ? "*"
                    : t.State() == common::TableState::Edit ? "I"
                                                            : ">";
        r[i] += std::string("|") + marca;
    }
    return r;
}

TEST(TableModel, FollowsEveryChangeOfASortedAndAnUnsortedTable) {
    for (bool ordenada : {true, false}) {
        SCOPED_TRACE(ordenada ? "sorted" : "unsorted");
        MemTable t("t", {FieldDef{"k", FieldType::Text, 8, ""}});
        if (ordenada)
            t.SetSortOrder(0, true);
        else
            t.SetUnsorted();
        t.Open();
        DataSource fonte(t);
        TableModel modelo(fonte, {GridColumn(0, "K", 60)});
        // A real view follows the model's notices the whole time.
        QTableView vista;
        vista.setModel(&modelo);
        vista.show();
        std::mt19937 sorte(ordenada ? 3 : 4);
        for (int passo = 0; passo < 600; ++passo) {
            switch (sorte() % 9) {
                case 0:
                case 1:
                    t.Insert();
                    t.SetString(0, std::to_string(sorte() % 1000));
                    if (sorte() % 4) t.Post();
                    break;
                case 2:
                    t.Append();
                    break;
                case 3:
                    if (t.RecordCount() > 0) t.MoveTo(static_cast<int>(sorte() % t.RecordCount()));
                    break;
                case 4:
                    if (t.RecordCount() > 0 || t.State() == common::TableState::Insert) t.Delete();
                    break;
                case 5:
                    if (t.RecordCount() > 0 && t.State() == common::TableState::Browse) {
                        t.Edit();
                        t.SetString(0, std::to_string(sorte() % 1000));
                        if (sorte() % 3)
                            t.Post();
                        else
                            t.Cancel();
                    }
                    break;
                case 6:
                    t.Cancel();
                    break;
                case 7:
                    if (sorte() % 20 == 0) t.Empty();
                    break;
                case 8:
                    t.Next();
                    break;
            }
            ASSERT_EQ(Mostrado(modelo), Esperado(t)) << "step " << passo;
            if (passo % 50 == 0) QCoreApplication::processEvents();
            ASSERT_EQ(vista.verticalHeader()->count(), modelo.rowCount());
        }
    }
}

TEST(TableModel, ACardReadOrANewRowTouchesOnlyItsRows) {
    MemTable t("t", {FieldDef{"k", FieldType::Text, 8, ""}});
    t.SetSortOrder(0, true);
    std::vector<common::Row> linhas;
    for (int i = 0; i < 5000; ++i)
        linhas.push_back({common::FieldValue(std::to_string(100000 + i))});
    t.Load(std::move(linhas));
    DataSource fonte(t);
    TableModel modelo(fonte, {GridColumn(0, "K", 60)});
    QSignalSpy reset(&modelo, &QAbstractItemModel::modelReset);
    QSignalSpy dados(&modelo, &QAbstractItemModel::dataChanged);
    QSignalSpy cabecalho(&modelo, &QAbstractItemModel::headerDataChanged);
    QSignalSpy indicador(&modelo, &TableModel::indicatorMoved);
    ASSERT_TRUE(t.FindKey("102500"));
    // A header data change makes every view lay out and paint all its rows again.
    EXPECT_EQ(cabecalho.count(), 0);
    ASSERT_EQ(indicador.count(), 1);
    EXPECT_EQ(indicador[0][0].toInt(), 0);
    EXPECT_EQ(indicador[0][1].toInt(), t.RecNo());
    t.Insert();
    t.SetString(0, "999999");
    t.Post();
    EXPECT_EQ(reset.count(), 0);
    for (const auto& sinal : dados) {
        EXPECT_EQ(sinal[0].toModelIndex().row(), sinal[1].toModelIndex().row());
    }
    for (const auto& sinal : cabecalho) EXPECT_EQ(sinal[1].toInt(), sinal[2].toInt());
    EXPECT_EQ(modelo.rowCount(), 5001);
    EXPECT_EQ(Mostrado(modelo)[0], "999999|>");
}

TEST(DbGrid, AGridNotShownCatchesUpWhenShown) {
    MemTable t("t", {FieldDef{"k", FieldType::Text, 8, ""}});
    t.SetSortOrder(0);
    t.Load({{common::FieldValue(std::string("a"))},
            {common::FieldValue(std::string("b"))},
            {common::FieldValue(std::string("c"))}});
    DataSource fonte(t);
    common::qt::DbGrid grade;
    grade.Bind(fonte, {GridColumn(0, "K", 60)}, true);
    grade.show();
    t.MoveTo(1);
    EXPECT_EQ(grade.currentIndex().row(), 1);
    grade.hide();
    t.MoveTo(2);
    t.Insert();
    t.SetString(0, "0");
    t.Post();  // stored first
    grade.show();
    EXPECT_EQ(grade.currentIndex().row(), 0);
    EXPECT_TRUE(grade.selectionModel()->isRowSelected(0, {}));

    // Traffic's new rows while nobody looks: the view hears nothing of them one by one...
    grade.hide();
    const int antes = grade.verticalHeader()->count();
    {
        const common::TrafficChanges trafego;
        for (const char* k : {"1", "2", "3"}) {
            t.Insert();
            t.SetString(0, k);
            t.Post();
        }
    }
    EXPECT_EQ(grade.verticalHeader()->count(), antes);
    // ...but any other change finds the model caught up, and so does the view when shown.
    t.MoveTo(1);
    EXPECT_EQ(grade.verticalHeader()->count(), t.RecordCount());
    EXPECT_EQ(Mostrado(*grade.Model()), Esperado(t));
    {
        const common::TrafficChanges trafego;
        t.Insert();
        t.SetString(0, "4");
        t.Post();
    }
    grade.show();
    EXPECT_EQ(grade.verticalHeader()->count(), t.RecordCount());
    EXPECT_EQ(Mostrado(*grade.Model()), Esperado(t));
    EXPECT_EQ(grade.currentIndex().row(), t.RecNo());
}

// Counts the paint events a widget gets and the rows of area they cover.
class ContaPinturas : public QObject {
  public:
    explicit ContaPinturas(QWidget* w) : alvo_(w) { w->installEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == alvo_ && e->type() == QEvent::Paint) {
            ++vezes;
            if (static_cast<QPaintEvent*>(e)->rect().height() >= alvo_->height()) ++inteiras;
        }
        return false;
    }
    int vezes = 0;
    int inteiras = 0;  // covering the whole height

  private:
    QWidget* alvo_;
};

MemTable Cartoes(int n) {
    MemTable t("t", {FieldDef{"k", FieldType::Text, 8, ""}});
    t.SetSortOrder(0);
    std::vector<common::Row> linhas;
    for (int i = 0; i < n; ++i) linhas.push_back({common::FieldValue(std::to_string(100000 + i))});
    t.Load(std::move(linhas));
    return t;
}

// A grid of 200x300 pixels over `fonte`, shown.
void Mostra(common::qt::DbGrid& grade, DataSource& fonte) {
    grade.Bind(fonte, {GridColumn(0, "K", 60)}, true);
    grade.resize(200, 300);
    grade.show();
    QCoreApplication::processEvents();
}

// Makes `mudanca` (given its number) as a terminal's message would, every few milliseconds
// for 0.6 s, with the event loop running in between.
struct Rajada {
    int mudancas = 0;
    int passos = 0;  // how many pacing periods went by
};
Rajada SobTrafego(const std::function<void(int)>& mudanca) {
    QElapsedTimer relogio;
    relogio.start();
    Rajada r;
    while (relogio.elapsed() < 600) {
        {
            const common::TrafficChanges trafego;
            mudanca(r.mudancas);
        }
        ++r.mudancas;
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    r.passos = static_cast<int>(relogio.elapsed() / common::qt::DbGrid::kTrafficPaceMs);
    return r;
}

// The indicator moving inside the visible rows repaints the two header sections, not the grid;
// its column keeps its width whichever row and state it shows.
TEST(DbGrid, TheIndicatorRepaintsItsTwoSectionsOnly) {
    MemTable t = Cartoes(50);
    DataSource fonte(t);
    common::qt::DbGrid grade;
    grade.SetIndicator(true);
    Mostra(grade, fonte);
    const int largura = grade.verticalHeader()->width();
    EXPECT_GE(largura, grade.fontMetrics().horizontalAdvance(QStringLiteral("*")));
    ContaPinturas celulas(grade.viewport());
    ContaPinturas cabecalho(grade.verticalHeader()->viewport());
    ASSERT_TRUE(t.FindKey("100003"));
    QCoreApplication::processEvents();
    // The grid follows the operator's move at once: the old and new rows' cells, one pass.
    EXPECT_EQ(celulas.inteiras, 0);
    EXPECT_GE(cabecalho.vezes, 1);
    EXPECT_EQ(cabecalho.inteiras, 0);
    EXPECT_EQ(grade.Model()->headerData(3, Qt::Vertical, Qt::DisplayRole).toString(),
              QStringLiteral(">"));
    t.Edit();
    QCoreApplication::processEvents();
    EXPECT_EQ(grade.Model()->headerData(3, Qt::Vertical, Qt::DisplayRole).toString(),
              QStringLiteral("I"));
    EXPECT_EQ(celulas.inteiras, 0);
    t.Cancel();
    EXPECT_EQ(grade.verticalHeader()->width(), largura);
}

// Terminal traffic moving the cursor a hundred times a second: the grid follows a few times a
// second and shows where the cursor is at the end, while the operator's own moves are followed
// at once.
TEST(DbGrid, TrafficMovesAreFollowedAtACalmPace) {
    MemTable t = Cartoes(20000);
    DataSource fonte(t);
    common::qt::DbGrid grade;
    Mostra(grade, fonte);
    ContaPinturas celulas(grade.viewport());
    std::mt19937 sorte(7);
    std::string ultimo;
    const Rajada r = SobTrafego([&](int) {
        ultimo = std::to_string(100000 + sorte() % 20000);
        EXPECT_TRUE(t.FindKey(ultimo));
    });
    ASSERT_GT(r.mudancas, 20);
    // Scrolling to each card would repaint the whole grid each time.
    EXPECT_LE(celulas.inteiras, 2 * (r.passos + 1)) << r.mudancas << " moves";
    QTest::qWait(common::qt::DbGrid::kTrafficPaceMs + 50);
    EXPECT_EQ(grade.currentIndex().row(), t.RecNo());
    EXPECT_EQ(grade.currentIndex().data().toString().toStdString(), ultimo);
    // The operator's moves, however quick, are shown at once.
    for (const char* chave : {"100010", "119990", "100500"}) {
        ASSERT_TRUE(t.FindKey(chave));
        EXPECT_EQ(grade.currentIndex().data().toString().toStdString(), chave);
    }
}

// A history shown newest first at peak: every new row moves all rows down. What traffic adds
// is painted a few times a second, and the grid then shows every row; an operator's change in
// between is painted at once.
TEST(DbGrid, TrafficRowsArePaintedAtACalmPace) {
    MemTable t("t", {FieldDef{"k", FieldType::Text, 8, ""}});
    t.SetSortOrder(0, /*descending=*/true);
    t.Load({});
    DataSource fonte(t);
    common::qt::DbGrid grade;
    Mostra(grade, fonte);
    ContaPinturas celulas(grade.viewport());
    // Each row a view is told of costs it work on every row it holds: the rows are told at
    // the pace of the painting too.
    QSignalSpy inseridas(grade.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy refeitas(grade.model(), &QAbstractItemModel::modelReset);
    const Rajada r = SobTrafego([&](int n) {
        t.Insert();
        t.SetString(0, std::to_string(100000 + n));
        t.Post();
    });
    const int linhas = r.mudancas;
    ASSERT_GT(linhas, 20);
    EXPECT_LE(celulas.vezes, 2 * (r.passos + 1)) << linhas << " rows";
    EXPECT_LE(inseridas.count() + refeitas.count(), 2 * (r.passos + 1)) << linhas << " rows";
    // ...but painted while the traffic lasts, not only once it stops.
    EXPECT_GE(celulas.vezes, 1);
    QTest::qWait(common::qt::DbGrid::kTrafficPaceMs + 50);
    EXPECT_TRUE(grade.updatesEnabled());
    EXPECT_EQ(grade.model()->rowCount(), linhas);
    EXPECT_EQ(grade.currentIndex().row(), 0);
    EXPECT_EQ(grade.currentIndex().data().toString().toStdString(),
              std::to_string(100000 + linhas - 1));

    // Traffic, then at once the operator: the grid is painted for the operator's change.
    {
        const common::TrafficChanges trafego;
        t.Insert();
        t.SetString(0, "200000");
        t.Post();
    }
    {
        const common::TrafficChanges trafego;
        t.Insert();
        t.SetString(0, "200001");
        t.Post();
    }
    EXPECT_FALSE(grade.updatesEnabled());
    t.Last();
    EXPECT_TRUE(grade.updatesEnabled());
    EXPECT_EQ(grade.currentIndex().row(), t.RecNo());
    celulas.vezes = 0;
    QTest::qWait(50);
    EXPECT_GE(celulas.vezes, 1);
}

}  // namespace

// Qt's standard buttons and dialogs speak the programs' language, from Debian's translations.
TEST(TraducaoQt, StandardButtonsAndDialogsAreInPortuguese) {
    ASSERT_TRUE(common::qt::InstalaTraducaoQt()) << "qt6-translations-l10n missing";
    EXPECT_TRUE(common::qt::InstalaTraducaoQt());  // once is enough
    QMessageBox caixa(QMessageBox::Question, QStringLiteral("Aten\u00e7\u00e3o"), QString(),
                      QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(caixa.button(QMessageBox::Yes)->text().remove('&'), QStringLiteral("Sim"));
    EXPECT_EQ(caixa.button(QMessageBox::No)->text().remove('&'), QString::fromUtf8("N\xC3\xA3o"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("Salvar como"));
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
