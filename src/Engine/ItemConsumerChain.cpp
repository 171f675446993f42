#include "Engine/ItemConsumerChain.h"

CItemConsumerChain::~CItemConsumerChain() = default;
