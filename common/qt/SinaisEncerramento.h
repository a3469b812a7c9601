// SIGTERM and SIGINT, the ways Linux tells a desktop program to end, turned into an event.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace common::qt {

// The signal handler only writes a byte into a pipe; the event loop reads it and emits
// pedidoEncerramento, so the close sequence runs on the program's own thread like any event.
class TSinaisEncerramento : public QObject {
    Q_OBJECT
  public:
    explicit TSinaisEncerramento(QObject* parent = nullptr);
    ~TSinaisEncerramento() override;

  signals:
    void pedidoEncerramento(int sinal);

  private:
    void Le();
    QSocketNotifier* notificador_ = nullptr;
};

}  // namespace common::qt
