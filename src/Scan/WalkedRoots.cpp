#include "Scan/WalkedRoots.h"

#include "Base/FXPath.h"
#include "Engine/FilterTerm.h"
#include "Engine/WorkUnit.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace {
bool StatOf(const std::string& path, struct stat& status) { return ::stat(path.c_str(), &status) == 0; }

void AddOnce(std::vector<std::string>& list, const std::string& path)
{
    if (std::find(list.begin(), list.end(), path) == list.end())
        list.push_back(path);
}

bool IsUnderAny(const std::string& path, const std::vector<std::string>& roots)
{
    return std::any_of(roots.begin(), roots.end(), [&](const std::string& root) { return FXPath::IsUnder(path, root); });
}

std::string Escaped(const std::string& path)
{
    std::string out;
    out.reserve(path.size() + 8);
    for (char c : path) {
        if (c == '\\' || c == '*' || c == '?' || c == '[')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}
}  // namespace

void CWalkedRoots::AddContentEntries(const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries) {
        std::string root = CWorkUnit::GetWalkRootOf(entry);
        if (root.empty())
            continue;
        AddOnce(m_contentRoots, root);
        struct stat status {};
        if (StatOf(root, status) && S_ISDIR(status.st_mode))
            m_walkedFolders.insert({status.st_dev, status.st_ino});
    }
}

void CWalkedRoots::AddWalkedRoot(const std::string& path)
{
    const std::string root = FXPath::TrimTrailingSlashes(path);
    AddOnce(m_walkedRoots, root);
    struct stat status {};
    if (StatOf(root, status) && S_ISDIR(status.st_mode))
        m_walkedFolders.insert({status.st_dev, status.st_ino});
}

bool CWalkedRoots::IsWalkedFolder(const std::string& path) const
{
    struct stat status {};
    return StatOf(path, status) && S_ISDIR(status.st_mode) &&
           m_walkedFolders.count({status.st_dev, status.st_ino}) != 0;
}

bool CWalkedRoots::IsWalkedPath(const std::string& path) const
{
    return std::find(m_walkedRoots.begin(), m_walkedRoots.end(), path) != m_walkedRoots.end() ||
           std::find(m_contentRoots.begin(), m_contentRoots.end(), path) != m_contentRoots.end();
}

CWalkedRoots::EVerdict CWalkedRoots::CheckSymLinkTarget(const std::string& target, uid_t linkOwner,
                                                       std::string& resolved, uid_t& targetOwner) const
{
    resolved.clear();
    targetOwner = static_cast<uid_t>(-1);
    const std::string trimmed = FXPath::TrimTrailingSlashes(target);
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(trimmed.c_str(), nullptr), &std::free);
    struct stat status {};
    if (!real || !StatOf(real.get(), status))
        return EVerdict::Missing;
    resolved = real.get();
    targetOwner = status.st_uid;
    // The literal text is checked too: a target named through a link inside the content is the
    // content's business even when its real place lies elsewhere.
    for (const std::string& path : {trimmed, resolved})
        if (IsUnderAny(path, m_contentRoots))
            return EVerdict::UnderContent;
    // Judged on the real place just before its pass: a user who swaps a folder of their own for
    // a link between the walk that met the link and this pass gains nothing.
    if (linkOwner != 0 && linkOwner != targetOwner)
        return EVerdict::ForeignTarget;
    if (IsUnderAny(resolved, m_walkedRoots) || IsWalkedFolder(resolved))
        return EVerdict::AlreadyWalked;
    return EVerdict::New;
}

CWalkedRoots::EVerdict CWalkedRoots::CheckMountPath(const std::string& path) const
{
    const std::string trimmed = FXPath::TrimTrailingSlashes(path);
    struct stat status {};
    if (::lstat(trimmed.c_str(), &status) != 0)
        return EVerdict::Missing;
    if (IsWalkedPath(trimmed) || IsWalkedFolder(trimmed))
        return EVerdict::AlreadyWalked;
    return EVerdict::New;
}

std::vector<std::string> CWalkedRoots::RootsBelow(const std::string& path) const
{
    const std::string top = FXPath::TrimTrailingSlashes(path);
    std::vector<std::string> below;
    for (const auto* list : {&m_contentRoots, &m_walkedRoots})
        for (const std::string& root : *list)
            if (root != top && FXPath::IsUnder(root, top))
                AddOnce(below, root);
    return below;
}

const char* CWalkedRoots::VerdictName(EVerdict verdict)
{
    switch (verdict) {
    case EVerdict::New: return "new";
    case EVerdict::UnderContent: return "under the content";
    case EVerdict::AlreadyWalked: return "already walked";
    case EVerdict::Missing: return "missing";
    case EVerdict::ForeignTarget: return "owned by another user";
    }
    return "?";
}

std::string CWalkedRoots::LiteralContentEntry(const std::string& path)
{
    return CFilterTerm::IsWildcardItem(path) ? Escaped(path) : path;
}

std::string CWalkedRoots::LiteralFilterEntry(const std::string& path) { return Escaped(path); }
