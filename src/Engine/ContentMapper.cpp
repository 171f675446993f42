#include "Engine/ContentMapper.h"

#include "Base/FXPath.h"

CContentMapper::~CContentMapper() = default;

void CContentMapper::AddMapping(const std::string& localPrefix, const std::string& sourcePrefix)
{
    m_mappings.emplace_back(FXPath::TrimTrailingSlashes(localPrefix), FXPath::TrimTrailingSlashes(sourcePrefix));
}

std::string CContentMapper::GetSourcePath(const std::string& localPath) const
{
    const std::pair<std::string, std::string>* best = nullptr;
    for (const auto& mapping : m_mappings)
        if (FXPath::IsUnder(localPath, mapping.first) && (!best || mapping.first.size() > best->first.size()))
            best = &mapping;
    if (!best)
        return localPath;
    std::string rest = localPath.substr(best->first == "/" ? 0 : best->first.size());
    if (best->second == "/" )
        return rest.empty() ? std::string("/") : rest;
    return best->second + rest;
}

std::string CContentMapper::GetSourceVolumeName(const std::string& localVolume) const
{
    return GetSourcePath(localVolume);
}
