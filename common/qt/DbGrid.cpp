// The bound grid: cursor following, editing keys, width-limited cell editors.
#include "common/qt/DbGrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <algorithm>

#include "common/TrafficChanges.h"
#include "common/Unhandled.h"
#include "common/qt/OperatorDialogs.h"

namespace common::qt {
namespace {

// Cell editor whose typing stops at the field's width.
class WidthDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        auto* model = qobject_cast<const TableModel*>(index.model());
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && model) {
            const int width = model->FieldWidth(index.column());
            if (width > 0) line->setMaxLength(width);
        }
        return editor;
    }
};

}  // namespace

DbGrid::DbGrid(QWidget* parent) : QTableView(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new WidthDelegate(this));
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsMovable(false);
    setWordWrap(false);
    paceTimer_.setSingleShot(true);
    connect(&paceTimer_, &QTimer::timeout, this, [this] { ShowPaced(); });
}

void DbGrid::Bind(DataSource& source, std::vector<GridColumn> columns, bool readOnly) {
    readOnly_ = readOnly;
    if (readOnly) {
        for (auto& c : columns) c.readOnly = true;
        setEditTriggers(QAbstractItemView::NoEditTriggers);
    } else {
        setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                        QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    }
    // Before the model's own refresh, so that what traffic changes is not painted at once.
    connect(&source, &DataSource::changed, this, &DbGrid::BeforeViews);
    model_ = std::make_unique<TableModel>(source, std::move(columns));
    model_->SetShown(isVisible());
    setModel(model_.get());
    for (int i = 0; i < static_cast<int>(model_->Columns().size()); ++i) {
        setColumnWidth(i, model_->Columns()[i].width);
    }
    // After the model's own refresh, which was connected first.
    connect(&source, &DataSource::changed, this, &DbGrid::FollowCursor);
    connect(model_.get(), &QAbstractItemModel::modelReset, this, &DbGrid::FollowCursor);
    connect(model_.get(), &TableModel::indicatorMoved, this, [this](int from, int to) {
        RepaintIndicator(from);
        if (to != from) RepaintIndicator(to);
    });
    FollowCursor();
}

void DbGrid::showEvent(QShowEvent* event) {
    QTableView::showEvent(event);
    if (model_) model_->SetShown(true);
    if (!updatesEnabled() || behind_) ShowPaced();
}

void DbGrid::hideEvent(QHideEvent* event) {
    QTableView::hideEvent(event);
    if (model_) model_->SetShown(false);
}

void DbGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        // The headers have a face of their own on some desktops; here they follow the grid.
        horizontalHeader()->setFont(font());
        verticalHeader()->setFont(font());
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
        if (!verticalHeader()->isHidden()) FitIndicatorColumn();
    }
}

void DbGrid::SetIndicator(bool shown) {
    verticalHeader()->setVisible(shown);
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    FitIndicatorColumn();
}

// The indicator column is as wide as its widest mark, whichever row shows it: its width never
// follows the cursor.
void DbGrid::FitIndicatorColumn() {
    QHeaderView* header = verticalHeader();
    int width = 12;
    for (const char* mark : {">", "*", "I"}) {
        QStyleOptionHeader option;
        option.initFrom(header);
        option.orientation = Qt::Vertical;
        option.text = QString::fromLatin1(mark);
        option.textAlignment = Qt::AlignCenter;
        width =
            std::max(width, header->style()
                                ->sizeFromContents(QStyle::CT_HeaderSection, &option, {}, header)
                                .width());
    }
    header->setFixedWidth(width);
}

void DbGrid::RepaintIndicator(int row) {
    QHeaderView* header = verticalHeader();
    if (row < 0 || row >= header->count() || header->isHidden()) return;
    const int top = header->sectionViewportPosition(row);
    const int height = header->sectionSize(row);
    if (top + height < 0 || top > header->viewport()->height()) return;
    header->viewport()->update(0, top, header->viewport()->width(), height);
}

// Traffic at peak changes a shown table a hundred times a second: a card read moves the card
// list's cursor, a turnstile result moves every row of the newest-first history down. The
// grid shows where things stand a few times a second, and an isolated change at once.
bool DbGrid::Pacing() const {
    return common::TrafficChanges::Active() && lastShown_.isValid() &&
           lastShown_.elapsed() < kTrafficPaceMs;
}

