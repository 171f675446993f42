#include "Engine/RawDeviceScanEngine.h"

#include "Engine/RawDeviceItem.h"
#include "Engine/ScanContext.h"
#include "Engine/ScannerCallback.h"
#include "Engine/WalkRoot.h"
#include "Engine/WorkUnit.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

CRawDeviceScanEngine::~CRawDeviceScanEngine() = default;

bool CRawDeviceScanEngine::AcceptsRoot(const CWalkRoot& root) const
{
    return root.GetStatErrno() == 0 && S_ISBLK(root.GetStatus().st_mode);
}

CKxError CRawDeviceScanEngine::Scan(CScanContext& context, CWorkUnit& unit, const std::vector<const CWalkRoot*>& roots)
{
    CConsumerOutputHandlerPtr handler;
    CKxError e = context.GetCallback().GetOutputHandler(unit.GetVolumeName(), handler);
    if (e.IsSuccess() && !handler)
        e = CKxError(KxCode::NotFound, "Output handler is unconfigured for volume '" + unit.GetVolumeName() + "'");
    KX_RETURN_IF_FAILED(std::move(e), "GetOutputHandler failed for %s", unit.GetVolumeName().c_str());

    for (const CWalkRoot* root : roots) {
        if (context.PollStop())
            break;
        const std::string& path = root->GetLocalPath();
        std::uint64_t size = 0;
        int failure = 0;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            failure = errno;
        else {
            if (::ioctl(fd, BLKGETSIZE64, &size) != 0)
                failure = errno;
            ::close(fd);
        }
        auto item = std::make_shared<CRawDeviceItem>(path, root->GetSourcePath(), root->GetStatus(), size, unit.GetBag());
        if (failure != 0) {
            unit.CountFailure();
            (void)context.ReportFailure(item, failure);
            continue;
        }
        if (context.Deliver(*handler, item, unit) == EConsumerAnswer::Taken)
            unit.CountItem(false);
    }
    return CKxError::Success();
}
