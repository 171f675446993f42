#pragma once
// CFileSettingsStore: settings kept as one file per section, registry/<Section> under the
// focused instance (or under a fixed folder given to the constructor).
//
// File format: one setting per line, "name<blanks>value". The name is the first run of
// non-blank characters; the value is the rest of the line after the blanks that follow the
// name, with trailing blanks and CR removed (a name alone has the empty value). Blank lines
// and lines whose first non-blank character is '#' are ignored. Names are compared exactly
// (case matters). When a name occurs twice, the first line counts; Set rewrites that line.
//
// A missing file or key is "not present". Set writes the whole file anew under a temporary
// name and renames it into place, keeping every other line as it was, so a reader never sees
// a half-written section.
//
// Thread: all members may be called from any thread; writes are serialised by m_writeLock.
#include <mutex>
#include <string>

#include "Agent/ISettingsStore.h"

class CFileSettingsStore : public ISettingsStore {
public:
    // Empty `folder`: follow the focused instance's registry/ folder at each call.
    explicit CFileSettingsStore(std::string folder = {});

    bool Get(const std::string& section, const std::string& key, std::string& value,
             std::string& where) const override;
    [[nodiscard]] CKxError Set(const std::string& section, const std::string& key,
                               const std::string& value) override;

    // Parses one line of a section file; false for blank and comment lines.
    static bool ParseLine(const std::string& line, std::string& name, std::string& value);

private:
    std::string SectionPath(const std::string& section) const;

    std::string m_folder;
    std::mutex m_writeLock;
};
