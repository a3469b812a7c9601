// Data syncs of one file on a thread of their own.
#include "receiver/control/SincronizaArquivo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace lumora {

TSincronizaArquivo::TSincronizaArquivo() : thread_([this] { Laco(); }) {}

TSincronizaArquivo::~TSincronizaArquivo() {
    Aguarda();
    {
        std::lock_guard<std::mutex> trava(mutex_);
        fim_ = true;
    }
    pedido_.notify_one();
    thread_.join();
}

int TSincronizaArquivo::Pede(const std::string& caminho) {
    int erro = 0;
    bool ocioso = false;
    {
        std::lock_guard<std::mutex> trava(mutex_);
        caminho_ = caminho;
        ocioso = feitos_ == pedidos_;
        ++pedidos_;
        erro = erro_;
        erro_ = 0;
    }
    // Only a thread with nothing to do sleeps until told: one that waits for others to join
    // or is syncing finds this request when it looks next, and waking it for each row of a
    // busy gate would cost a switch of threads per row.
    if (ocioso) pedido_.notify_one();
    return erro;
}

int TSincronizaArquivo::Aguarda() {
    std::unique_lock<std::mutex> trava(mutex_);
    ++esperando_;
    pedido_.notify_one();  // nobody else is coming to share the sync: it runs at once
    feito_.wait(trava, [this] { return feitos_ == pedidos_; });
    --esperando_;
    const int erro = erro_;
    erro_ = 0;
    return erro;
}

int TSincronizaArquivo::TomaErro() {
    std::lock_guard<std::mutex> trava(mutex_);
    const int erro = erro_;
    erro_ = 0;
    return erro;
}

void TSincronizaArquivo::Laco() {
    std::unique_lock<std::mutex> trava(mutex_);
    for (;;) {
        pedido_.wait(trava, [this] { return fim_ || feitos_ != pedidos_; });
        if (feitos_ == pedidos_ && fim_) return;
        pedido_.wait_for(trava, kJanela, [this] { return fim_ || esperando_ > 0; });
        const unsigned long atendidos = pedidos_;
        const std::string caminho = caminho_;
        trava.unlock();
        // The file is opened by its name each time: a whole-file save may have put a new
        // file in its place meanwhile, and that one is synced by the save itself.
        int erro = 0;
        const int fd = ::open(caminho.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            erro = errno;
        } else {
            if ((sincroniza_ ? sincroniza_(fd) : ::fdatasync(fd)) != 0) erro = errno;
            if (::close(fd) != 0 && erro == 0) erro = errno;
        }
        if (erro != 0 && aviso_) aviso_();
        trava.lock();
        if (erro != 0 && erro_ == 0) erro_ = erro;
        feitos_ = atendidos;
        feito_.notify_all();
    }
}

}  // namespace lumora
