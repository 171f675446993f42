#pragma once
// CXHSMLowLevelCtx: the archiver's view of one file, as the archiving scan asks it.
//
// - A stub is a file carrying the extended attribute "user.fsweep.stub" (kStubAttribute); with
//   native snapshots, a sparse file with data and no block allocated (IsSparseFileStub).
// - "Open or mapped" (state 1) means another process holds the file open or mapped: an entry of
//   /proc/<pid>/fd or /proc/<pid>/map_files of another process names the same file (device and
//   inode). Processes the caller may not inspect are not seen.
// - A mandatory lock is a lock another open file description holds that conflicts with writing
//   the whole file (F_OFD_GETLK).
//
// The file is opened once, without following a link, and checked to be the item the walk saw
// (device and inode): a name swapped since is refused, never inspected in its place. The open
// never changes the file's access time.
//
// Thread: one object per file and thread.
#include "Base/KxError.h"

#include <sys/stat.h>

#include <memory>
#include <string>

class CXHSMLowLevelCtx {
public:
    static constexpr const char* kStubAttribute = "user.fsweep.stub";
    static constexpr int kStateOpenOrMapped = 1;
    static constexpr int kStateIdle = 2;

    ~CXHSMLowLevelCtx();
    CXHSMLowLevelCtx(const CXHSMLowLevelCtx&) = delete;
    CXHSMLowLevelCtx& operator=(const CXHSMLowLevelCtx&) = delete;

    // Opens `path`, which must still be the file `expected` describes; error 0x65B when it
    // cannot be opened or is another file now.
    [[nodiscard]] static CKxError getByFileName(const std::string& path, const struct stat& expected,
                                                std::unique_ptr<CXHSMLowLevelCtx>& context);
    // Whether the file is a stub, and its state (kStateOpenOrMapped or kStateIdle).
    [[nodiscard]] CKxError GetStubInfo(bool& isStub, int& state) const;
    [[nodiscard]] CKxError IsStub(bool& isStub) const;
    // 1 when another open file description holds a conflicting lock, 0 when none, -1 when the
    // question failed.
    int MandatoryLockTest() const;
    // A file with data and no block allocated.
    static bool IsSparseFileStub(const struct stat& status);

private:
    CXHSMLowLevelCtx(int fd, const struct stat& status) : m_fd(fd), m_status(status) {}
    bool IsOpenOrMappedElsewhere() const;

    int m_fd;
    struct stat m_status;
};

using CXHSMLowLevelCtxPtr = std::shared_ptr<CXHSMLowLevelCtx>;
