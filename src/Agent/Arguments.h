#pragma once
// CArguments: the job's identity read from the command line. Each helper fails with code 87
// and a message naming the option when the option is missing, has no value, or its value is
// not of the expected form; a null command line fails with 87 as well.
//
// Thread: any thread.
#include <cstdint>
#include <string>

#include "Agent/CommandLineArguments.h"
#include "Base/KxError.h"

class CArguments {
public:
    // Option "j": a signed 64-bit decimal number.
    [[nodiscard]] static CKxError GetJobId(const CCommandLineArguments& args, int64_t& jobId);
    // Option "a": "<orbundId>:<appNumber>", returned as given.
    [[nodiscard]] static CKxError GetApplicationId(const CCommandLineArguments& args, std::string& appId);
    // Option "a" split into its two numbers.
    [[nodiscard]] static CKxError GetOrbundAndAppId(const CCommandLineArguments& args, uint64_t& orbundId,
                                                    uint64_t& appNumber);
    // Option "cn": non-empty text.
    [[nodiscard]] static CKxError GetClientName(const CCommandLineArguments& args, std::string& clientName);

    [[nodiscard]] static CKxError GetJobId(const CCommandLineArgumentsPtr& args, int64_t& jobId);
    [[nodiscard]] static CKxError GetApplicationId(const CCommandLineArgumentsPtr& args, std::string& appId);
    [[nodiscard]] static CKxError GetOrbundAndAppId(const CCommandLineArgumentsPtr& args, uint64_t& orbundId,
                                                    uint64_t& appNumber);
    [[nodiscard]] static CKxError GetClientName(const CCommandLineArgumentsPtr& args, std::string& clientName);
    // Option "depotnode": the storage server's name, non-empty text.
    [[nodiscard]] static CKxError GetDepotnodeName(const CCommandLineArgumentsPtr& args, std::string& server);
};
