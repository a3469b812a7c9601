// A byte stream over one socket component: reading takes received bytes, writing sends.
#pragma once

#include <cstdint>

class TSock;

class TSockStream {
  public:
    explicit TSockStream(TSock& sock) : sock_(sock) {}

    // Takes at most count bytes (ReceiveCount) into buffer; returns how many. Nothing is taken
    // for a count of 0 or less.
    int Read(void* buffer, int count);
    // Hands count bytes to Send; returns count.
    int Write(const void* buffer, int count);
    // A socket has no position: does nothing and returns 0.
    int64_t Seek(int64_t offset, int origin);

  private:
    TSock& sock_;
};
