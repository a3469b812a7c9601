// Data syncs of one file on a thread of their own, so that the event loop never waits for the
// disk after adding to the day's history.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace lumora {

// The program writes the bytes itself (they are in the system's cache at once, and no crash of
// the program can lose them); this only asks the disk to keep them, one fdatasync after another.
// A request waits up to kJanela for others to join it, and requests that come while a sync runs
// are served together by the next one: at a busy gate one sync keeps several rows. So a row is
// on the disk, safe from a power cut, at most kJanela plus two syncs after it was written.
// Aguarda cuts the wait short. A failed sync is kept and handed to the program at its next
// request or wait.
class TSincronizaArquivo {
  public:
    static constexpr std::chrono::milliseconds kJanela{10};

    TSincronizaArquivo();
    ~TSincronizaArquivo();  // waits for the syncs asked for
    TSincronizaArquivo(const TSincronizaArquivo&) = delete;
    TSincronizaArquivo& operator=(const TSincronizaArquivo&) = delete;

    // Asks for a data sync of the file at `caminho` as it is now. Returns the errno of an
    // earlier sync that failed (0 when none), which is then forgotten.
    int Pede(const std::string& caminho);
    // Waits until every sync asked for has run; returns the errno of a failure, as Pede.
    int Aguarda();
    // The errno of a sync that failed (0 when none), which is then forgotten; no waiting.
    int TomaErro();
    // Called on the sync thread when a sync fails, so that the program can rewrite the file
    // at once instead of at its next save. Set before the first request.
    void AoFalhar(std::function<void()> aviso) { aviso_ = std::move(aviso); }
    // The call that syncs a descriptor (fdatasync); a test puts a failing one in its place.
    // Set before the first request.
    void TrocaChamada(std::function<int(int)> sincroniza) { sincroniza_ = std::move(sincroniza); }

  private:
    void Laco();

    std::mutex mutex_;
    std::condition_variable pedido_;
    std::condition_variable feito_;
    std::string caminho_;
    unsigned long pedidos_ = 0;  // syncs asked for
    unsigned long feitos_ = 0;   // requests served by a finished sync
    int esperando_ = 0;          // callers of Aguarda waiting now
    int erro_ = 0;
    bool fim_ = false;
    std::function<void()> aviso_;
    std::function<int(int)> sincroniza_;
    std::thread thread_;
};

}  // namespace lumora
