#pragma once
// The one error type that crosses stage boundaries: a violated internal
// invariant. Malformed input is never reported this way; it becomes a
// diagnostic. The binding layer turns this into PanicException; running out
// of memory is not an invariant failure (std::bad_alloc is left to unwind)
// and becomes MemoryError there.

#include <exception>
#include <string>
#include <string_view>

namespace kogane {

class InternalError : public std::exception {
public:
    explicit InternalError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

[[noreturn]] inline void panic(std::string_view message) {
    throw InternalError(std::string(message));
}

// Checks an invariant; `message` is the fixed text reported when it fails.
inline void invariant(bool holds, const char* message) {
    if (!holds) [[unlikely]]
        panic(message);
}

}  // namespace kogane
