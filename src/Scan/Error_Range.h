#pragma once
// Error_Range: the error codes one error rule applies to: every code, or from..to inclusive.
#include <cstdint>

struct Error_Range {
    std::int32_t from = 0;
    std::int32_t to = 0;
    bool allErrors = false;

    bool Contains(long code) const { return allErrors || (from <= code && code <= to); }
};
