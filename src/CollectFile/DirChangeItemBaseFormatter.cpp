#include "CollectFile/DirChangeItemBaseFormatter.h"

CDirChangeItemBaseFormatter::~CDirChangeItemBaseFormatter() = default;

std::string CDirChangeItemBaseFormatter::GetFormattedData(const FVBasePtr&) const { return {}; }
