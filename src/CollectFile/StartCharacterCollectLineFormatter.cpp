#include "CollectFile/StartCharacterCollectLineFormatter.h"

#include "Base/FXPath.h"
#include "Base/FileNameEscaping.h"

namespace {
// `path` relative to `folder` ("" for the folder itself, "/x" below it), or false when the
// path does not lie there.
bool RelativeTo(std::string_view path, std::string_view folder, std::string_view& relative)
{
    if (folder.empty() || !FXPath::IsUnder(path, folder))
        return false;
    std::string_view trimmed = folder;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.remove_suffix(1);
    relative = trimmed == "/" ? path : path.substr(trimmed.size());
    if (relative == "/")
        relative = {};
    return true;
}

std::string Under(std::string_view folder, std::string_view relative)
{
    if (relative.empty())
        return std::string(folder);
    return FXPath::Append(folder, relative);
}
}  // namespace

CStartCharacterCollectLineFormatter::CStartCharacterCollectLineFormatter(CCollectLineCommonInfoPtr commonInfo,
                                                                         char fileCharacter, char folderCharacter,
                                                                         char contentPushCharacter, char separator)
    : m_commonInfo(commonInfo ? std::move(commonInfo) : std::make_shared<const CCollectLineCommonInfo>()),
      m_fileCharacter(fileCharacter),
      m_folderCharacter(folderCharacter),
      m_contentPushCharacter(contentPushCharacter),
      m_separator(separator)
{
}

void CStartCharacterCollectLineFormatter::SetBackupAtPath(std::string path) { m_backupAtPath = std::move(path); }
void CStartCharacterCollectLineFormatter::SetSourceVolumePath(std::string path) { m_sourceVolumePath = std::move(path); }
void CStartCharacterCollectLineFormatter::SetMigrationAssistantPath(std::string path)
{
    m_migrationAssistantPath = std::move(path);
}

std::string CStartCharacterCollectLineFormatter::MapPath(std::string_view localPath) const
{
    std::string path(localPath);
    std::string_view relative;
    const std::string& localVolume = m_commonInfo->localVolumePath;
    if (!m_sourceVolumePath.empty() && RelativeTo(localPath, localVolume, relative))
        path = Under(m_sourceVolumePath, relative);

    if (!m_migrationAssistantPath.empty()) {
        if (RelativeTo(path, m_migrationAssistantPath, relative))
            return relative.empty() ? std::string("/") : std::string(relative);
        return path;
    }
    if (!m_backupAtPath.empty()) {
        const std::string& volume = !m_sourceVolumePath.empty() ? m_sourceVolumePath : localVolume;
        if (RelativeTo(path, volume, relative))
            return Under(m_backupAtPath, relative);
        return Under(m_backupAtPath, path);
    }
    return path;
}

void CStartCharacterCollectLineFormatter::FormatLine(const CCollectFileEntry& entry, std::string& line) const
{
    line.clear();
    line.push_back(m_contentPush ? m_contentPushCharacter : entry.IsFolder() ? m_folderCharacter : m_fileCharacter);
    const std::string path = MapPath(entry.GetPath());
    escapeFileNameAppend(path, line);
    if (entry.IsFolder()) {
        if (line.back() != '/')
            line.push_back('/');
    } else {
        line.push_back(m_separator);
        line += std::to_string(entry.GetSize());
    }
}
