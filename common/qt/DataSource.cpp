// Fans a table's change hooks out to Qt signals.
#include "common/qt/DataSource.h"

namespace common::qt {

DataSource::DataSource(MemTable& table, QObject* parent)
    : QObject(parent),
      table_(table),
      previousData_(std::move(table.OnDataChange)),
      previousState_(std::move(table.OnStateChange)) {
    table_.OnDataChange = [this](MemTable& t) {
        if (previousData_) previousData_(t);
        emit changed();
    };
    table_.OnStateChange = [this](MemTable& t) {
        if (previousState_) previousState_(t);
        emit changed();
    };
}

DataSource::~DataSource() {
    table_.OnDataChange = std::move(previousData_);
    table_.OnStateChange = std::move(previousState_);
}

}  // namespace common::qt
