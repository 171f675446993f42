#pragma once
// Where a message of an error stack was pushed: source file, full function signature and line.
#include <cstdint>
#include <source_location>
#include <string>

#if defined(__cpp_lib_source_location)
using FXSourceLocation = std::source_location;
#else
// Compilers whose standard library lacks std::source_location (clang 14 with libstdc++, the
// fuzzing build) still have the builtins it is made of; the function is then its bare name.
struct FXSourceLocation {
    static constexpr FXSourceLocation current(const char* file = __builtin_FILE(),
                                              const char* function = __builtin_FUNCTION(),
                                              std::uint32_t line = __builtin_LINE()) noexcept
    {
        return FXSourceLocation{file, function, line};
    }
    constexpr const char* file_name() const noexcept { return m_file; }
    constexpr const char* function_name() const noexcept { return m_function; }
    constexpr std::uint32_t line() const noexcept { return m_line; }

    const char* m_file = "";
    const char* m_function = "";
    std::uint32_t m_line = 0;
};
#endif

struct FXCodeLocation {
    const char* file = "";
    const char* function = "";
    std::uint32_t line = 0;

    static constexpr FXCodeLocation From(const FXSourceLocation& loc) noexcept
    {
        return FXCodeLocation{loc.file_name(), loc.function_name(), loc.line()};
    }
    static constexpr FXCodeLocation Here(FXSourceLocation loc = FXSourceLocation::current()) noexcept
    {
        return From(loc);
    }
    // "File.cpp:42 (int Foo(int))": the file without its folders keeps log lines short.
    std::string AsString() const;
};
