#pragma once
// CWorkUnitManager: turns the content lists into work units, one per volume (the mount point
// that holds a content path, or the fixed part of a wildcard content path).
//
// FinalizeWorkUnits(content, content exceptions, filters, filter exceptions, system filters,
// system filter exceptions): every content path goes to its volume's unit
// (AddScanContentItem); every unit then gets every entry of the other five lists. A unit
// slot holding no unit fails with "NULL work unit found in list, key=%s". A malformed entry
// fails with its text.
//
// Configuration bag keys read: "SC::WildCardISC" (bool; wildcard filter terms match
// case-insensitively). The default context, when set, is copied into every unit's bag.
//
// Thread: configured and finalised on one thread; the maps are read by the arbiter after.
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Engine/ContentMapperAPI.h"
#include "Engine/ScanFailureConsumer.h"
#include "Engine/WorkUnit.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CWorkUnitManager {
public:
    // Keys are volume paths compared byte for byte: on Linux /mnt/A and /mnt/a are two mounts,
    // and a case-blind order would merge their units and leave one of them unwalked.
    using WorkUnitMap = std::map<std::string, CWorkUnitPtr>;

    explicit CWorkUnitManager(long long jobId);
    CWorkUnitManager(const CWorkUnitManager&) = delete;
    CWorkUnitManager& operator=(const CWorkUnitManager&) = delete;
    ~CWorkUnitManager();

    void SetConfigurationBag(CBagPtr bag) { m_configurationBag = std::move(bag); }
    void SetContentMapper(ContentMapperAPIPtr mapper) { m_contentMapper = std::move(mapper); }
    void SetDefaultContext(CBagPtr context) { m_defaultContext = std::move(context); }
    void SetFollowMountPaths(bool follow) { m_followMountPaths = follow; }
    void SetScanFailureConsumer(CScanFailureConsumerPtr consumer) { m_failureConsumer = std::move(consumer); }
    // The mount points used to find volumes; without this call they are read from the
    // process's mount table when FinalizeWorkUnits runs.
    void SetMountPoints(std::vector<std::string> mountPoints);

    [[nodiscard]] CKxError FinalizeWorkUnits(const std::vector<std::string>& content,
                                             const std::vector<std::string>& contentExceptions,
                                             const std::vector<std::string>& filters,
                                             const std::vector<std::string>& filterExceptions,
                                             const std::vector<std::string>& systemFilters,
                                             const std::vector<std::string>& systemFilterExceptions);
    // Adds (or replaces) a unit by hand: a further pass for one path, or a test.
    void AddWorkUnit(const std::string& key, CWorkUnitPtr unit);

    // The units by volume name; on this platform both maps hold the same units.
    WorkUnitMap& GetPhysicalMediaVolumeWorkUnitMap() { return m_units; }
    WorkUnitMap& GetWorkUnitMap() { return m_units; }

    long long GetJobId() const { return m_jobId; }
    const CBagPtr& GetConfigurationBag() const { return m_configurationBag; }
    const ContentMapperAPIPtr& GetContentMapper() const { return m_contentMapper; }
    bool GetFollowMountPaths() const { return m_followMountPaths; }
    const CScanFailureConsumerPtr& GetScanFailureConsumer() const { return m_failureConsumer; }

    // The volume (longest mount point) holding a path; "/" when no mount point does.
    std::string GetVolumeOf(const std::string& path) const;

private:
    long long m_jobId;
    CBagPtr m_configurationBag;
    ContentMapperAPIPtr m_contentMapper;
    CBagPtr m_defaultContext;
    bool m_followMountPaths = false;
    CScanFailureConsumerPtr m_failureConsumer;
    std::vector<std::string> m_mountPoints;
    bool m_mountPointsGiven = false;
    WorkUnitMap m_units;
};

using CWorkUnitManagerPtr = std::shared_ptr<CWorkUnitManager>;
