#pragma once
// CFastFindFirstScanEngine: a change-journal driven walk; not walked by this system (see CDecliningScanEngine).
#include "Engine/DecliningScanEngine.h"

class CFastFindFirstScanEngine : public CDecliningScanEngine {
public:
    CFastFindFirstScanEngine() : CDecliningScanEngine("CFastFindFirstScanEngine") {}
    ~CFastFindFirstScanEngine() override;
};
