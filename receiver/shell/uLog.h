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
    // Each area keeps this many lines and this much text at most and lets the oldest go: weeks
    // of traffic, or a peer sending the longest messages the server takes, must neither fill
    // the memory nor slow the window down.
    static constexpr int kMaxLinhas = 10000;
    static constexpr std::size_t kMaxBytesArea = 4 * 1024 * 1024;
    // A longer line is shown cut, with the count of the bytes left out: nobody reads 60 kB of
    // one message in the window, and ten thousand of them would be the whole bound.
    static constexpr std::size_t kMaxLinha = 2000;

    explicit TformLog(QWidget* parent = nullptr);

    // Lines are appended; the operator may edit or clear the areas. While the window is not
    // shown they wait (within the same bounds) and go into the areas when it is:
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
        std::size_t bytesAguardando = 0;
    };
    void Acrescenta(Area& area, const std::string& linha);
    void Descarrega(Area& area);
    static void Apara(Area& area);
    void AplicaEmpilhamento();

    Area recebidos_;
    Area enviados_;

    QPlainTextEdit* memoRecebidos_ = nullptr;
    QPlainTextEdit* memoEnviados_ = nullptr;
    QAction* stayOnTop_ = nullptr;
};

}  // namespace lumora
