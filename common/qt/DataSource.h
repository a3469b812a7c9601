// The binding between an in-memory table and the widgets that show it (grids, navigators).
#pragma once

#include <QObject>
#include <functional>

#include "common/Table.h"

namespace common::qt {

// Takes the table's change hooks and turns them into signals, so that any number of views can
// follow one table. Hooks already set on the table keep running first. The table must outlive
// the binding; the hooks are given back when the binding goes.
class DataSource : public QObject {
    Q_OBJECT
  public:
    explicit DataSource(MemTable& table, QObject* parent = nullptr);
    ~DataSource() override;

    MemTable& Table() const { return table_; }

  signals:
    // Records, the current position or the table's state changed: views show it again.
    void changed();

  private:
    MemTable& table_;
    std::function<void(MemTable&)> previousData_;
    std::function<void(MemTable&)> previousState_;
};

}  // namespace common::qt
