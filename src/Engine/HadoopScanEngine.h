#pragma once
// CHadoopScanEngine: a distributed file store; not walked by this system (see CDecliningScanEngine).
#include "Engine/DecliningScanEngine.h"

class CHadoopScanEngine : public CDecliningScanEngine {
public:
    CHadoopScanEngine() : CDecliningScanEngine("CHadoopScanEngine") {}
    ~CHadoopScanEngine() override;
};
