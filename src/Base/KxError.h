#pragma once
// CKxError: the error value every fallible operation returns.
//
// Success holds no allocation, so returning it costs one pointer. A failure carries a code
// (a Win32-style number such as 14, 87, 995, 1630, or an errno value) and a stack of
// messages; every level that passes the failure on pushes its own message and location,
// and AsString renders the whole stack, innermost first.
//
// Thread: a value, not shared; copy it to hand it to another thread.
#include "Base/FXCodeLocation.h"

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

// Win32-style codes used across the system.
namespace KxCode {
inline constexpr long Success = 0;
inline constexpr long AccessDenied = 5;
inline constexpr long NotEnoughMemory = 8;
inline constexpr long OutOfMemory = 14;
inline constexpr long InvalidData = 13;
inline constexpr long InvalidParameter = 87;
inline constexpr long OperationAborted = 995;
inline constexpr long NotFound = 1168;
inline constexpr long BadConfiguration = 1610;
inline constexpr long UnknownProduct = 1627;     // a configuration object could not be obtained
inline constexpr long DatatypeMismatch = 1629;
inline constexpr long FallBackToOldScanner = 1630;
inline constexpr long ObjectNotFound = 4312;
inline constexpr long DoNotEnterFolder = 20001;  // a consumer's answer: do not descend into this folder
}  // namespace KxCode

// printf-style formatting into a std::string.
std::string KxFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string KxFormatV(const char* format, va_list args);

class [[nodiscard]] CKxError {
public:
    struct Frame {
        std::string message;
        FXCodeLocation where;
    };

    CKxError() noexcept = default;  // success
    CKxError(long code, std::string message, FXSourceLocation loc = FXSourceLocation::current());
    CKxError(const CKxError& other);
    CKxError(CKxError&&) noexcept = default;
    CKxError& operator=(const CKxError& other);
    CKxError& operator=(CKxError&&) noexcept = default;
    ~CKxError() = default;

    static CKxError Success() noexcept { return CKxError(); }
    // The one place an errno value becomes an error: the message gets ": <strerror> (errno N)".
    static CKxError FromErrno(int errnum, const std::string& message,
                              FXSourceLocation loc = FXSourceLocation::current());

    bool IsSuccess() const noexcept { return !m_state; }
    bool IsError() const noexcept { return static_cast<bool>(m_state); }
    long Code() const noexcept { return m_state ? m_state->code : KxCode::Success; }

    // Adds this level's message and location; returns *this so that `return e.Push(...)` reads well.
    CKxError& Push(std::string message, FXSourceLocation loc = FXSourceLocation::current()) &;
    CKxError&& Push(std::string message, FXSourceLocation loc = FXSourceLocation::current()) &&;
    // The innermost (first) message, or "" on success.
    std::string Message() const;
    const std::vector<Frame>& Frames() const;
    // "code=87 [Failed to determine scan job type] at File.cpp:42 (fn) <- ..." ; "Success" on success.
    std::string AsString() const;
    // For an operator: "outer: ...: innermost (code N)" on one line, line breaks as blanks, no
    // code locations; "Success" on success.
    std::string OneLine() const;

private:
    struct State {
        long code;
        std::vector<Frame> frames;
    };
    std::unique_ptr<State> m_state;
};

// Returns from the calling function when `expr` failed, pushing the caller's message.
// The message is a printf-style format and its arguments.
#define KX_RETURN_IF_FAILED(expr, ...)                          \
    do {                                                        \
        CKxError kxErrorResult_ = (expr);                       \
        if (kxErrorResult_.IsError()) {                         \
            kxErrorResult_.Push(KxFormat(__VA_ARGS__));         \
            return kxErrorResult_;                              \
        }                                                       \
    } while (false)

// Same, without a message of its own (the location is still pushed).
#define KX_RETURN_IF_ERROR(expr)                                \
    do {                                                        \
        CKxError kxErrorResult_ = (expr);                       \
        if (kxErrorResult_.IsError()) {                         \
            kxErrorResult_.Push(std::string());                 \
            return kxErrorResult_;                              \
        }                                                       \
    } while (false)
