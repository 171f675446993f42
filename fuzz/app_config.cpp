// Application configuration: the JSON text through the validating reader, then everything the
// content and filter code reads of a subclient that passed, filters compiled and matched against
// the content paths as a walk would.
#include "Agent/AppConfigReader.h"
#include "Agent/SubclientConf.h"
#include "Engine/FilterSet.h"
#include "FuzzScratch.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    AppConfig config;
    if (CAppConfigReader::Parse(text, "fuzz.json", config).IsError() || !config.subclient)
        return 0;

    SubclientConf conf(config.subclient);
    std::vector<std::string> content, others, filters, exceptions, names;
    (void)conf.dirnames(content);
    (void)conf.nodirs(others);
    (void)conf.getFilters2(SubclientConf::NODIRS, filters);
    (void)conf.getFilters2(SubclientConf::YESDIRS, exceptions);
    (void)conf.getFilters2(SubclientConf::YESFILES, names);
    (void)conf.getFilters2(SubclientConf::NOFILES, names);
    bool flag = false;
    std::string option;
    (void)conf.getUnixMtimeFlag(flag);
    (void)conf.getUnixCtimeFlag(flag);
    (void)conf.isUseDCforBackup(flag);
    (void)conf.isDefaultSubclient(flag);
    (void)conf.getFileShareAutoMountOptions(option);
    (void)conf.getSubclientName(option);

    CFilterSet set;
    for (const std::string& entry : filters)
        (void)set.AddFilterItem(entry, flag);
    for (const std::string& entry : exceptions)
        (void)set.AddFilterExceptionItem(entry, flag);
    content.insert(content.end(), others.begin(), others.end());
    content.insert(content.end(), names.begin(), names.end());
    for (const std::string& path : content) {
        (void)set.Decide(path, true);
        (void)set.Decide(path, false);
        (void)set.FilterCouldMatchBelow(path);
        (void)set.ExceptionCouldMatchBelow(path);
    }
    return 0;
}
