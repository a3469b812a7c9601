// A grid bound to a table: shows its rows, follows and moves its cursor, edits its fields.
#pragma once

#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <memory>
#include <vector>

#include "common/qt/TableModel.h"

namespace common::qt {

// The grid's current row is the table's current record both ways: moving in the grid moves
// the cursor (storing or dropping an open record first, as the table does on any move), and
// a cursor moved elsewhere (navigator, program) moves the grid. Keys when the grid may edit:
// Insert opens a new record, Escape drops the open one, Ctrl+Delete asks "Delete record?"
// and deletes the current record. Typing into a text cell is limited to its field's width.
// What terminal traffic changes is shown at most every kTrafficPaceMs (the last change
// always): the grid's painting waits, and so do its following of the cursor; the operator's
// own changes and moves are shown at once. Twice a second is as often as anyone reads a grid
// that changes under a busy night's traffic, and each showing costs as much as serving a
// dozen gates' messages.
class DbGrid : public QTableView {
    Q_OBJECT
  public:
    static constexpr int kTrafficPaceMs = 500;

    explicit DbGrid(QWidget* parent = nullptr);

    // Binds the grid; `readOnly` forbids every change from the grid.
    void Bind(DataSource& source, std::vector<GridColumn> columns, bool readOnly);
    TableModel* Model() const { return model_.get(); }
    // The record indicator column (the vertical header).
    void SetIndicator(bool shown);
    // Makes a column of the current row the grid's current cell.
    void SelectColumn(int column);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool viewportEvent(QEvent* event) override;

  private:
    void BeforeViews();
    void ShowPaced();
    bool Pacing() const;
    void FollowCursor();
    void FollowNow();
    void RepaintIndicator(int row);
    void FitIndicatorColumn();
    void MoveCursorTo(int row);

    std::unique_ptr<TableModel> model_;
    bool readOnly_ = true;
    bool following_ = false;
    bool behind_ = false;      // the cursor moved and the grid has not followed yet
    QElapsedTimer lastShown_;  // when a change was last let through to the screen
    QTimer paceTimer_;         // the showing that traffic's changes wait for
};

}  // namespace common::qt
