#pragma once
// CGpfsScanEngine: a parallel cluster file system's policy scan; not walked by this system (see CDecliningScanEngine).
#include "Engine/DecliningScanEngine.h"

class CGpfsScanEngine : public CDecliningScanEngine {
public:
    CGpfsScanEngine() : CDecliningScanEngine("CGpfsScanEngine") {}
    ~CGpfsScanEngine() override;
};
