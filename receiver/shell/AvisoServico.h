// What the service manager is told about the receiver, when one started it and listens: ready
// once terminals can connect, stopping when the close sequence begins, and a steady "alive"
// from the event loop, so that a receiver whose loop hangs is restarted. Built without the
// service manager's library, every call does nothing.
#pragma once

#include <QObject>

class QTimer;

namespace lumora {

class TAvisoServico : public QObject {
    Q_OBJECT
  public:
    // Starts the "alive" ticks at half the interval the manager asked for, if it asked.
    explicit TAvisoServico(QObject* parent = nullptr);

    static void Pronto();
    static void Parando();

  private:
    QTimer* vivo_ = nullptr;
};

}  // namespace lumora
