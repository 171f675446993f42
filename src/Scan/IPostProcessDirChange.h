#pragma once
// IPostProcessDirChange: the clean-up step that compares a job's directory-change record with
// the previous one and acts on the differences (CPostProcessDirChange).
//
// Thread: the job's main thread, after the walk's workers have stopped.
#include "Base/KxError.h"

#include <memory>

class CScanJobCallback;

class IPostProcessDirChange {
public:
    virtual ~IPostProcessDirChange() = default;

    [[nodiscard]] virtual CKxError Run(CScanJobCallback& callback) = 0;
};

using IPostProcessDirChangePtr = std::shared_ptr<IPostProcessDirChange>;
