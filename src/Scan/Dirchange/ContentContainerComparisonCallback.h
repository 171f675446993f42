#pragma once
// CContentContainerComparisonCallback: what the comparison of the previous and the current
// database does with each difference. It acts as the text record's comparison does
// (CDeletedItemCallback): a deleted folder becomes one "??D" line and nothing below it, a
// deleted file a "??d" line, both with the escaped path, except for paths of this job's
// failure list; a new file whose metadata lacks the collect mark is found again on disk and,
// unless its times show the evaluator took it, listed in the deleted-items collect file.
//
// The collect marks of the files it added are not written while the comparison iterates (the
// comparison holds the database): they are kept in Added() for the caller to apply after.
//
// Thread: the job's main thread, one call at a time (the comparison's).
#include "ContentContainer/CompareContentContainersCallback.h"
#include "Scan/DeletedItemCallback.h"

#include <string>
#include <vector>

class CContentContainerComparisonCallback : public CDeletedItemCallback, public CX::CCompareContentContainersCallback {
public:
    CContentContainerComparisonCallback(long long jobId, unsigned long backupType, bool deduceDeletedItems,
                                        bool deduceNewItems, CScanJobCallback& callback);
    ~CContentContainerComparisonCallback() override;

    [[nodiscard]] CKxError OnFolderInIndex1(const std::string& path) override;
    [[nodiscard]] CKxError OnFileInIndex1(const std::string& path) override;
    [[nodiscard]] CKxError OnFolderInIndex2(const std::string& path) override;
    [[nodiscard]] CKxError OnFileInIndex2(const std::string& path, std::string_view metadata) override;

    // The files added to the deleted-items collect file, in the order they were added.
    const std::vector<std::string>& Added() const { return m_added; }

protected:
    [[nodiscard]] CKxError RecordAdded(const std::string& path, bool isFile, const FVBasePtr& record,
                                       int collectNumber) override;

private:
    std::vector<std::string> m_added;
};
