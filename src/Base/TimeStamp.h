#pragma once
// CTimeStamp: a time in whole seconds since the Unix epoch.
#include <cstdint>
#include <string>

class CTimeStamp {
public:
    CTimeStamp() = default;
    explicit CTimeStamp(std::int64_t secondsSinceEpoch) : m_seconds(secondsSinceEpoch) {}
    static CTimeStamp Now();

    std::int64_t Seconds() const { return m_seconds; }
    // Local date and time, "YYYY-MM-DD hh:mm:ss".
    std::string AsLocalString() const;

    auto operator<=>(const CTimeStamp&) const = default;

private:
    std::int64_t m_seconds = 0;
};
