#include "Agent/ISnapBackupManager.h"

ISnapBackupManager::~ISnapBackupManager() = default;
