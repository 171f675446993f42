#pragma once
// CHadoopInstanceCtx: the Hadoop description of an instance: the name node's URI and the user
// the scan connects as.
//
// This agent keeps no Hadoop instance descriptions: CreateHDPInstance always fails (1168),
// which makes a job that asks for a Hadoop scan from its command line fail its set-up with
// the operator event instead of walking the local file system by mistake. Hadoop scans that
// the agent settings describe (sHadoopURI, sHadoopUser) do not need this object.
//
// Ownership: shared. Thread: any thread.
#include <memory>
#include <string>

#include "Base/KxError.h"

class CHadoopInstanceCtx {
public:
    CHadoopInstanceCtx(std::string uri, std::string user);

    static CKxError CreateHDPInstance(const std::string& instanceId, std::shared_ptr<CHadoopInstanceCtx>& instance);

    const std::string& GetURI() const { return m_uri; }
    const std::string& GetUser() const { return m_user; }

private:
    std::string m_uri;
    std::string m_user;
};
