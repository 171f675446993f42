#pragma once
// ICollectLineFormatter: turns one entry into the text of its collect line (without newline).
//
// Thread: FormatLine is const and may run on several threads at once; the setters of an
// implementation are called before the formatter is shared.
#include "CollectFile/CollectFileEntry.h"

#include <string>

class ICollectLineFormatter {
public:
    virtual ~ICollectLineFormatter() = default;
    // Replaces `line` with the entry's line.
    virtual void FormatLine(const CCollectFileEntry& entry, std::string& line) const = 0;
};
