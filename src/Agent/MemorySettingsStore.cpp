#include "Agent/MemorySettingsStore.h"

bool CMemorySettingsStore::Get(const std::string& section, const std::string& key, std::string& value,
                               std::string& where) const
{
    std::lock_guard lock(m_valuesLock);
    auto it = m_values.find({section, key});
    if (it == m_values.end())
        return false;
    value = it->second;
    where = "memory";
    return true;
}

CKxError CMemorySettingsStore::Set(const std::string& section, const std::string& key, const std::string& value)
{
    std::lock_guard lock(m_valuesLock);
    if (m_failCode != 0)
        return CKxError(m_failCode, "Injected settings write failure [" + section + "/" + key + "]");
    m_values[{section, key}] = value;
    return CKxError::Success();
}

void CMemorySettingsStore::Put(const std::string& section, const std::string& key, const std::string& value)
{
    std::lock_guard lock(m_valuesLock);
    m_values[{section, key}] = value;
}

void CMemorySettingsStore::Erase(const std::string& section, const std::string& key)
{
    std::lock_guard lock(m_valuesLock);
    m_values.erase({section, key});
}

void CMemorySettingsStore::FailWrites(long code)
{
    std::lock_guard lock(m_valuesLock);
    m_failCode = code;
}
