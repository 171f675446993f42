#pragma once
// CBag: named, typed values. Keys are whole strings compared exactly; a value is read back
// with the type it was written with, and a read with any other type is an error value
// (code 1629), never a crash. Missing keys read as code 1168.
//
// Thread: every operation takes the bag's lock, so worker threads may read while the main
// thread writes; hot paths should read their switches once, not per item.
#include "Base/KxError.h"

#include <any>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

class CBag {
public:
    CBag() = default;
    CBag(const CBag& other);
    CBag& operator=(const CBag&) = delete;

    template <typename T>
    static constexpr bool IsBagType =
        std::is_same_v<T, bool> || std::is_same_v<T, int> || std::is_same_v<T, unsigned int> ||
        std::is_same_v<T, long> || std::is_same_v<T, unsigned long> || std::is_same_v<T, long long> ||
        std::is_same_v<T, unsigned long long> || std::is_same_v<T, std::string>;

    template <typename T>
    CKxError Write(const std::string& key, const T& value)
    {
        static_assert(IsBagType<T>, "use WriteAny for other types");
        return WriteAny(key, std::any(value));
    }
    CKxError Write(const std::string& key, const char* value) { return Write(key, std::string(value)); }
    CKxError WriteAny(const std::string& key, std::any value);

    template <typename T>
    CKxError Read(const std::string& key, T& out) const
    {
        std::lock_guard lock(m_valuesLock);
        auto it = m_values.find(key);
        if (it == m_values.end())
            return CKxError(KxCode::NotFound, "Bag key [" + key + "] not present");
        const T* value = std::any_cast<T>(&it->second);
        if (!value)
            return CKxError(KxCode::DatatypeMismatch, "Bag key [" + key + "] holds " +
                                                          TypeName(it->second) + ", read as " +
                                                          TypeName(std::any(T{})));
        out = *value;
        return CKxError::Success();
    }
    CKxError ReadAny(const std::string& key, std::any& out) const;

    // The value when present with type T, else `fallback` (a type mismatch also yields the
    // fallback; use Read where a mismatch must be seen).
    template <typename T>
    T Get(const std::string& key, T fallback) const
    {
        T value{};
        return Read(key, value).IsSuccess() ? value : fallback;
    }
    bool GetBool(const std::string& key, bool fallback = false) const { return Get<bool>(key, fallback); }
    std::string GetString(const std::string& key, const std::string& fallback = {}) const
    {
        return Get<std::string>(key, fallback);
    }

    bool Has(const std::string& key) const;
    bool Remove(const std::string& key);
    std::vector<std::string> Keys() const;
    size_t Size() const;
    // "key=value (type)" lines, sorted by key: the bag as the log shows it.
    std::string Dump() const;

private:
    static std::string TypeName(const std::any& value);
    static std::string ValueText(const std::any& value);

    mutable std::mutex m_valuesLock;  // a plain mutex: a reader-preferring rwlock starves the writer
    std::map<std::string, std::any> m_values;
};

using CBagPtr = std::shared_ptr<CBag>;
