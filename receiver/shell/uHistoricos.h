// The past-nights window: any day's history file, read only, with filters, totals, exits per
// hour and CSV export.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "receiver/control/HistoricoDias.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableView;
class QTableWidget;
class QThread;

namespace lumora {

// The shown rows of a day, straight from the compact rows: no copy per row.
class TModeloRegistros : public QAbstractTableModel {
    Q_OBJECT
  public:
    using QAbstractTableModel::QAbstractTableModel;
    void Define(const DiaHistorico* dia, const std::vector<int>* linhas);
    int rowCount(const QModelIndex& pai = {}) const override;
    int columnCount(const QModelIndex& pai = {}) const override;
    QVariant data(const QModelIndex& indice, int papel) const override;
    QVariant headerData(int secao, Qt::Orientation orientacao, int papel) const override;

  private:
    const DiaHistorico* dia_ = nullptr;
    const std::vector<int>* linhas_ = nullptr;
};

// Exits ("Liberado" rows) per hour of the day as bars, painted plainly.
class TGraficoHoras : public QWidget {
    Q_OBJECT
  public:
    explicit TGraficoHoras(QWidget* parent = nullptr);
    // Values by hour of the day; the bars start at `primeiraHora`.
    void Define(const std::array<int, 24>& valores, int primeiraHora);
    const std::array<int, 24>& Valores() const { return valores_; }
    QSize sizeHint() const override { return {480, 150}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::array<int, 24> valores_{};
    int primeiraHora_ = 0;
};

struct DiaLido;

class TformHistoricos : public QWidget {
    Q_OBJECT
  public:
    explicit TformHistoricos(std::filesystem::path pastaPrograma, QWidget* parent = nullptr);
    // Waits for a day still being read.
    ~TformHistoricos() override;

    // The day files present, read again (the window's show does it too).
    void AtualizaDias();
    // Opens the day's file (read again when it is the one shown). False when there is none.
    // The file is read on a thread of its own, so that a large or damaged one never holds up
    // the terminals' replies; its rows appear when it has been read (Carregando).
    bool AbreDia(common::DateTime dia);
    // The nights from `de` to `ate` at once (the list's selection of several), night after
    // night. False when no night of the list lies in between.
    bool AbreNoites(common::DateTime de, common::DateTime ate);
    // Every row of every night whose card holds `parte` (Windows-1252), newest first.
    void BuscaEmTodas(const std::string& parte);
    // Whether a day's file is being read.
    bool Carregando() const { return carga_ != nullptr; }
    // The filters as the controls hold them, applied.
    void AplicaFiltros();
    // The shown rows and the totals to CSV files (the buttons ask for the file first).
    void ExportaRegistros(const std::filesystem::path& arquivo) const;
    void ExportaTotais(const std::filesystem::path& arquivo) const;
    // Asks for the file to export to; empty when the operator gave up. Tests answer it.
    std::function<QString(const QString& sugestao)> PerguntaArquivo;

    const DiaHistorico& Dia() const { return dia_; }
    const std::vector<int>& Mostradas() const { return mostradas_; }
    const TotaisHistorico& Totais() const { return totais_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // What is to be read: nights, or a card's rows across all of them.
    struct Pedido {
        common::DateTime de, ate;
        std::optional<std::string> busca;
    };
    void Pede(const Pedido& pedido, const QString& rotulo);
    void Carrega(const Pedido& pedido);
    void Mostra(DiaLido& lido);
    FiltroHistorico FiltroAtual() const;
    // The rows in mostradas_ and their totals, on screen.
    void MostraFiltradas();
    void MostraTotais();
    void Exporta(bool totais);
    QString Sugestao(const char* tipo) const;

    std::filesystem::path pasta_;
    std::vector<DiaArquivo> dias_;
    DiaHistorico dia_;
    common::DateTime diaAberto_;
    std::vector<int> mostradas_;
    TotaisHistorico totais_;
    // The read under way, and the file chosen meanwhile, read once it ends.
    QThread* carga_ = nullptr;
    std::optional<Pedido> proximo_;
    common::DateTime ateAberto_;

    QListWidget* lbDias_ = nullptr;
    QLineEdit* edFiltroComanda_ = nullptr;
    QComboBox* cbFiltroTerminal_ = nullptr;
    QComboBox* cbFiltroEstado_ = nullptr;
    QPushButton* btAtualizar_ = nullptr;
    QLineEdit* edBuscaComanda_ = nullptr;
    QPushButton* btBuscar_ = nullptr;
    QProgressBar* pbCarregando_ = nullptr;
    QPushButton* btExportarRegistros_ = nullptr;
    QPushButton* btExportarTotais_ = nullptr;
    QLabel* lbResumo_ = nullptr;
    QTableView* grdRegistros_ = nullptr;
    TModeloRegistros* modelo_ = nullptr;
    QTableWidget* grdTotais_ = nullptr;
    TGraficoHoras* grafHoras_ = nullptr;
};

}  // namespace lumora