void DbGrid::BeforeViews() {
    if (!isVisible()) return;
    // A cell being typed into is never held back.
    if (!Pacing() || state() == QAbstractItemView::EditingState) {
        if (!updatesEnabled()) ShowPaced();
        lastShown_.start();
        return;
    }
    if (updatesEnabled()) setUpdatesEnabled(false);
    if (model_) model_->SetHeld(true);
    if (!paceTimer_.isActive())
        paceTimer_.start(static_cast<int>(kTrafficPaceMs - lastShown_.elapsed()));
}

void DbGrid::ShowPaced() {
    paceTimer_.stop();
    lastShown_.start();
    if (model_) model_->SetHeld(false);
    if (behind_ && isVisible()) FollowNow();
    if (updatesEnabled()) return;
    setUpdatesEnabled(true);
    // Painted now, not by a posted paint: on a busy night the next change would come first
    // and hold the painting back again, for as long as the traffic lasts.
    if (isVisible()) repaint();
}

bool DbGrid::viewportEvent(QEvent* event) {
    // The operator reaching for the grid sees it as it is.
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            if (!updatesEnabled() || behind_) ShowPaced();
            break;
        default:
            break;
    }
    return QTableView::viewportEvent(event);
}

void DbGrid::FollowCursor() {
    if (!model_ || following_) return;
    // A grid nobody sees (the window in the notification area) catches up when it is shown,
    // and one holding traffic's changes back at the end of the pause: selecting and scrolling
    // for every card read of a busy night is work for nobody.
    if (!isVisible() || !updatesEnabled() || paceTimer_.isActive()) {
        behind_ = true;
        return;
    }
    FollowNow();
}

void DbGrid::FollowNow() {
    behind_ = false;
    following_ = true;
    const int row = model_->CurrentRow();
    if (row < 0) {
        selectionModel()->clearCurrentIndex();
        clearSelection();
    } else {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        const QModelIndex target = model_->index(row, column);
        if (currentIndex() != target) {
            selectionModel()->setCurrentIndex(
                target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        } else if (!selectionModel()->isRowSelected(row, {})) {
            selectRow(row);
        }
        scrollTo(target);
    }
    following_ = false;
}

void DbGrid::SelectColumn(int column) {
    if (!model_) return;
    const int row = model_->CurrentRow();
    if (row < 0) return;
    following_ = true;
    selectionModel()->setCurrentIndex(
        model_->index(row, column),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    following_ = false;
}

void DbGrid::MoveCursorTo(int row) {
    MemTable& t = model_->Table();
    if (!t.Active() || row == model_->CurrentRow()) return;
    const std::optional<uint64_t> target = model_->StoredId(row);
    if (!target) return;
    // Storing or dropping the open record may move records around: find the target again.
    if (t.State() == TableState::Insert || t.State() == TableState::Edit) {
        if (t.RecordModified()) {
            t.Post();
        } else {
            t.Cancel();
        }
    }
    const int pos = model_->PositionOf(*target);
    if (pos >= 0) t.MoveTo(pos);
}

void DbGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (following_ || !model_ || !current.isValid()) return;
    if (previous.isValid() && current.row() == previous.row()) return;
    GuardEntryPoint([&] { MoveCursorTo(current.row()); });
    // A refused store leaves the cursor on the open record: show it there.
    QMetaObject::invokeMethod(this, &DbGrid::FollowCursor, Qt::QueuedConnection);
}

void DbGrid::keyPressEvent(QKeyEvent* event) {
    // The operator's keys act on the rows as they are, never on rows held back.
    if (!updatesEnabled() || behind_) ShowPaced();
    if (model_ && !readOnly_ && state() != QAbstractItemView::EditingState) {
        MemTable& t = model_->Table();
        const bool ctrl = event->modifiers() & Qt::ControlModifier;
        if (event->key() == Qt::Key_Delete && ctrl) {
            GuardEntryPoint([&] {
                if (t.Active() && !t.IsEmpty() && Dialogs().Confirm("Delete record?")) t.Delete();
            });
            return;
        }
        if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier) {
            GuardEntryPoint([&] { t.Insert(); });
            return;
        }
        if (event->key() == Qt::Key_Escape &&
            (t.State() == TableState::Insert || t.State() == TableState::Edit)) {
            GuardEntryPoint([&] { t.Cancel(); });
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

}  // namespace common::qt
