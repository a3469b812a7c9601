// The address-book window: single addresses and ranges of modules behind routers, searched by
// unicast at every refresh.
#pragma once

#include <QDialog>
#include <filesystem>
#include <vector>

#include "manager/modules/Agenda.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace modrevo {

// Loads the stored book when it opens; OK stores the list, Cancel and Escape drop the changes.
// An entry that does not read, or would make the book too long, is refused with its reason.
class TFormAgenda : public QDialog {
    Q_OBJECT
  public:
    explicit TFormAgenda(std::filesystem::path arquivo, QWidget* parent = nullptr);

    // Shows the window modally, centred over its parent; true when the book was stored.
    bool Mostra();
    // Fills the list from the stored book (what Mostra does first).
    void Carrega();
    const std::vector<EntradaAgenda>& Agenda() const { return agenda_; }

    void btAdicionarClick();
    void btRemoverClick();

  private:
    void OkClick();
    void MostraLista();

    std::filesystem::path arquivo_;
    std::vector<EntradaAgenda> agenda_;
    QLineEdit* edEndereco_ = nullptr;
    QListWidget* lstEnderecos_ = nullptr;
    QPushButton* btAdicionar_ = nullptr;
    QPushButton* btRemover_ = nullptr;
    QPushButton* btOK_ = nullptr;
    QPushButton* btCancelar_ = nullptr;
};

}  // namespace modrevo
