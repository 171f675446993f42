#pragma once
// CFileSystemIdentity: the user, group and supplementary groups the kernel checks a thread's
// file accesses against.
//
// Linux keeps these per thread (fsuid, fsgid and the group list are part of each thread's
// credentials), so a walk thread can read content as a user while every other thread, and the
// walk thread itself whenever it writes the job's own files, keeps the process's credentials.
// Nothing the job writes is ever created by, owned by or reachable for writing by that user.
//
// A thread takes an identity with a CAssumed scope and goes back to the process's own
// credentials for the length of a COwnCredentials scope. Only the calling thread changes:
// the group list is set through the raw system call, because the C library's setgroups
// switches every thread of the process. While fsuid is not 0 the kernel also withholds the
// file-system capabilities (reading or writing past the modes) from the thread; going back
// to fsuid 0 restores them.
//
// Threads created by a thread that has assumed an identity inherit it without knowing:
// create threads outside CAssumed scopes (or inside a COwnCredentials one).
//
// Thread: an identity is an immutable value and may be shared; the scopes act on the calling
// thread only and must end on it, innermost first.
#include "Base/KxError.h"

#include <sys/types.h>

#include <string>
#include <vector>

class CFileSystemIdentity {
public:
    CFileSystemIdentity(uid_t uid, gid_t gid, std::vector<gid_t> groups);

    // The identity of user `uid`: its name, its primary group and the groups the group database
    // gives it.
    // Error 1168 when the user database does not know the uid, 13 when its groups cannot be read.
    [[nodiscard]] static CKxError ForUser(uid_t uid, CFileSystemIdentity& identity);

    uid_t GetUid() const { return m_uid; }
    gid_t GetGid() const { return m_gid; }
    const std::vector<gid_t>& GetGroups() const { return m_groups; }
    const std::string& GetUserName() const { return m_userName; }  // empty unless from ForUser

    // The calling thread checks file accesses as `identity` until the scope ends (nothing
    // changes when `identity` is null). Check GetStatus: a thread that could not switch has
    // kept the process's credentials and must not read content for the user.
    class CAssumed {
    public:
        explicit CAssumed(const CFileSystemIdentity* identity);
        ~CAssumed();
        CAssumed(const CAssumed&) = delete;
        CAssumed& operator=(const CAssumed&) = delete;
        const CKxError& GetStatus() const { return m_status; }

    private:
        friend class CFileSystemIdentity;
        const CFileSystemIdentity* m_identity = nullptr;
        uid_t m_ownUid = 0;
        gid_t m_ownGid = 0;
        std::vector<gid_t> m_ownGroups;
        CAssumed* m_outer = nullptr;
        CKxError m_status;
    };

    // Around every creation, open or rename of the job's own files on a thread that may have
    // assumed an identity: for the scope's length the thread has the process's credentials
    // again. On a thread that has assumed none (the usual case) it costs one thread-local
    // read and changes nothing.
    class COwnCredentials {
    public:
        COwnCredentials();
        ~COwnCredentials();
        COwnCredentials(const COwnCredentials&) = delete;
        COwnCredentials& operator=(const COwnCredentials&) = delete;

    private:
        CAssumed* m_suspended = nullptr;
    };

    // The identity the calling thread checks file accesses as, or null for its own credentials.
    static const CFileSystemIdentity* Current();

private:
    uid_t m_uid;
    gid_t m_gid;
    std::vector<gid_t> m_groups;
    std::string m_userName;
};
