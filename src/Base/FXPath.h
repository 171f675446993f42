#pragma once
// Path text helpers. Paths are byte strings: no encoding is assumed, nothing is normalised
// beyond what each helper says.
#include <string>
#include <string_view>

class FXPath {
public:
    // Joins with exactly one '/' between the parts ("a/" + "/b" = "a/b"); an empty part
    // yields the other unchanged.
    static std::string Append(std::string_view folder, std::string_view name);
    // "/a/b" -> "/a"; "/a" -> "/"; "a" -> ""; trailing slashes are ignored.
    static std::string Parent(std::string_view path);
    // Last component without trailing slashes: "/a/b/" -> "b"; "/" -> "".
    static std::string FileName(std::string_view path);
    // Removes trailing slashes but keeps a lone "/".
    static std::string TrimTrailingSlashes(std::string_view path);
    // True when `path` equals `folder` or lies below it ("/a" holds "/a/b", not "/ab").
    static bool IsUnder(std::string_view path, std::string_view folder);
};
