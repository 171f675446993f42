#include "Engine/FolderReadPlan.h"

CFolderReadPlan::~CFolderReadPlan() = default;
