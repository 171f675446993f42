#include "Engine/ItemConsumer.h"

CItemConsumer::~CItemConsumer() = default;
