// The hidden response-time window: the milliseconds each module receive waits.
#pragma once

#include <QDialog>
#include <filesystem>

class QLineEdit;

namespace modrevo {

// Loads the stored setting when it opens and stores whatever the field holds when it closes
// (its close button or Alt+F4); it has no OK and no Cancel, and Escape does nothing.
class TfrmTempo : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmTempo(std::filesystem::path arquivo, QWidget* parent = nullptr);

    // Shows the window modally, centred over its parent.
    void Mostra();
    QLineEdit* EditTempo() const { return EditTempo_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::filesystem::path arquivo_;
    QLineEdit* EditTempo_ = nullptr;
};

}  // namespace modrevo
