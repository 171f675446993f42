#include "Agent/SubclientConf.h"

SubclientConf::SubclientConf(std::shared_ptr<const SubclientData> data)
    : m_data(data ? std::move(data) : std::make_shared<const SubclientData>())
{
}

CKxError SubclientConf::dirnames(std::vector<std::string>& paths) const
{
    paths = m_data->content;
    return CKxError::Success();
}

CKxError SubclientConf::nodirs(std::vector<std::string>& paths) const
{
    paths = m_data->otherSubclientsContent;
    return CKxError::Success();
}

CKxError SubclientConf::getFilters2(int kind, std::vector<std::string>& patterns) const
{
    switch (kind) {
    case YESDIRS:
        patterns = m_data->filterExceptions;
        return CKxError::Success();
    case NODIRS:
        patterns = m_data->filters;
        return CKxError::Success();
    case YESFILES:
        patterns = m_data->fileNameContent;
        return CKxError::Success();
    case NOFILES:
        patterns = m_data->fileNameFilters;
        return CKxError::Success();
    default:
        return CKxError(KxCode::InvalidParameter, "Unknown filter kind [" + std::to_string(kind) + "]");
    }
}

CKxError SubclientConf::getUnixMtimeFlag(bool& useMtime) const
{
    useMtime = m_data->useMtime;
    return CKxError::Success();
}

CKxError SubclientConf::getUnixCtimeFlag(bool& useCtime) const
{
    useCtime = m_data->useCtime;
    return CKxError::Success();
}

CKxError SubclientConf::getFileShareAutoMountOptions(std::string& options) const
{
    options = m_data->fileShareMountOptions;
    return CKxError::Success();
}

CKxError SubclientConf::isUseDCforBackup(bool& use) const
{
    use = m_data->useDataClassification;
    return CKxError::Success();
}

CKxError SubclientConf::isDefaultSubclient(bool& isDefault) const
{
    isDefault = m_data->isDefault;
    return CKxError::Success();
}

CKxError SubclientConf::getSubclientName(std::string& name) const
{
    name = m_data->name;
    return CKxError::Success();
}
