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
