#pragma once
// SubclientConf: the subclient's file-system configuration as the content, filter and option
// code reads it: content folders, other subclients' content, the four filter lists, the Unix
// time rules, NAS mount options and data classification. It answers from the same
// "subclient" object as Subclient.
//
// Queries are virtual so that tests can derive failing ones.
// Ownership: shared; immutable after construction. Thread: any thread.
#include <memory>
#include <string>
#include <vector>

#include "Agent/Subclient.h"

class SubclientConf {
public:
    // The four filter lists, by the names the content code asks for.
    enum EFilterKind {
        YESDIRS = 1,   // folder filter exceptions ("filterExceptions")
        NODIRS = 2,    // folder filters ("filters")
        YESFILES = 3,  // file-name content ("fileNameContent")
        NOFILES = 4,   // file-name filters ("fileNameFilters")
    };

    explicit SubclientConf(std::shared_ptr<const SubclientData> data);
    virtual ~SubclientConf() = default;

    // Content folders ("content").
    virtual CKxError dirnames(std::vector<std::string>& paths) const;
    // Content of the other subclients of the backup set ("otherSubclientsContent").
    virtual CKxError nodirs(std::vector<std::string>& paths) const;
    // One filter list; an unknown kind fails with 87.
    virtual CKxError getFilters2(int kind, std::vector<std::string>& patterns) const;

    virtual CKxError getUnixMtimeFlag(bool& useMtime) const;
    virtual CKxError getUnixCtimeFlag(bool& useCtime) const;
    virtual CKxError getFileShareAutoMountOptions(std::string& options) const;
    virtual CKxError isUseDCforBackup(bool& use) const;
    virtual CKxError isDefaultSubclient(bool& isDefault) const;
    virtual CKxError getSubclientName(std::string& name) const;

protected:
    std::shared_ptr<const SubclientData> m_data;
};

// The file-system flavour the content code names; the same object.
using FSSubclientConf = SubclientConf;
using SubclientConfPtr = std::shared_ptr<SubclientConf>;
