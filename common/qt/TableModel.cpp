// Table model over a MemTable: display texts, the record indicator, editing through the table.
#include "common/qt/TableModel.h"

#include "common/TrafficChanges.h"
#include "common/Unhandled.h"
#include "common/qt/Text1252Qt.h"

namespace common::qt {

TableModel::TableModel(DataSource& source, std::vector<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), source_(source), columns_(std::move(columns)) {
    rows_ = LiveRowCount();
    seenChanges_ = Table().ChangeCount();
    indicatorRow_ = CurrentRow();
    connect(&source_, &DataSource::changed, this, &TableModel::Refresh);
}

int TableModel::LiveRowCount() const {
    const MemTable& t = Table();
    if (!t.Active()) return 0;
    return t.RecordCount() + (t.State() == TableState::Insert ? 1 : 0);
}

void TableModel::SetShown(bool shown) {
    shown_ = shown;
    if (shown_ && !held_ && behind_) CatchUp();
}

void TableModel::SetHeld(bool held) {
    held_ = held;
    if (shown_ && !held_ && behind_) CatchUp();
}

namespace {

// A change that a view answers with work on every row it holds.
bool MovesRows(const TableChange& c) {
    switch (c.kind) {
        case TableChange::Kind::Shown:
        case TableChange::Kind::Gone:
        case TableChange::Kind::Reset:
            return true;
        case TableChange::Kind::Moved:
            return c.from != c.to;
        default:
            return false;
    }
}

}  // namespace

void TableModel::CatchUp() {
    beginResetModel();
    rows_ = LiveRowCount();
    seenChanges_ = Table().ChangeCount();
    behind_ = false;
    endResetModel();
    indicatorRow_ = CurrentRow();
}

void TableModel::Refresh() {
    const MemTable& t = Table();
    if (common::TrafficChanges::Active() && (!shown_ || held_)) {
        const bool nova = t.ChangeCount() != seenChanges_;
        // A view that is shown but held still follows the cursor and values cheaply.
        if (!shown_ || behind_ || (nova && MovesRows(t.LastChange()))) {
            behind_ = behind_ || nova || LiveRowCount() != rows_;
            return;
        }
    }
    if (behind_) {
        CatchUp();
        return;
    }
    const int live = LiveRowCount();
    if (t.ChangeCount() == seenChanges_) {
        // A change of state alone (a record opened for editing, or the state that comes just
        // before the records' own notice): only the indicator can have changed.
        if (live == rows_) ShowIndicator();
        return;
    }
    seenChanges_ = t.ChangeCount();
    // Only what changed is shown again: a grid over a day's history or a venue's card list
    // must not redo every row for each card read.
    const TableChange& c = t.LastChange();
    const int columns = columnCount();
    switch (c.kind) {
        case TableChange::Kind::Cursor:
            if (live != rows_) break;
            ShowIndicator();
            return;
        case TableChange::Kind::Shown:
            if (live != rows_ + 1 || c.from < 0 || c.from > rows_) break;
            beginInsertRows({}, c.from, c.from);
            rows_ = live;
            endInsertRows();
            ShowIndicator();
            return;
        case TableChange::Kind::Gone:
            if (live != rows_ - 1 || c.from < 0 || c.from >= rows_) break;
            beginRemoveRows({}, c.from, c.from);
            rows_ = live;
            endRemoveRows();
            ShowIndicator();
            return;
        case TableChange::Kind::Moved:
            if (live != rows_ || c.from < 0 || c.from >= rows_ || c.to < 0 || c.to >= rows_) break;
            if (c.from != c.to) {
                beginMoveRows({}, c.from, c.from, {}, c.to > c.from ? c.to + 1 : c.to);
                endMoveRows();
            }
            if (columns > 0) emit dataChanged(index(c.to, 0), index(c.to, columns - 1));
            ShowIndicator();
            return;
        case TableChange::Kind::Changed:
            if (live != rows_ || c.from < 0 || c.from >= rows_) break;
            if (columns > 0) emit dataChanged(index(c.from, 0), index(c.from, columns - 1));
            ShowIndicator();
            return;
        case TableChange::Kind::Reset:
            break;
    }
    if (live != rows_) {
        beginResetModel();
        rows_ = live;
        endResetModel();
        indicatorRow_ = CurrentRow();
        return;
    }
    if (rows_ > 0) {
        emit dataChanged(index(0, 0), index(rows_ - 1, columns - 1));
        emit headerDataChanged(Qt::Vertical, 0, rows_ - 1);
    }
    indicatorRow_ = CurrentRow();
}

void TableModel::ShowIndicator() {
    const int now = CurrentRow();
    const int before = indicatorRow_;
    indicatorRow_ = now;
    // Also when it stays on its row: the state it shows (browse, insert, edit) may have changed.
    emit indicatorMoved(before < rows_ ? before : -1, now < rows_ ? now : -1);
}

int TableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

int TableModel::StoredPosition(int row) const {
    const MemTable& t = Table();
    if (t.State() == TableState::Insert) {
        const int ins = t.InsertPosition();
        if (row == ins) return -1;
        return row > ins ? row - 1 : row;
    }
    return row;
}

std::optional<uint64_t> TableModel::StoredId(int row) const {
    const int pos = StoredPosition(row);
    if (pos < 0 || pos >= Table().RecordCount()) return std::nullopt;
    return Table().IdAt(pos);
}

int TableModel::PositionOf(uint64_t id) const {
    const MemTable& t = Table();
    if (!t.Active()) return -1;
    return t.PositionOfId(id);
}

int TableModel::CurrentRow() const {
    const MemTable& t = Table();
    if (!t.Active()) return -1;
    if (t.State() == TableState::Insert) return t.InsertPosition();
    return t.RecNo();
}

int TableModel::FieldWidth(int column) const {
    if (column < 0 || column >= static_cast<int>(columns_.size())) return 0;
    return Table().Fields()[columns_[column].field].width;
}

FieldValue TableModel::ValueAt(int row, int field) const {
    const MemTable& t = Table();
    const bool open = (t.State() == TableState::Insert && row == t.InsertPosition()) ||
                      (t.State() == TableState::Edit && row == t.RecNo());
    if (open) return t.Value(field);
    const int pos = StoredPosition(row);
    if (pos < 0 || pos >= t.RecordCount()) return {};
    return t.ValueAt(pos, field);
}

QString TableModel::Text(int row, const GridColumn& column) const {
    const FieldValue v = ValueAt(row, column.field);
    if (const auto* s = std::get_if<std::string>(&v)) return ToQString(*s);
    if (const auto* i = std::get_if<int32_t>(&v)) return QString::number(*i);
    if (const auto* d = std::get_if<DateTime>(&v)) {
        return ToQString(d->Format(column.format.empty() ? "dd/mm/yyyy hh:mm:ss" : column.format));
    }
    return {};
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= LiveRowCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        return Text(index.row(), columns_[index.column()]);
    }
    return {};
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= static_cast<int>(columns_.size())) return {};
        return ToQString(columns_[section].title);
    }
    if (section != CurrentRow()) return QString();
    switch (Table().State()) {
        case TableState::Insert:
            return QStringLiteral("*");
        case TableState::Edit:
            return QStringLiteral("I");
        default:
            return QStringLiteral(">");
    }
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!columns_[index.column()].readOnly) f |= Qt::ItemIsEditable;
    return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || columns_[index.column()].readOnly) return false;
    bool done = false;
    GuardEntryPoint([&] {
        MemTable& t = Table();
        if (t.State() == TableState::Browse) {
            const int pos = StoredPosition(index.row());
            if (pos < 0) return;
            t.MoveTo(pos);
            t.Edit();
        }
        if (index.row() != CurrentRow()) return;  // the open record is on another row
        t.SetString(columns_[index.column()].field, FromQString(value.toString()));
        done = true;
    });
    if (done) {
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, index.row(), index.row());
    }
    return done;
}

}  // namespace common::qt
