#pragma once
// CFolderReadPlan: which folders a walk reads. An incremental that knows from a change journal
// where things changed reads only those folders; every other sub-folder is left unread and its
// records are kept from the previous job. A folder on the way to those is passed through: the
// walk opens it and looks, by name, only at the sub-folders the plan names, so that the cost
// follows the change, not the size of the folders above it. The walk asks the plan once per
// sub-folder it would enter, never per item, and never again below a folder the plan answered
// ReadWhole. A job without a plan reads everything, as does a plan whose ReadsEverything is
// true (it still hears of multi-link entries).
//
// Thread: every call comes from any walk worker at once; implementations guard their own
// state.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>
#include <sys/types.h>

class CFolderReadPlan {
public:
    enum class ERead : std::uint8_t {
        Read,         // read the folder; ask again for each of its sub-folders
        ReadWhole,    // read the folder and everything below it
        Kept,         // not entered: the plan has kept its records and everything below
        PassThrough,  // entered only on the way to the sub-folders WayDown names (or read, see Pass)
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
    // For a folder answered PassThrough: the names of its sub-folders on the way to folders the
    // plan reads.
    virtual std::vector<std::string> WayDown(std::string_view sourcePath) = 0;
    // The walk found every WayDown name of `sourcePath` to be a folder of the folder's own file
    // system and enters those alone: the plan keeps the folder's records and those of its other
    // sub-folders. False: the plan could not; the walk reads the folder instead.
    virtual bool Pass(std::string_view sourcePath, const std::vector<std::string>& wayDown) = 0;
    // A folder that was read holds the non-folder (device, inode), which has more than one link.
    // `folderSourcePath` may end with '/'.
    virtual void OnMultiLink(std::string_view folderSourcePath, dev_t device, ino_t inode) = 0;
};
