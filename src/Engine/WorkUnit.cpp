#include "Engine/WorkUnit.h"

#include "Base/FXPath.h"
#include "Base/LogWriter.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace {
// A plain content path as a pattern: the backslash is the pattern's escape character.
std::string EscapeForPattern(const std::string& path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

}  // namespace

CWorkUnit::CWorkUnit(std::string key, std::string volume)
    : m_key(std::move(key)), m_volume(std::move(volume)), m_bag(std::make_shared<CBag>())
{
}

CWorkUnit::~CWorkUnit() = default;

std::string CWorkUnit::GetWalkRootOf(const std::string& entry)
{
    if (!CFilterTerm::IsWildcardItem(entry))
        return FXPath::TrimTrailingSlashes(entry);
    CFilterTerm term;
    if (term.LoadRaw(entry).IsError())
        return std::string();
    std::string prefix = term.GetFilterPrefix();
    if (prefix.empty())
        return "/";
    return FXPath::TrimTrailingSlashes(prefix);
}

int CWorkUnit::GetMaxWorkers() const
{
    int workers = 1;
    if (int value = 0; m_bag->Read("MaxWorkers", value).IsSuccess())
        workers = value;
    else if (unsigned int uvalue = 0; m_bag->Read("MaxWorkers", uvalue).IsSuccess())
        workers = static_cast<int>(std::min(uvalue, 1024u));
    return std::clamp(workers, 1, 1024);
}

CKxError CWorkUnit::AddScanContentItem(const std::string& path)
{
    if (path.empty() || path.front() != '/')
        return CKxError(KxCode::InvalidParameter, "Scan content must be an absolute path: [" + path + "]");
    if (CFilterTerm::IsWildcardItem(path)) {
        CFilterTerm term;
        KX_RETURN_IF_FAILED(term.LoadRaw(path), "Invalid scan content [%s]", path.c_str());
    }
    m_content.push_back(path);
    m_prepared = false;
    return CKxError::Success();
}

CKxError CWorkUnit::AddScanContentExceptionItem(const std::string& entry)
{
    KX_RETURN_IF_FAILED(m_contentExceptions.AddFilterItem(entry, m_wildcardCaseInsensitive &&
                                                                     CFilterTerm::IsWildcardItem(entry)),
                        "Invalid content exception");
    return CKxError::Success();
}

CKxError CWorkUnit::AddFilterItem(const std::string& entry)
{
    KX_RETURN_IF_FAILED(m_filters.AddFilterItem(entry, m_wildcardCaseInsensitive && CFilterTerm::IsWildcardItem(entry)),
                        "Invalid filter");
    return CKxError::Success();
}

CKxError CWorkUnit::AddFilterExceptionItem(const std::string& entry)
{
    KX_RETURN_IF_FAILED(
        m_filters.AddFilterExceptionItem(entry, m_wildcardCaseInsensitive && CFilterTerm::IsWildcardItem(entry)),
        "Invalid filter exception");
    return CKxError::Success();
}

CKxError CWorkUnit::AddSystemFilterItem(const std::string& entry)
{
    KX_RETURN_IF_FAILED(
        m_systemFilters.AddFilterItem(entry, m_wildcardCaseInsensitive && CFilterTerm::IsWildcardItem(entry)),
        "Invalid system filter");
    return CKxError::Success();
}

CKxError CWorkUnit::AddSystemFilterExceptionItem(const std::string& entry)
{
    KX_RETURN_IF_FAILED(
        m_systemFilters.AddFilterExceptionItem(entry, m_wildcardCaseInsensitive && CFilterTerm::IsWildcardItem(entry)),
        "Invalid system filter exception");
    return CKxError::Success();
}

bool CWorkUnit::HasNoExclusions() const
{
    return !m_contentExceptions.HasFilters() && !m_filters.HasFilters() && !m_systemFilters.HasFilters();
}

void CWorkUnit::Prepare(const ContentMapperAPIPtr& mapper)
{
    if (m_prepared)
        return;
    m_roots.clear();

    // Outermost roots first: a content path under another one's root is walked by that root.
    std::vector<std::string> rootPaths;
    for (const std::string& entry : m_content) {
        std::string root = GetWalkRootOf(entry);
        if (!root.empty())
            rootPaths.push_back(root);
    }
    std::sort(rootPaths.begin(), rootPaths.end());
    rootPaths.erase(std::unique(rootPaths.begin(), rootPaths.end()), rootPaths.end());
    std::vector<std::string> outermost;
    for (const std::string& root : rootPaths) {
        bool covered = false;
        for (const std::string& outer : outermost)
            if (FXPath::IsUnder(root, outer)) {
                covered = true;
                break;
            }
        if (!covered)
            outermost.push_back(root);
    }

    for (const std::string& rootPath : outermost) {
        std::string source = mapper && !mapper->IsIdentity() ? mapper->GetSourcePath(rootPath) : rootPath;
        CWalkRoot root(rootPath, source);
        for (const std::string& entry : m_content) {
            std::string entryRoot = GetWalkRootOf(entry);
            if (entryRoot.empty() || !FXPath::IsUnder(entryRoot, rootPath))
                continue;
            if (!CFilterTerm::IsWildcardItem(entry)) {
                if (FXPath::TrimTrailingSlashes(entry) == rootPath) {
                    root.SetTakesWholeTree();
                    continue;
                }
                (void)root.GetContentPatterns().AddFilterItem(EscapeForPattern(FXPath::TrimTrailingSlashes(entry)));
            } else {
                (void)root.GetContentPatterns().AddFilterItem(entry);
            }
        }
        if (std::find(m_linkFreeRoots.begin(), m_linkFreeRoots.end(), rootPath) != m_linkFreeRoots.end())
            root.SetReachedWithoutLinks();
        struct stat status {};
        if (::lstat(rootPath.c_str(), &status) == 0)
            root.SetStatus(status);
        else
            root.SetStatErrno(errno);
        FSLOG(3, "Walk root [%s] source [%s] whole tree [%d] without links [%d]", rootPath.c_str(), source.c_str(),
              root.TakesWholeTree() ? 1 : 0, root.IsReachedWithoutLinks() ? 1 : 0);
        m_roots.push_back(std::move(root));
    }
    m_prepared = true;
}

void CWorkUnit::SetStatus(const CKxError& status)
{
    std::lock_guard lock(m_statusLock);
    m_status = status;
}

CKxError CWorkUnit::GetStatus() const
{
    std::lock_guard lock(m_statusLock);
    return m_status;
}
