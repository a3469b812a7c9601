// The worker thread that serves one connection accepted by a blocking listener.
#include "receiver/link/SockThread.h"

TSockThread::TSockThread(TSock* listener, TSock* connection, TNotifyAutoEvent handler)
    : listener_(listener), connection_(connection), handler_(std::move(handler)) {}

void TSockThread::run() {
    try {
        if (handler_) handler_(listener_, connection_);
    } catch (...) {
        TSock::ReportFailure(std::current_exception());
    }
}
