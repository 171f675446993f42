#include "Engine/ScanEngine.h"

CScanEngine::~CScanEngine() = default;
