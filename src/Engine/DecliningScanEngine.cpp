#include "Engine/DecliningScanEngine.h"

#include "Engine/DataClassificationScanEngine.h"
#include "Engine/FastFindFirstScanEngine.h"
#include "Engine/GpfsScanEngine.h"
#include "Engine/HadoopScanEngine.h"

CDecliningScanEngine::~CDecliningScanEngine() = default;

CKxError CDecliningScanEngine::Scan(CScanContext&, CWorkUnit&, const std::vector<const CWalkRoot*>&)
{
    return CKxError(KxCode::InvalidParameter, m_name + " does not walk content on this system");
}

// The declining engines have nothing of their own; their destructors live here so that each
// has one home for its vtable.
CGpfsScanEngine::~CGpfsScanEngine() = default;
CDataClassificationScanEngine::~CDataClassificationScanEngine() = default;
CFastFindFirstScanEngine::~CFastFindFirstScanEngine() = default;
CHadoopScanEngine::~CHadoopScanEngine() = default;
