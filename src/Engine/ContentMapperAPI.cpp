#include "Engine/ContentMapperAPI.h"

ContentMapperAPI::~ContentMapperAPI() = default;
