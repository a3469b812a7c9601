#include "common/Unhandled.h"

#include <cstdio>

#include "common/Exception.h"

namespace common {
namespace {

struct Destino {
    UnhandledFailureHandler handler;
    std::function<void(const std::string&)> sink;
    std::function<void(int)> counter;
    bool boxOpen = false;
    int heldBack = 0;
};

Destino& Current() {
    static Destino destino;
    return destino;
}

std::string MessageOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown failure";
    }
}

// Open while the handler runs, whatever way it leaves.
class BoxOpen {
  public:
    BoxOpen() {
        Current().boxOpen = true;
        Current().heldBack = 0;
    }
    ~BoxOpen() {
        Current().boxOpen = false;
        Current().heldBack = 0;
    }
    BoxOpen(const BoxOpen&) = delete;
    BoxOpen& operator=(const BoxOpen&) = delete;
};

}  // namespace

std::string UnhandledFailureText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

void SetUnhandledFailureHandler(UnhandledFailureHandler handler) {
    Current().handler = std::move(handler);
}

void SetUnhandledOverflowSink(std::function<void(const std::string& text)> sink) {
    Current().sink = std::move(sink);
}

void SetUnhandledOverflowCounter(std::function<void(int count)> counter) {
    Current().counter = std::move(counter);
}

void ReportUnhandled(std::exception_ptr failure) noexcept {
    try {
        const std::string text = UnhandledFailureText(MessageOf(failure));
        Destino& d = Current();
        if (!d.handler) {
            std::fprintf(stderr, "%s\n", text.c_str());
            return;
        }
        if (d.boxOpen) {
            const int count = ++d.heldBack;
            std::fprintf(stderr, "%s\n", text.c_str());
            // Copies: a sink or counter may replace the originals.
            if (const auto sink = d.sink) sink(text);
            if (const auto counter = d.counter) counter(count);
            return;
        }
        const UnhandledFailureHandler handler = d.handler;
        BoxOpen open;
        handler(text);
    } catch (...) {
        // A failing failure box must not take the program down with it.
    }
}

}  // namespace common
