#include "Agent/Subclient.h"

#include "Agent/GPFSSubclient.h"

Subclient::Subclient(SubclientData data) : m_data(std::make_shared<const SubclientData>(std::move(data))) {}

std::shared_ptr<Subclient> Subclient::Create(SubclientData data)
{
    if (!data.distributed)
        return std::make_shared<Subclient>(std::move(data));
    if (data.clusterType == 3)
        return std::make_shared<GPFSSubclient>(std::move(data));
    return std::make_shared<DistributedSubclient>(std::move(data));
}

CKxError Subclient::getSubclientId(uint64_t& id) const
{
    id = m_data->id;
    return CKxError::Success();
}

CKxError Subclient::getSubclientName(std::string& name) const
{
    name = m_data->name;
    return CKxError::Success();
}

CKxError Subclient::isDefaultSubclient(bool& isDefault) const
{
    isDefault = m_data->isDefault;
    return CKxError::Success();
}

CKxError Subclient::getContent(std::vector<std::string>& paths) const
{
    paths = m_data->content;
    return CKxError::Success();
}

CKxError Subclient::getFilters(std::vector<std::string>& patterns) const
{
    patterns = m_data->filters;
    return CKxError::Success();
}

CKxError Subclient::getFilterExceptions(std::vector<std::string>& patterns) const
{
    patterns = m_data->filterExceptions;
    return CKxError::Success();
}

CKxError Subclient::getFileNameContent(std::vector<std::string>& patterns) const
{
    patterns = m_data->fileNameContent;
    return CKxError::Success();
}

CKxError Subclient::getFileNameFilters(std::vector<std::string>& patterns) const
{
    patterns = m_data->fileNameFilters;
    return CKxError::Success();
}

CKxError Subclient::getOtherSubclientsContent(std::vector<std::string>& paths) const
{
    paths = m_data->otherSubclientsContent;
    return CKxError::Success();
}

CKxError Subclient::getNumStreams(uint32_t& streams) const
{
    streams = m_data->numStreams;
    return CKxError::Success();
}

CKxError Subclient::isFolderLevelMultithreadEnabled(bool& enabled) const
{
    enabled = m_data->folderLevelThreads > 0;
    return CKxError::Success();
}

CKxError Subclient::getFolderLevelThreads(uint32_t& threads) const
{
    threads = m_data->folderLevelThreads;
    return CKxError::Success();
}

CKxError Subclient::isCollectAcl(bool& collect) const
{
    collect = m_data->collectAcl;
    return CKxError::Success();
}

CKxError Subclient::getTrueUpOptions(bool& enabled, uint32_t& days, uint32_t& jobs) const
{
    enabled = m_data->trueUpEnabled;
    days = m_data->trueUpDays;
    jobs = m_data->trueUpJobs;
    return CKxError::Success();
}

CKxError Subclient::isPreserveFileAccessTimes(bool& preserve) const
{
    preserve = m_data->preserveAccessTimes;
    return CKxError::Success();
}

CKxError Subclient::getBackupAfterDate(bool& set, uint64_t& date) const
{
    set = m_data->backupAfterDate != 0;
    date = m_data->backupAfterDate;
    return CKxError::Success();
}

CKxError Subclient::isFollowSymbolicLinkEnabled(bool& enabled) const
{
    enabled = m_data->followSymbolicLinks;
    return CKxError::Success();
}

CKxError Subclient::isAppleDoubleSupportEnabled(bool& enabled) const
{
    enabled = m_data->appleDouble;
    return CKxError::Success();
}

CKxError Subclient::isMultipleReadsPerDiskEnabled(bool& enabled) const
{
    enabled = m_data->multipleReadsPerDisk;
    return CKxError::Success();
}

CKxError Subclient::getBlockLevelBackup(int& value) const
{
    value = m_data->blockLevelBackup;
    return CKxError::Success();
}

CKxError Subclient::isDDBBackup(bool& ddb) const
{
    ddb = m_data->ddbBackup;
    return CKxError::Success();
}

CKxError Subclient::getDeleteFilesWithoutBackup(int& value) const
{
    value = m_data->deleteFilesWithoutBackup;
    return CKxError::Success();
}

CKxError Subclient::getSnapEngine(int& value) const
{
    value = m_data->snapEngine;
    return CKxError::Success();
}

CKxError Subclient::isHonorArchiverRetention(bool& honor) const
{
    honor = m_data->honorArchiverRetention;
    return CKxError::Success();
}

CKxError Subclient::getArchivingRules(SArchivingRules& rules) const
{
    rules = m_data->archiving;
    return CKxError::Success();
}

CKxError Subclient::getBackupNodes(uint32_t& nodes) const
{
    nodes = m_data->backupNodes;
    return CKxError::Success();
}

CKxError Subclient::getExtentBackupOptions(bool& enabled, bool& aclOnly, uint64_t& fileSizeThreshold) const
{
    enabled = m_data->extentBackupEnabled;
    aclOnly = m_data->extentAclOnly;
    fileSizeThreshold = m_data->extentFileSizeThreshold;
    return CKxError::Success();
}
