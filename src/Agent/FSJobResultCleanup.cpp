#include "Agent/FSJobResultCleanup.h"

bool CFSJobResultCleanup::IsScanJobTypeQualifiedForCleanup(int jobType) { return jobType == 2 || jobType == 5; }
