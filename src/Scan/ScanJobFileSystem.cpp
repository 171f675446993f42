#include "Scan/ScanJobFileSystem.h"

CScanJobFileSystem::CScanJobFileSystem() = default;

CScanJobFileSystem::~CScanJobFileSystem() = default;

std::string CScanJobFileSystem::AsString() const { return CScanJob::AsString() + "/FileSystem"; }
