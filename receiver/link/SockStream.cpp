// A byte stream over one socket component: reading takes received bytes, writing sends.
#include "receiver/link/SockStream.h"

#include <cstring>
#include <string>

#include "receiver/link/Sock.h"

int TSockStream::Read(void* buffer, int count) {
    if (count <= 0) return 0;
    std::string taken = sock_.ReceiveCount(count);
    // A blocking receive returns what an earlier receive left as well as what it read now,
    // which may be more than asked for: the rest waits for the next read.
    const size_t wanted = static_cast<size_t>(count);
    if (taken.size() > wanted) {
        sock_.Unreceive(taken.substr(wanted));
        taken.resize(wanted);
    }
    std::memcpy(buffer, taken.data(), taken.size());
    return static_cast<int>(taken.size());
}

int TSockStream::Write(const void* buffer, int count) {
    sock_.Send(std::string(static_cast<const char*>(buffer), static_cast<size_t>(count)));
    return count;
}

int64_t TSockStream::Seek(int64_t, int) { return 0; }
