#include "Base/TimeStamp.h"

#include <ctime>

CTimeStamp CTimeStamp::Now()
{
    return CTimeStamp(static_cast<std::int64_t>(::time(nullptr)));
}

std::string CTimeStamp::AsLocalString() const
{
    time_t t = static_cast<time_t>(m_seconds);
    struct tm parts {};
    localtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}
