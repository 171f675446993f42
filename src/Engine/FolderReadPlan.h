#pragma once
// CFolderReadPlan: which folders a walk reads. An incremental that knows from a change journal
// where things changed reads only those folders (and the way to them); every other sub-folder
// is left unread and its records are kept from the previous job. The walk asks the plan once
// per sub-folder it would enter, never per item, and never again below a folder the plan
// answered ReadWhole. A job without a plan reads everything, as does a plan whose
// ReadsEverything is true (it still hears of multi-link entries).
//
// Thread: Enter and OnMultiLink are called from every walk worker at once; implementations
// guard their own state.
#include <cstdint>
#include <string_view>
#include <sys/types.h>

class CFolderReadPlan {
public:
    enum class ERead : std::uint8_t {
        Read,       // read the folder; ask again for each of its sub-folders
        ReadWhole,  // read the folder and everything below it
        Kept,       // not entered: the plan has kept its records and everything below
    };

    CFolderReadPlan() = default;
    CFolderReadPlan(const CFolderReadPlan&) = delete;
    CFolderReadPlan& operator=(const CFolderReadPlan&) = delete;
    virtual ~CFolderReadPlan();

    // True: every folder is read (the walk never calls Enter).
    virtual bool ReadsEverything() const = 0;
    // The walk is about to enter the folder `sourcePath` (already reported in its parent). Kept
    // only when the plan has kept the folder's records; a plan that cannot keep them answers
    // Read, so nothing is lost.
    virtual ERead Enter(std::string_view sourcePath) = 0;
    // A folder that was read holds the non-folder (device, inode), which has more than one link.
    // `folderSourcePath` may end with '/'.
    virtual void OnMultiLink(std::string_view folderSourcePath, dev_t device, ino_t inode) = 0;
};
