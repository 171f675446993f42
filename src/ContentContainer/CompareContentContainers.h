#pragma once
// CX::CCompareContentContainers: finds what a previous database holds that the current one does
// not (deleted folders and files) and what only the current one holds (new folders and files),
// and reports each through a CCompareContentContainersCallback.
//
// Both databases are read in path order and merged: folders by path, and for a folder in both,
// its files by name. Memory stays with one folder's names at a time, whatever the size of the
// tree. Entries carried forward count as present.
//
// Thread: runs on the caller's thread under the current container's lock.
#include "Base/KxError.h"
#include "ContentContainer/CompareContentContainersCallback.h"
#include "ContentContainer/ContentContainer.h"

#include <string>

namespace CX {

class CCompareContentContainers {
public:
    // `current` is open; `previousDatabase` names a database file.
    CCompareContentContainers(std::string previousDatabase, CContentContainer& current,
                              CCompareContentContainersCallback& callback);

    [[nodiscard]] CKxError CompareDatabases();

private:
    [[nodiscard]] CKxError Merge();
    [[nodiscard]] CKxError MergeFiles(const std::string& folder, long long previousId, long long currentId);

    std::string m_previousDatabase;
    CContentContainer& m_current;
    CCompareContentContainersCallback& m_callback;
    CContentContainer::StatementPtr m_previousFiles, m_currentFiles;
};

}  // namespace CX
