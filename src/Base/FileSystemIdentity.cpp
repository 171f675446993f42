#include "Base/FileSystemIdentity.h"

#include "Base/LogWriter.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {
// The innermost identity scope active on this thread (null: the thread has its own credentials).
thread_local CFileSystemIdentity::CAssumed* t_assumed = nullptr;

// Switches the calling thread's file-system ids. Groups and group go first and come back
// last, so that the thread never checks as the user with the process's groups.
CKxError SwitchThread(uid_t uid, gid_t gid, const std::vector<gid_t>& groups, bool toUser)
{
    auto setIds = [&]() -> CKxError {
        ::setfsgid(gid);
        if (static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) != gid)
            return CKxError(KxCode::AccessDenied, KxFormat("Could not set the file-system group of this thread to %u",
                                                           static_cast<unsigned>(gid)));
        return CKxError::Success();
    };
    auto setGroups = [&]() -> CKxError {
        if (::syscall(SYS_setgroups, groups.size(), groups.data()) != 0)
            return CKxError::FromErrno(errno, "Could not set the groups of this thread");
        return CKxError::Success();
    };
    auto setUser = [&]() -> CKxError {
        ::setfsuid(uid);
        if (static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) != uid)
            return CKxError(KxCode::AccessDenied, KxFormat("Could not set the file-system user of this thread to %u",
                                                           static_cast<unsigned>(uid)));
        return CKxError::Success();
    };
    if (toUser) {
        KX_RETURN_IF_ERROR(setGroups());
        KX_RETURN_IF_ERROR(setIds());
        return setUser();
    }
    KX_RETURN_IF_ERROR(setUser());
    KX_RETURN_IF_ERROR(setIds());
    return setGroups();
}
}  // namespace

CFileSystemIdentity::CFileSystemIdentity(uid_t uid, gid_t gid, std::vector<gid_t> groups)
    : m_uid(uid), m_gid(gid), m_groups(std::move(groups))
{
}

CKxError CFileSystemIdentity::ForUser(uid_t uid, CFileSystemIdentity& identity)
{
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return CKxError(KxCode::NotFound, KxFormat("User ID %u not found in system", static_cast<unsigned>(uid)));
    std::vector<gid_t> groups(16);
    int count = static_cast<int>(groups.size());
    while (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        if (count <= static_cast<int>(groups.size()))
            return CKxError(KxCode::InvalidData, KxFormat("Failed to init groups for uid %u", static_cast<unsigned>(uid)));
        groups.resize(static_cast<size_t>(count));
    }
    groups.resize(static_cast<size_t>(count));
    identity = CFileSystemIdentity(uid, found->pw_gid, std::move(groups));
    identity.m_userName = found->pw_name;
    return CKxError::Success();
}

const CFileSystemIdentity* CFileSystemIdentity::Current() { return t_assumed ? t_assumed->m_identity : nullptr; }

CFileSystemIdentity::CAssumed::CAssumed(const CFileSystemIdentity* identity)
{
    if (!identity)
        return;
    m_ownUid = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)));
    m_ownGid = static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1)));
    const int count = ::getgroups(0, nullptr);
    m_ownGroups.resize(count > 0 ? static_cast<size_t>(count) : 0);
    if (count < 0 || (count > 0 && ::getgroups(count, m_ownGroups.data()) != count)) {
        m_status = CKxError::FromErrno(errno, "Could not read the groups of this thread");
        return;
    }
    m_status = SwitchThread(identity->m_uid, identity->m_gid, identity->m_groups, true);
    if (m_status.IsError()) {
        (void)SwitchThread(m_ownUid, m_ownGid, m_ownGroups, false);
        return;
    }
    m_identity = identity;
    m_outer = t_assumed;
    t_assumed = this;
}

CFileSystemIdentity::CAssumed::~CAssumed()
{
    if (!m_identity)
        return;
    t_assumed = m_outer;
    CKxError back = SwitchThread(m_ownUid, m_ownGid, m_ownGroups, false);
    if (back.IsError())
        FSLOG_ERROR("Could not give this thread its own credentials back: %s", back.AsString().c_str());
}

CFileSystemIdentity::COwnCredentials::COwnCredentials()
{
    CAssumed* assumed = t_assumed;
    if (!assumed)
        return;
    CKxError own = SwitchThread(assumed->m_ownUid, assumed->m_ownGid, assumed->m_ownGroups, false);
    if (own.IsError()) {
        // What follows then fails on the user's rights, with its own error naming the file.
        FSLOG_ERROR("Could not give this thread its own credentials: %s", own.AsString().c_str());
        return;
    }
    m_suspended = assumed;
    t_assumed = nullptr;
}

CFileSystemIdentity::COwnCredentials::~COwnCredentials()
{
    if (!m_suspended)
        return;
    const CFileSystemIdentity& identity = *m_suspended->m_identity;
    CKxError back = SwitchThread(identity.m_uid, identity.m_gid, identity.m_groups, true);
    if (back.IsError()) {
        // The thread keeps the process's credentials: it reads more than the user could, but
        // hands the user nothing. Say so loudly.
        FSLOG_ERROR("Could not give this thread the identity of uid %u back: %s",
                    static_cast<unsigned>(identity.m_uid), back.AsString().c_str());
        return;
    }
    t_assumed = m_suspended;
}
