#pragma once
// Collect-file name escaping.
//
// A collect line is "<escaped path>[/][|<size>]", one per line, so a path must not carry a raw
// newline or '|', and the backup phase must get the original bytes back. escapeFileName maps:
//   '\'                          -> "\\"
//   bytes 0x01-0x1F, 0x7F and '|' -> "\xHH" (two lower-case hex digits)
//   every other byte (UTF-8 or not) stays as it is.
// unescapeFileName is its exact inverse: it accepts precisely the texts escapeFileName can
// produce (no raw control byte or '|', no "\x" for a byte that would have stayed, no upper-case
// hex, no NUL) and answers anything else with an error value (code 13) naming the offset.
//
// Thread: pure functions, callable from any thread. They run once per item, so they work on
// runs of plain bytes and never allocate beyond growing `out`.
#include "Base/KxError.h"

#include <string>
#include <string_view>

// Appends the escaped form of `path` to `out`.
void escapeFileNameAppend(std::string_view path, std::string& out);
std::string escapeFileName(std::string_view path);

// True when `path` has no byte that escaping would change (the common case: the line can use
// the path as it is).
bool isEscapeFree(std::string_view path);

// Decodes `escaped` into `out` (replacing its content). On error `out` is unspecified.
[[nodiscard]] CKxError unescapeFileName(std::string_view escaped, std::string& out);
