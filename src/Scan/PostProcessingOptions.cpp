#include "Scan/PostProcessingOptions.h"

#include "Agent/ApplicationId.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/LogWriter.h"

namespace {
constexpr const char* kFactorKey = "For_Multiple_Reads_On_Disk_Collect_Split_Multiplication_Factor";
}

CPostProcessingOptions::CPostProcessingOptions(std::string applicationId) : m_applicationId(std::move(applicationId))
{
}

CPostProcessingOptions::~CPostProcessingOptions() = default;

CKxError CPostProcessingOptions::LoadConfiguration()
{
    ApplicationId application(m_applicationId);
    std::shared_ptr<Subclient> subclient = application.getSubclient();
    std::uint32_t streams = 0;
    if (!subclient || subclient->getNumStreams(streams).IsError()) {
        FSLOG(0, "Error in getting the number of subclient streams, defaulting to one");
        m_numStreams = 1;
    } else {
        m_numStreams = static_cast<int>(streams);
    }

    if (m_numStreams == -1)
        FSLOG(0, "The number of subclient streams to use is MAX, will use the number of collect files.");
    else
        FSLOG(0, "The number of subclient streams to use is [%d]", m_numStreams);

    if (m_numStreams > 1 || m_numStreams == -1) {
        // The subclient's per-disk choice, or the scanner option the Unix callback applies
        // through SetMultipleReads, divides each collect file further.
        bool perDisk = false;
        if (subclient && subclient->isMultipleReadsPerDiskEnabled(perDisk).IsSuccess() && perDisk)
            m_multipleReads = true;
        if (m_multipleReads) {
            FSLOG(0, "User selected option to perform multiple reads on the disk, will be used to further divide "
                     "the collect and do simultaneous reads on a single drive.");
            ReadMultiplicationFactor();
        } else {
            FSLOG(0, "Defaulting to one read per physical disk, the collect files will not be divided further.");
        }
    } else {
        FSLOG(0, "Collect files will not be split since number of streams is %d", m_numStreams);
    }
    return CKxError::Success();
}

int CPostProcessingOptions::GetCollectFileSplitCount() const
{
    if (m_multipleReads && m_multiplicationFactor > 0)
        return m_numStreams * m_multiplicationFactor;
    return 1;
}

void CPostProcessingOptions::SetMultipleReads()
{
    m_multipleReads = true;
    std::uint32_t factor = 0;
    if (ZVPlatformInfo::getNumber("FileSystemAgent", kFactorKey, factor) && factor != 0)
        m_multiplicationFactor = static_cast<int>(factor);
    FSLOG(0, "Enabling splitting collect per physical disk. %s=%d", kFactorKey, m_multiplicationFactor);
}

void CPostProcessingOptions::ReadMultiplicationFactor()
{
    std::uint32_t factor = 0;
    if (ZVPlatformInfo::getNumber("FileSystemAgent", kFactorKey, factor) && factor != 0) {
        m_multiplicationFactor = static_cast<int>(factor);
        FSLOG(0, "%s=%d", kFactorKey, m_multiplicationFactor);
    }
}
