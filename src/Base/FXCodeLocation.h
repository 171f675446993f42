#pragma once
// Where a message of an error stack was pushed: source file, full function signature and line.
#include <cstdint>
#include <source_location>
#include <string>

struct FXCodeLocation {
    const char* file = "";
    const char* function = "";
    std::uint32_t line = 0;

    static constexpr FXCodeLocation From(const std::source_location& loc) noexcept
    {
        return FXCodeLocation{loc.file_name(), loc.function_name(), loc.line()};
    }
    static constexpr FXCodeLocation Here(std::source_location loc = std::source_location::current()) noexcept
    {
        return From(loc);
    }
    // "File.cpp:42 (int Foo(int))": the file without its folders keeps log lines short.
    std::string AsString() const;
};
