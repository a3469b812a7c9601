// A record navigator: a row of buttons that move through, add, delete, edit, store and drop
// records.
#pragma once

#include <QWidget>
#include <array>
#include <vector>

#include "common/qt/DataSource.h"

class QToolButton;

namespace common::qt {

class RecordNavigator : public QWidget {
    Q_OBJECT
  public:
    enum Button { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, kButtonCount };

    // Shows the given buttons, in the fixed order above. Each button's objectName is
    // "nb" + its English name ("nbInsert").
    RecordNavigator(std::vector<Button> shown, QWidget* parent = nullptr);

    void SetDataSource(DataSource* source);
    QToolButton* ButtonOf(Button button) const { return buttons_[button]; }
    // The action of a button, as a click does it (also when the button is hidden).
    void Click(Button button);

  signals:
    // After the button's action, when it did not fail and was not declined.
    void clicked(common::qt::RecordNavigator::Button button);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void UpdateButtons();

    std::array<QToolButton*, kButtonCount> buttons_{};
    DataSource* source_ = nullptr;
    bool stale_ = false;  // the table changed while nobody saw the buttons
};

}  // namespace common::qt
