#pragma once
// CJournalTargets: the subclients of an instance that keep a change journal, as the daemon
// needs them: results folder and content roots.
//
// Read from every config/apps/<orbundId>:<appNumber>.json whose "subclient.changeJournal" is
// true. A content entry's root is the entry up to the folder before its first wildcard
// component. Each root is resolved with realpath: events name real paths, the journal names the
// paths as the content gives them. A subclient with a content entry that is not an absolute
// path or whose root cannot be resolved keeps no journal (its scans walk): `refused` says why.
//
// Thread: any thread (no shared state). Needs the instance focus.
#include <string>
#include <vector>

#include "Base/KxError.h"

struct SJournalRoot {
    std::string configured;  // as the content names it (trailing '/' removed)
    std::string real;        // realpath of it
};

struct SJournalTarget {
    std::string application;    // "<orbundId>:<appNumber>"
    std::string resultsFolder;  // <job results folder>/<orbundId>/<appNumber>
    std::vector<SJournalRoot> roots;
};

class CJournalTargets {
public:
    // Fills `targets`; `refused` gets one line per subclient that asked for a journal and cannot
    // have one. Fails only when the configuration folder cannot be listed.
    [[nodiscard]] static CKxError Load(std::vector<SJournalTarget>& targets, std::vector<std::string>& refused);
    // The folder an entry's walk starts at: "/a/b/*.c" -> "/a/b"; "" when not absolute.
    static std::string RootOfEntry(const std::string& entry);
};
