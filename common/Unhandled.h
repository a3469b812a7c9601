// The last stop for failures: every entry point the event loop calls hands what escapes to here.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace common {

// The text of the failure box: the failure's text, followed by "." when its last byte sorts
// after "." in byte order.
std::string UnhandledFailureText(const std::string& message);

// The program sets where unhandled failures go (the error box); by default they go to stderr.
// The handler receives the box text, already ended as above.
using UnhandledFailureHandler = std::function<void(const std::string& text)>;
void SetUnhandledFailureHandler(UnhandledFailureHandler handler);

// One box at a time, whatever opens it: the failure box, the server's notices, the window's
// messages. A box is modal and runs its own event loop, in which network events go on and may
// fail again; a second box inside the first would nest without end (one peer sending bad
// messages piles up boxes until the stack runs out). Whoever opens a box holds a BoxScope while
// it is open, and asks BoxOpen() first.
bool BoxOpen();
class BoxScope {
  public:
    BoxScope();
    ~BoxScope();
    BoxScope(const BoxScope&) = delete;
    BoxScope& operator=(const BoxScope&) = delete;
};

// A box's text as one line of standard error (the journal under the service manager): newlines
// become blanks, the Windows-1252 bytes become UTF-8.
void WriteStderrLine(const std::string& text);

// While any box is open, a failure goes to stderr ("Erro: " and its text) and to this sink (the
// receiver's traffic log) and is counted instead of opening a box of its own. The sink receives
// the same text as the handler would.
void SetUnhandledOverflowSink(std::function<void(const std::string& text)> sink);
// Told the count of failures held back so far each time one more comes while the box is open,
// so that the open box can say how many came meanwhile.
void SetUnhandledOverflowCounter(std::function<void(int count)> counter);

// Reports a failure caught with catch (...). Never throws.
void ReportUnhandled(std::exception_ptr failure) noexcept;

// Runs an event handler; whatever it raises is reported and goes no further.
template <class F>
void GuardEntryPoint(F&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        ReportUnhandled(std::current_exception());
    }
}

}  // namespace common
