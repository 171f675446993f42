#include "Engine/WalkRoot.h"

CWalkRoot::CWalkRoot(std::string localPath, std::string sourcePath)
    : m_localPath(std::move(localPath)), m_sourcePath(std::move(sourcePath))
{
}
