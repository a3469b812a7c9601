#include "common/Unhandled.h"

#include <cstdio>

#include "common/Exception.h"
#include "common/Text1252.h"

namespace common {
namespace {

struct Destino {
    UnhandledFailureHandler handler;
    std::function<void(const std::string&)> sink;
    std::function<void(int)> counter;
    int boxesOpen = 0;
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

}  // namespace

bool BoxOpen() { return Current().boxesOpen > 0; }

// The count of failures held back belongs to the box on screen: it starts and ends with it.
BoxScope::BoxScope() {
    if (Current().boxesOpen++ == 0) Current().heldBack = 0;
}

BoxScope::~BoxScope() {
    if (--Current().boxesOpen == 0) Current().heldBack = 0;
}

void WriteStderrLine(const std::string& text) {
    std::string line = Cp1252ToUtf8(text);
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

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
            WriteStderrLine(text);
            return;
        }
        if (BoxOpen()) {
            const int count = ++d.heldBack;
            WriteStderrLine("Erro: " + text);
            // Copies: a sink or counter may replace the originals.
            if (const auto sink = d.sink) sink(text);
            if (const auto counter = d.counter) counter(count);
            return;
        }
        const UnhandledFailureHandler handler = d.handler;
        BoxScope open;
        handler(text);
    } catch (...) {
        // A failing failure box must not take the program down with it.
    }
}

}  // namespace common
