#include "Engine/ContentMapper.h"

#include "Base/FXPath.h"

CContentMapper::~CContentMapper() = default;

void CContentMapper::AddMapping(const std::string& localPrefix, const std::string& sourcePrefix)
{
    m_mappings.emplace_back(FXPath::TrimTrailingSlashes(localPrefix), FXPath::TrimTrailingSlashes(sourcePrefix));
}

namespace {
// `path` with the longest `from` prefix of the pairs that holds it replaced by its `to`.
template <typename From, typename To>
std::string Translate(const std::vector<std::pair<std::string, std::string>>& mappings, const std::string& path,
                      From from, To to)
{
    const std::pair<std::string, std::string>* best = nullptr;
    for (const auto& mapping : mappings)
        if (FXPath::IsUnder(path, from(mapping)) && (!best || from(mapping).size() > from(*best).size()))
            best = &mapping;
    if (!best)
        return path;
    std::string rest = from(*best) == "/" ? (path == "/" ? std::string() : path) : path.substr(from(*best).size());
    if (to(*best) == "/")
        return rest.empty() ? std::string("/") : rest;
    return to(*best) + rest;
}
const std::string& Local(const std::pair<std::string, std::string>& mapping) { return mapping.first; }
const std::string& Source(const std::pair<std::string, std::string>& mapping) { return mapping.second; }
}  // namespace

std::string CContentMapper::GetSourcePath(const std::string& localPath) const
{
    return Translate(m_mappings, localPath, Local, Source);
}

std::string CContentMapper::GetLocalPath(const std::string& sourcePath) const
{
    return Translate(m_mappings, sourcePath, Source, Local);
}

std::string CContentMapper::GetSourceVolumeName(const std::string& localVolume) const
{
    return GetSourcePath(localVolume);
}
