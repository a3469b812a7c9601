// A Qt table model over an in-memory table: the rows a grid shows, including the record being
// inserted.
#pragma once

#include <QAbstractTableModel>
#include <optional>
#include <string>
#include <vector>

#include "common/qt/DataSource.h"

namespace common::qt {

struct GridColumn {
    GridColumn(int field, std::string title, int width, bool readOnly = true,
               std::string format = {})
        : field(field),
          title(std::move(title)),
          width(width),
          readOnly(readOnly),
          format(std::move(format)) {}

    int field = 0;
    std::string title;  // Windows-1252
    int width = 64;     // pixels
    bool readOnly = true;
    // Date-time fields: the pattern of DateTime::Format; empty uses the table's own text.
    std::string format;
};

// Rows are the stored records in the table's order; in insert state the open new record is
// shown at its place among them, in edit state the current row shows the open record. The
// vertical header carries the record indicator: ">" current, "*" being inserted, "I" being
// edited.
class TableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    TableModel(DataSource& source, std::vector<GridColumn> columns, QObject* parent = nullptr);

    MemTable& Table() const { return source_.Table(); }
    const std::vector<GridColumn>& Columns() const { return columns_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Puts the table into edit state when it is browsing, then sets the field from the text.
    // A failure goes to the unhandled-failure box and nothing is set.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The row that shows the table's current record (the insert row while inserting), or -1.
    int CurrentRow() const;
    // The stored position a row shows, or -1 for the insert row.
    int StoredPosition(int row) const;
    // The identity (MemTable::EntryId) of the stored record a row shows, none for the insert
    // row: it stays the record's while records move.
    std::optional<uint64_t> StoredId(int row) const;
    // Position of a stored record, or -1 when it is gone.
    int PositionOf(uint64_t id) const;
    // Text width limit of a column's field (0 = none).
    int FieldWidth(int column) const;
    // Whether a view shows the rows. While none does, the model does not follow traffic's
    // changes one by one (every row a view is told of costs it work on all rows it holds: a
    // night's history, newest first, moves them all for each new row): it keeps its rows as
    // they were and catches up with one reset when shown again. Any other change is followed
    // at once, catching up first, so the operator never meets a model that is behind.
    void SetShown(bool shown);
    // While a view holds traffic's changes back from the screen, rows that traffic adds,
    // removes or moves are not told to it one by one either: the model catches up with one
    // reset when the view lets go.
    void SetHeld(bool held);

  public slots:
    void Refresh();

  signals:
    // The record indicator left row `from` and is now on row `to`, possibly the same row with
    // another state (either may be -1). Not a
    // header data change: views answer that by laying out and painting every row again, which
    // at a card read per few milliseconds is most of the program's work. Views that show the
    // indicator repaint those two header sections.
    void indicatorMoved(int from, int to);

  private:
    FieldValue ValueAt(int row, int field) const;
    QString Text(int row, const GridColumn& column) const;
    int LiveRowCount() const;
    void CatchUp();

    // Shows the record indicator again where it was and where it is.
    void ShowIndicator();

    DataSource& source_;
    std::vector<GridColumn> columns_;
    int rows_ = 0;
    uint64_t seenChanges_ = 0;  // the table's change count last followed
    int indicatorRow_ = -1;     // the row whose header shows the indicator
    bool shown_ = true;
    bool held_ = false;
    bool behind_ = false;  // traffic's changes not followed while hidden
};

}  // namespace common::qt
