#include "CollectFile/FVBase.h"

FVBase::~FVBase() = default;
