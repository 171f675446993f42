#include "CollectFile/DirChangeItemBaseInfo.h"

CDirChangeItemBaseInfo::~CDirChangeItemBaseInfo() = default;

CKxError CDirChangeItemBaseInfo::ParseFields(const std::vector<std::string>&) { return CKxError::Success(); }
