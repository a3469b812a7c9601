// The worker thread that serves one connection accepted by a blocking listener.
#pragma once

#include <QThread>

#include "receiver/link/Sock.h"

// Raises the listener's OnAutoAccept on its own thread; the handler talks to the connection with
// blocking Receive and Send and the thread ends when it returns. The connection socket owns the
// thread and is destroyed on the main thread once the thread has finished.
class TSockThread : public QThread {
  public:
    TSockThread(TSock* listener, TSock* connection, TNotifyAutoEvent handler);

    TSock* Listener() const { return listener_; }
    TSock* Connection() const { return connection_; }

  protected:
    void run() override;

  private:
    TSock* listener_;
    TSock* connection_;
    // Taken when the connection was accepted, so the main thread may change the listener's.
    TNotifyAutoEvent handler_;
};
