#pragma once
// FVBase: the root of every record the directory-change index stores per path. The index never
// looks inside a record: it stores the text a formatter makes of it and hands the fields back
// to a parser (DirChangeItemBaseFormatter.h, DirChangeItemBaseParser.h).
//
// Thread: a record is owned by whoever holds the shared pointer; records are not shared
// between threads while they change.
#include <memory>

class FVBase {
public:
    FVBase() = default;
    FVBase(const FVBase&) = default;
    FVBase& operator=(const FVBase&) = default;
    virtual ~FVBase();
};

using FVBasePtr = std::shared_ptr<FVBase>;
