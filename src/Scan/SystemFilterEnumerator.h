#pragma once
// CSystemFilterEnumerator: the system filters and system filter exceptions a platform adds to
// every subclient, handed out one at a time in the order they were added.
//
// Ownership: made by the platform part of the subclient content, used once. Thread: one
// thread.
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CSystemFilterEnumerator {
public:
    void Add(std::string entry, bool isException) { m_entries.emplace_back(std::move(entry), isException); }
    // The next entry; false when all were handed out.
    bool Next(std::string& entry, bool& isException);
    size_t Size() const { return m_entries.size(); }

private:
    std::vector<std::pair<std::string, bool>> m_entries;
    size_t m_next = 0;
};

using CSystemFilterEnumeratorPtr = std::shared_ptr<CSystemFilterEnumerator>;
