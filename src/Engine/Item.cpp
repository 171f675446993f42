#include "Engine/Item.h"

#include "Base/HotPath.h"

#include <sys/stat.h>

CItem::CItem(std::string localPath, bool isFolder) : m_localPath(std::move(localPath)), m_mode(isFolder ? S_IFDIR : S_IFREG)
{
}

CItem::CItem(std::string localPath, std::string sourcePath, bool isFolder)
    : m_localPath(std::move(localPath)), m_mode(isFolder ? S_IFDIR : S_IFREG)
{
    if (sourcePath != m_localPath)
        m_sourcePath = std::move(sourcePath);
}

CItem::~CItem() = default;

std::string_view CItem::GetItemName() const
{
    std::string_view path = m_localPath;
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return path;
    return path.substr(slash + 1);
}

std::string CItem::GetLocalParentPath() const
{
    std::string_view path = m_localPath;
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return std::string();
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

KX_HOT_PATH bool CItem::IsFolder() const { return S_ISDIR(m_mode); }
bool CItem::IsRegularFile() const { return S_ISREG(m_mode); }
bool CItem::IsSymbolicLink() const { return S_ISLNK(m_mode); }

void CItem::SetErrorNumber(int errorNumber)
{
    m_errorNumber = errorNumber;
    (void)GetBag().Write(ErrorCodeKey, errorNumber);
}

CBag& CItem::GetBag()
{
    if (!m_bag)
        m_bag = std::make_unique<CBag>();
    return *m_bag;
}

CItemInterfacePtr CItem::GetInterface(int) const { return nullptr; }

std::string CItem::AsString() const
{
    return std::string(IsFolder() ? "Folder" : "File") + " '" + GetSourceFullyQualifiedItemName() + "'";
}

KX_HOT_PATH void CItem::SetNames(std::string_view localPath, std::string_view sourcePath)
{
    m_localPath.assign(localPath);
    if (sourcePath.empty() || sourcePath == localPath)
        m_sourcePath.clear();
    else
        m_sourcePath.assign(sourcePath);
}

void CItem::SetTimes(std::int64_t lastWrite, std::int64_t lastChange, std::int64_t lastAccess)
{
    m_lastWriteTime = lastWrite;
    m_lastChangeTime = lastChange;
    m_lastAccessTime = lastAccess;
}

KX_HOT_PATH void CItem::Reset()
{
    m_localPath.clear();
    m_sourcePath.clear();
    m_lastWriteTime = m_lastChangeTime = m_lastAccessTime = 0;
    m_fileSize = 0;
    m_mode = 0;
    m_errorNumber = 0;
    m_flags = 0;
    m_offline = false;
    m_bag.reset();
}
