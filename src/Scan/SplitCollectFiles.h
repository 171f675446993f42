#pragma once
// ISplitCollectFiles: a step that runs once after the walk and cuts the job's collect files into
// the pieces the backup phase reads, one set per data stream.
//
// Implementations append an output resource for every new piece to the job's list of output
// resources and write the split map ("split_config") that tells the backup phase which pieces
// came from which collect file.
//
// Ownership: made by the job's callback, run by the clean-up chain. Thread: the job's main
// thread only, after the walk's workers have stopped.
#include "Base/KxError.h"
#include "CollectFile/CollectEvidence.h"

#include <memory>
#include <vector>

class ISplitCollectFiles {
public:
    virtual ~ISplitCollectFiles() = default;

    [[nodiscard]] virtual CKxError Run() = 0;
    // Collect files the run added to those the scan wrote.
    virtual int CountOfAddedCollectFiles() const { return 0; }
    // Lines and bytes of each collect file the run wrote, as written: the whole-file evidence
    // takes them instead of reading the files back.
    virtual const std::vector<CCollectEvidence::SEntry>& WrittenFiles() const
    {
        static const std::vector<CCollectEvidence::SEntry> none;
        return none;
    }
};

using ISplitCollectFilesPtr = std::shared_ptr<ISplitCollectFiles>;
