#pragma once
// Path order of the directory-change index, and how a source path splits into the folder
// whose chunk holds its entry and its name there.
//
// Path order compares byte by byte with '/' ranked below every other byte, i.e. component by
// component: a folder's descendants follow it immediately ("/a", "/a/b", "/a/b/c", "/a!b"),
// so that a depth-first walk of the tree visits folders in this order and a folder's subtree
// is one run of the sorted folder index.
//
// Entry placement: "/a/b" lies in folder "/a" under the name "b", "/a" in folder "/" under
// "a", and the root "/" itself in the folder "" under the name "". A path without any '/'
// lies in folder "" under its own name.
//
// Thread: pure functions.
#include <string>
#include <string_view>

namespace DirChangePathOrder {

// <0, 0, >0 as `a` sorts before, with or after `b` in path order.
int Compare(std::string_view a, std::string_view b) noexcept;
inline bool Less(std::string_view a, std::string_view b) noexcept { return Compare(a, b) < 0; }

// True when `path` is `folder` or lies below it ("/" holds every absolute path, "" every path).
bool IsSameOrBelow(std::string_view folder, std::string_view path) noexcept;

// Drops trailing '/' except for the root itself ("/a/" -> "/a", "//" -> "/").
std::string_view TrimTrailingSlashes(std::string_view path) noexcept;

// The folder whose chunk holds `path`'s entry, and the entry's name (views into `path`).
void Split(std::string_view path, std::string_view& folder, std::string_view& name) noexcept;

// Inverse of Split: appends the path of entry `name` of `folder` to `out`.
void AppendJoined(std::string_view folder, std::string_view name, std::string& out);

}  // namespace DirChangePathOrder
