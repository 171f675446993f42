#pragma once
// CDataClassificationScanEngine: a data-classification index; not walked by this system (see CDecliningScanEngine).
#include "Engine/DecliningScanEngine.h"

class CDataClassificationScanEngine : public CDecliningScanEngine {
public:
    CDataClassificationScanEngine() : CDecliningScanEngine("CDataClassificationScanEngine") {}
    ~CDataClassificationScanEngine() override;
};
