#pragma once
// CContentMapper: the standard content mapper, a list of (local prefix, source prefix)
// pairs; the longest local prefix that holds a path wins, and a path under no prefix maps to
// itself. The way back is the same with the roles swapped (the longest source prefix wins).
// Without pairs it is the identity.
//
// Thread: AddMapping and SetCacheEnabled before the walk starts; the lookups are const and
// safe from every thread.
#include "Engine/ContentMapperAPI.h"

#include <string>
#include <utility>
#include <vector>

class CContentMapper : public ContentMapperAPI {
public:
    CContentMapper() = default;
    ~CContentMapper() override;

    void AddMapping(const std::string& localPrefix, const std::string& sourcePrefix);
    // Multi-threaded scans switch the cache off; this mapper computes every answer, so the
    // switch is only remembered for the log.
    void SetCacheEnabled(bool enabled) { m_cacheEnabled = enabled; }
    bool IsCacheEnabled() const { return m_cacheEnabled; }

    std::string GetSourcePath(const std::string& localPath) const override;
    std::string GetLocalPath(const std::string& sourcePath) const override;
    std::string GetSourceVolumeName(const std::string& localVolume) const override;
    bool IsIdentity() const override { return m_mappings.empty(); }

private:
    std::vector<std::pair<std::string, std::string>> m_mappings;  // local, source
    bool m_cacheEnabled = true;
};

using CContentMapperPtr = std::shared_ptr<CContentMapper>;
