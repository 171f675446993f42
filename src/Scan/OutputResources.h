#pragma once
// COutputResources: the writers of one source volume of a job: its collect-file number, the
// volume's source path and unique id, and the consumers every chain of that volume writes
// through (collect, directory change, ancestors).
//
// Ownership: held by the job's callback in its list of output resources; the consumers are
// shared with the chains built for the volume and live until the clean-up chain has used
// them. Thread: the fields are set once when the resource is appended, under the callback's
// output-resource lock, and only read afterwards.
#include "Engine/ItemConsumer.h"

#include <memory>
#include <string>

class COutputResources {
public:
    COutputResources(int collectNumber, std::string sourceVolumePath, std::string volumeId)
        : m_collectNumber(collectNumber), m_sourceVolumePath(std::move(sourceVolumePath)),
          m_volumeId(std::move(volumeId))
    {
    }

    int GetCollectNumber() const { return m_collectNumber; }
    const std::string& GetSourceVolumePath() const { return m_sourceVolumePath; }
    const std::string& GetVolumeId() const { return m_volumeId; }

    const CItemConsumerPtr& GetCollectConsumer() const { return m_collect; }
    const CItemConsumerPtr& GetDirChangeConsumer() const { return m_dirChange; }
    const CItemConsumerPtr& GetAncestorConsumer() const { return m_ancestors; }
    void SetCollectConsumer(CItemConsumerPtr consumer) { m_collect = std::move(consumer); }
    void SetDirChangeConsumer(CItemConsumerPtr consumer) { m_dirChange = std::move(consumer); }
    void SetAncestorConsumer(CItemConsumerPtr consumer) { m_ancestors = std::move(consumer); }

private:
    int m_collectNumber;
    std::string m_sourceVolumePath;
    std::string m_volumeId;
    CItemConsumerPtr m_collect;
    CItemConsumerPtr m_dirChange;
    CItemConsumerPtr m_ancestors;
};

using COutputResourcesPtr = std::shared_ptr<COutputResources>;
