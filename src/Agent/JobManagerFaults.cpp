#include "Agent/JobManagerFaults.h"

#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_planLock;  // guards g_plan
CJobManagerFaults::Plan g_plan;

bool ParseNumber(const std::string& text, unsigned long long& value)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}
}  // namespace

void CJobManagerFaults::FailNthCall(size_t n, long code)
{
    std::lock_guard lock(g_planLock);
    g_plan = Plan{n, {}, code};
}

void CJobManagerFaults::FailCall(const std::string& name, long code)
{
    std::lock_guard lock(g_planLock);
    g_plan = Plan{0, name, code};
}

void CJobManagerFaults::Clear()
{
    std::lock_guard lock(g_planLock);
    g_plan = Plan{};
}

bool CJobManagerFaults::ParsePlan(const std::string& text, Plan& plan)
{
    Plan parsed;
    std::string what = text;
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        unsigned long long code = 0;
        if (!ParseNumber(text.substr(colon + 1), code) || code == 0)
            return false;
        parsed.code = static_cast<long>(code);
        what = text.substr(0, colon);
    }
    if (what.empty())
        return false;
    if (what[0] == '#') {
        unsigned long long n = 0;
        if (!ParseNumber(what.substr(1), n) || n == 0)
            return false;
        parsed.failNthCall = static_cast<size_t>(n);
    } else {
        parsed.failCallName = what;
    }
    plan = parsed;
    return true;
}

CJobManagerFaults::Plan CJobManagerFaults::Current()
{
    {
        std::lock_guard lock(g_planLock);
        if (!g_plan.Empty())
            return g_plan;
    }
    Plan plan;
    const char* env = std::getenv("FSWEEP_JM_FAIL");
    if (env && *env && ParsePlan(env, plan))
        return plan;
    return Plan{};
}
