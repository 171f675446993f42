#pragma once
// ZVPassword: turns a stored password into the one to present.
//
// Passwords of control hosts are stored by the storage-array manager; this agent stores them
// as given, so decrypt hands the text back unchanged. An empty stored password is refused
// (87): a host without one cannot be logged in to.
//
// Thread: any thread.
#include <string>

#include "Base/KxError.h"

class ZVPassword {
public:
    static CKxError decrypt(const std::string& stored, std::string& plain);
};
