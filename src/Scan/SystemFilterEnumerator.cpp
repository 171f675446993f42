#include "Scan/SystemFilterEnumerator.h"

bool CSystemFilterEnumerator::Next(std::string& entry, bool& isException)
{
    if (m_next >= m_entries.size())
        return false;
    entry = m_entries[m_next].first;
    isException = m_entries[m_next].second;
    ++m_next;
    return true;
}
