#include "Scan/Unix/UnixScannerOptions.h"

#include "Agent/ApplicationId.h"
#include "Base/FunctionTrace.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"

namespace {
namespace Bag = SXScannerConfigurationBagId;
using S = CScannerSettings;

constexpr int kClusterGpfs = 3;

// Application types whose scan keeps access times when the subclient asks for it.
bool IsPreserveATimeAppType(unsigned long appType)
{
    return appType == 22 || appType == 23 || appType == 80 || appType == 103 || appType == 104 || appType == 126;
}

// Application types that back up hard links once per group.
bool IsHardLinkAppType(unsigned long appType)
{
    return (appType >= 17 && appType <= 21) || appType == 29 || appType == 36 || appType == 64;
}
}  // namespace

CUnixScannerOptions::CUnixScannerOptions() = default;
CUnixScannerOptions::~CUnixScannerOptions() = default;

CKxError CUnixScannerOptions::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    if (CKxError result = CScannerOptions::LoadConfiguration(applicationId); result.IsError())
        return result;
    CBag& bag = *m_bag;
    const std::shared_ptr<ApplicationId>& appId = GetLoadedApplicationId();
    std::shared_ptr<SubclientConf> subclientConf = appId ? appId->getSubclientConf() : nullptr;
    if (!subclientConf)
        return CKxError(KxCode::UnknownProduct, "getSubclientConf failed");

    bool useMtime = true;
    if (subclientConf->getUnixMtimeFlag(useMtime).IsError()) {
        FSLOG(0, "getUnixMtimeFlag() failed, we would use default TRUE for mtime.");
        useMtime = true;
    }
    S::Put(bag, Bag::idUseMTime, useMtime);

    std::string mountOptions;
    if (subclientConf->getFileShareAutoMountOptions(mountOptions).IsError()) {
        FSLOG(0, "getFileShareAutoMountOptions() failed, no mount options will be used.");
        mountOptions.clear();
    }
    S::Put(bag, Bag::idFileShareAutoMountOptions, mountOptions);

    const unsigned long appType = GetLoadedAppType();
    if (IsPreserveATimeAppType(appType) && bag.GetBool(Bag::idPreserveATime)) {
        // Reading a file to keep its access time changes its ctime; only mtime can tell
        // changed files apart then.
        FSLOG(0, "Configuring for preserve access time");
        bool useCtime = false;
        if (bag.Read(Bag::idUseCTime, useCtime).IsError() || useCtime) {
            S::Put(bag, Bag::idUseCTime, false);
            FSLOG(0, "Disabling CTime since preserve access time is set");
        }
        bool mtime = false;
        if (bag.Read(Bag::idUseMTime, mtime).IsError() || !mtime) {
            S::Put(bag, Bag::idUseMTime, true);
            FSLOG(0, "Enabling MTime since preserve access time is set");
        }
    } else {
        bool useCtime = true;
        if (subclientConf->getUnixCtimeFlag(useCtime).IsError()) {
            FSLOG(0, "getUnixCtimeFlag() failed, we would use default TRUE for ctime.");
            useCtime = true;
        }
        S::Put(bag, Bag::idUseCTime, useCtime);
        if (!useMtime && !useCtime) {
            // Without either time no change could be seen at all.
            S::Put(bag, Bag::idUseMTime, true);
            FSLOG(0, "Subclient suggests both UseMTime and UseCTime are false, will use MTime");
        }
    }

    if (S::GetInteger(bag, Bag::idDistributedAppType, 0) == kClusterGpfs) {
        S::Put(bag, Bag::idGpfsScan, true);
        FSLOG(0, "This is a Distributed GPFS instance. Enabling Gpfs scan by default");
    } else if (S::IsSet("nUseGpfsScan")) {
        S::Put(bag, Bag::idGpfsScan, true);
        FSLOG(0, "Registry key set to use GPFS scan");
        S::Put(bag, Bag::idIncrImageMode, true);
        FSLOG(0, "Enabling incremental image mode for GPFS");
    }

    if (IsHardLinkAppType(appType)) {
        std::string hardLinks;
        S::GetString("HLINK", hardLinks);
        if (S::StartsWith(hardLinks, 'Y')) {
            S::Put(bag, Bag::idHardLinkEnable, true);
            FSLOG(0, "HardLink Backup Enabled");
        } else {
            FSLOG(0, "HardLink Backup Disabled");
        }
    } else {
        FSLOG(0, "HardLink Backup And Restore Disabled (apptype=%lu)", appType);
    }

    S::Put(bag, Bag::idProcessTopLevelContent, true);
    S::Put(bag, Bag::idSkipIncompleteLargeFileBrowse, !S::IsSet("bEnableFileExtentIncompleteFilesTrueUp"));
    return CKxError::Success();
}
