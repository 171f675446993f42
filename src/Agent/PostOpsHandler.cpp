#include "Agent/PostOpsHandler.h"

CPostOpsHandler::CPostOpsHandler(CBackupJobClientPtr client) : m_client(std::move(client)) {}

std::shared_ptr<CPostOpsHandler> CPostOpsHandler::GetInstance(const CBackupJobClientPtr& client)
{
    return std::make_shared<CPostOpsHandler>(client);
}

CKxError CPostOpsHandler::AddPostOpsPhaseParams(std::string& /*params*/) { return CKxError::Success(); }
