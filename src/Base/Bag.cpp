#include "Base/Bag.h"

#include <mutex>

CBag::CBag(const CBag& other)
{
    std::lock_guard lock(other.m_valuesLock);
    m_values = other.m_values;
}

CKxError CBag::WriteAny(const std::string& key, std::any value)
{
    std::lock_guard lock(m_valuesLock);
    m_values[key] = std::move(value);
    return CKxError::Success();
}

CKxError CBag::ReadAny(const std::string& key, std::any& out) const
{
    std::lock_guard lock(m_valuesLock);
    auto it = m_values.find(key);
    if (it == m_values.end())
        return CKxError(KxCode::NotFound, "Bag key [" + key + "] not present");
    out = it->second;
    return CKxError::Success();
}

bool CBag::Has(const std::string& key) const
{
    std::lock_guard lock(m_valuesLock);
    return m_values.count(key) != 0;
}

bool CBag::Remove(const std::string& key)
{
    std::lock_guard lock(m_valuesLock);
    return m_values.erase(key) != 0;
}

std::vector<std::string> CBag::Keys() const
{
    std::lock_guard lock(m_valuesLock);
    std::vector<std::string> keys;
    keys.reserve(m_values.size());
    for (const auto& [key, value] : m_values)
        keys.push_back(key);
    return keys;
}

size_t CBag::Size() const
{
    std::lock_guard lock(m_valuesLock);
    return m_values.size();
}

std::string CBag::TypeName(const std::any& value)
{
    const std::type_info& t = value.type();
    if (t == typeid(bool)) return "bool";
    if (t == typeid(int)) return "int";
    if (t == typeid(unsigned int)) return "unsigned int";
    if (t == typeid(long)) return "long";
    if (t == typeid(unsigned long)) return "unsigned long";
    if (t == typeid(long long)) return "long long";
    if (t == typeid(unsigned long long)) return "unsigned long long";
    if (t == typeid(std::string)) return "string";
    return std::string("any:") + t.name();
}

std::string CBag::ValueText(const std::any& value)
{
    if (auto* v = std::any_cast<bool>(&value)) return *v ? "true" : "false";
    if (auto* v = std::any_cast<int>(&value)) return std::to_string(*v);
    if (auto* v = std::any_cast<unsigned int>(&value)) return std::to_string(*v);
    if (auto* v = std::any_cast<long>(&value)) return std::to_string(*v);
    if (auto* v = std::any_cast<unsigned long>(&value)) return std::to_string(*v);
    if (auto* v = std::any_cast<long long>(&value)) return std::to_string(*v);
    if (auto* v = std::any_cast<unsigned long long>(&value)) return std::to_string(*v);
    if (auto* v = std::any_cast<std::string>(&value)) return "\"" + *v + "\"";
    return "<opaque>";
}

std::string CBag::Dump() const
{
    std::lock_guard lock(m_valuesLock);
    std::string out;
    for (const auto& [key, value] : m_values)
        out += key + "=" + ValueText(value) + " (" + TypeName(value) + ")\n";
    return out;
}
