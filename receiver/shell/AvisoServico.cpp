#include "receiver/shell/AvisoServico.h"

#include <QTimer>
#include <algorithm>

#ifdef LUMORA_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace lumora {

TAvisoServico::TAvisoServico(QObject* parent) : QObject(parent) {
#ifdef LUMORA_SYSTEMD
    uint64_t intervaloUs = 0;
    if (sd_watchdog_enabled(0, &intervaloUs) <= 0 || intervaloUs == 0) return;
    vivo_ = new QTimer(this);
    // Modal boxes run loops of their own; the ticks go on in them, as the terminals are still
    // served there.
    vivo_->setInterval(std::max<int>(1, static_cast<int>(intervaloUs / 2000)));
    connect(vivo_, &QTimer::timeout, this, [] { sd_notify(0, "WATCHDOG=1"); });
    vivo_->start();
#endif
}

void TAvisoServico::Pronto() {
#ifdef LUMORA_SYSTEMD
    sd_notify(0, "READY=1");
#endif
}

void TAvisoServico::Parando() {
#ifdef LUMORA_SYSTEMD
    sd_notify(0, "STOPPING=1");
#endif
}

}  // namespace lumora
