#include "Engine/ScanFailureConsumer.h"

CScanFailureConsumer::~CScanFailureConsumer() = default;

CKxError CScanFailureConsumer::ReportItemFailure(const CItemPtr& item, int errorNumber)
{
    item->SetErrorNumber(errorNumber);
    return Process(item);
}
