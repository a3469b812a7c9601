#include "common/Unhandled.h"

#include <cstdio>

#include "common/Exception.h"

namespace common {
namespace {

UnhandledFailureHandler& Handler() {
    static UnhandledFailureHandler handler;
    return handler;
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

std::string UnhandledFailureText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

void SetUnhandledFailureHandler(UnhandledFailureHandler handler) { Handler() = std::move(handler); }

void ReportUnhandled(std::exception_ptr failure) noexcept {
    try {
        const std::string text = UnhandledFailureText(MessageOf(failure));
        if (Handler()) {
            Handler()(text);
        } else {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    } catch (...) {
        // A failing failure box must not take the program down with it.
    }
}

}  // namespace common
