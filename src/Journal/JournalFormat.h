#pragma once
// The change-journal file and the daemon's socket: names, record texts and their checks,
// shared by the daemon that writes a journal and the scan that reads one.
//
// A journal is text, one record a line, every line "\n" ended:
//     fsjournal 1 <run id> <sequence>     run id: 16 lower-case hex digits; sequence: decimal >= 1
//     complete-since <unix seconds>       the marks were in place from then on
//     d <escaped folder path>             a folder whose entries, or their data or metadata, changed
//     l <escaped path>                    a new name of a non-folder that has more than one link
//     broken <cause>                      nothing after the last good point can be trusted
//     end                                 the daemon stopped
// Paths are absolute, escaped with escapeFileName, without a trailing '/' (except "/") and
// without empty, "." or ".." components.
//
// Thread: pure functions.
#include <cstdint>
#include <string>
#include <string_view>

#include "Base/KxError.h"

namespace JournalFormat {

inline constexpr const char* kFileName = "ChangeJournal.jnl";
inline constexpr const char* kSocketName = "fsjournald.sock";  // in <instance>/run/
inline constexpr unsigned kVersion = 1;
inline constexpr size_t kRunIdDigits = 16;

// The two header lines.
void AppendHeader(std::string_view runId, uint64_t sequence, int64_t completeSince, std::string& out);
// "d <escaped path>\n" or "l <escaped path>\n".
void AppendFolder(std::string_view path, std::string& out);
void AppendLink(std::string_view path, std::string& out);
// "broken <cause>\n": control bytes of the cause become blanks, an empty cause "unknown".
void AppendBroken(std::string_view cause, std::string& out);
void AppendEnd(std::string& out);

// A fresh run id from getrandom.
[[nodiscard]] CKxError NewRunId(std::string& runId);
bool IsRunId(std::string_view text);
// Decimal without sign or leading zero ("0" itself allowed); false on overflow.
bool ParseDecimal(std::string_view text, uint64_t& value);
// Whether `path` is absolute and canonical as above (decoded form).
bool IsCanonicalPath(std::string_view path);

}  // namespace JournalFormat
