// The traffic-log window: what the terminals sent ("Recebidos") and what went to them ("Enviados").
#pragma once

#include <QWidget>
#include <deque>

#include "receiver/link/Servidor.h"

class QAction;
class QPlainTextEdit;

namespace lumora {

class TformLog : public QWidget, public ILogTrafego {
    Q_OBJECT
  public:
    // Each area keeps this many lines at most and lets the oldest go: weeks of traffic must
    // neither fill the memory nor slow the window down.
    static constexpr int kMaxLinhas = 10000;

    explicit TformLog(QWidget* parent = nullptr);

    // Lines are appended; the operator may edit or clear the areas. While the window is not
    // shown they wait (the newest kMaxLinhas of each area) and go into the areas when it is:
    // laying out every line of a busy night for nobody would cost more than answering the
    // terminals.
    void Recebidos(const std::string& linha) override;
    void Enviados(const std::string& linha) override;

    QPlainTextEdit* memoRecebidos() const { return memoRecebidos_; }
    QPlainTextEdit* MemoEnviados() const { return memoEnviados_; }
    QAction* StayOnTop() const { return stayOnTop_; }
    // The "Stay on Top" item's action: flips the check mark, then the window's stacking.
    void StayOnTopClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    struct Area {
        QPlainTextEdit* memo = nullptr;
        std::deque<std::string> aguardando;
    };
    void Acrescenta(Area& area, const std::string& linha);
    void Descarrega(Area& area);
    void AplicaEmpilhamento();

    Area recebidos_;
    Area enviados_;

    QPlainTextEdit* memoRecebidos_ = nullptr;
    QPlainTextEdit* memoEnviados_ = nullptr;
    QAction* stayOnTop_ = nullptr;
};

}  // namespace lumora
