#pragma once
// CHardLinkInterface: the link of a volume's chain that hands hard-linked files to the job's
// hard-link manager, so that the backup stores each file's data once and restores its names as
// links of one file. Two variants, chosen by the job's index version:
//
//   CHardLinkInterfaceV1  every item goes down the chain as usual; a hard-linked file the chain
//                         left selected is also recorded (the manager keeps only the first name
//                         of each file: the names themselves are in the ordinary collect files).
//   CHardLinkInterfaceV2  a hard-linked file is decided by the chain's last link (its record
//                         and selection as for any item) but, when selected, recorded by the
//                         manager instead of written to the ordinary collect file; the manager
//                         writes every name. Everything else goes down the chain unchanged.
//
// A hard-linked file is an item that is not a folder, has more than one name and a local name
// of at most 1023 characters. Items fed back from an earlier job's lists go the same way as
// walked ones: none is dropped here.
//
// Failures: a record that cannot be written is an error that stops the walk: the lines buffered
// for the hard-link collect file would be lost with it.
//
// Thread: as CItemConsumerChain; the manager guards itself.
#include "Engine/ItemConsumerChain.h"

#include <memory>

class HardLinkManager;

class CHardLinkInterface : public CItemConsumerChain {
public:
    static constexpr size_t kMaxLocalName = 1023;

    CHardLinkInterface(CItemConsumerPtr next, std::shared_ptr<HardLinkManager> manager, int collectNumber,
                       long long jobId);
    ~CHardLinkInterface() override;

    // Whether `item` is a hard-linked file this link handles.
    static bool IsHardLinked(const CItem& item);
    // Records the item for this link's collect number.
    [[nodiscard]] CKxError registerWithHLTable(const CItemPtr& item);

protected:
    std::shared_ptr<HardLinkManager> m_manager;
    int m_collectNumber;
};
