#pragma once
// CX::CContentContainerDirChange: the previous job's database seen as an IDirChange, so that
// the backup-type evaluator finds items that appeared with old times (moved or copied in) in
// jobs that keep their record in a database too.
//
// A folder is one query. A file loads the names of its folder's files (one query) once per
// thread, when that thread's lookups move to another folder, and answers the rest of the folder
// from memory: the walker asks for a folder's entries one after the other. Entries carried forward answer
// "not found". The record out-parameter is never filled (the database keeps no record object).
//
// Thread: Lookup from any number of threads; the connection is guarded by the container's
// lock, each thread's folder cache is its own.
#include "CollectFile/IDirChange.h"
#include "ContentContainer/ContentContainer.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace CX {

class CContentContainerDirChange : public IDirChange {
public:
    CContentContainerDirChange();
    ~CContentContainerDirChange() override;

    // Opens `path` read-only. A view never opened knows nothing: every lookup answers "not found".
    [[nodiscard]] CKxError Open(const std::string& path);
    const std::string& GetName() const { return m_container.GetName(); }

    bool Lookup(std::string_view path, EKind kind, FVBasePtr* record = nullptr) override;

private:
    bool Answer(const CKxError& result, std::string_view path);

    CContentContainer m_container;
    std::uint64_t m_instance;  // tells the thread caches of two views apart
    bool m_open = false;
    std::atomic<bool> m_failureLogged{false};
};

}  // namespace CX
