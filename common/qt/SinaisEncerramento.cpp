// The self-pipe between the signal handler and the event loop.
#include "common/qt/SinaisEncerramento.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace common::qt {
namespace {

int tubo[2] = {-1, -1};

extern "C" void AoSinal(int sinal) {
    const int salvo = errno;
    const unsigned char byte = static_cast<unsigned char>(sinal);
    [[maybe_unused]] const ssize_t n = ::write(tubo[1], &byte, 1);
    errno = salvo;
}

}  // namespace

TSinaisEncerramento::TSinaisEncerramento(QObject* parent) : QObject(parent) {
    if (tubo[0] < 0 && ::pipe2(tubo, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notificador_ = new QSocketNotifier(tubo[0], QSocketNotifier::Read, this);
    connect(notificador_, &QSocketNotifier::activated, this, &TSinaisEncerramento::Le);
    struct sigaction acao {};
    acao.sa_handler = AoSinal;
    sigemptyset(&acao.sa_mask);
    acao.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &acao, nullptr);
    sigaction(SIGINT, &acao, nullptr);
    // The session's end may also come as a hang-up of the controlling terminal.
    sigaction(SIGHUP, &acao, nullptr);
}

TSinaisEncerramento::~TSinaisEncerramento() {
    struct sigaction padrao {};
    padrao.sa_handler = SIG_DFL;
    sigemptyset(&padrao.sa_mask);
    sigaction(SIGTERM, &padrao, nullptr);
    sigaction(SIGINT, &padrao, nullptr);
    sigaction(SIGHUP, &padrao, nullptr);
}

void TSinaisEncerramento::Le() {
    unsigned char byte = 0;
    int ultimo = 0;
    while (::read(tubo[0], &byte, 1) == 1) ultimo = byte;
    if (ultimo != 0) emit pedidoEncerramento(ultimo);
}

}  // namespace common::qt
