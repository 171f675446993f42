#pragma once
// FuzzScratch: what every fuzz target shares. Parsers that read a file get the input through a
// file of a private scratch folder, rewritten for each input; the folder goes when the process
// exits. The log is silenced: a parser's refusal is the expected course, not news.
//
// Thread: the fuzzing thread only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace FuzzScratch {

// Silences the log and makes the scratch folder (once).
void Initialize();
// The scratch folder (mode 0700, unpredictable name).
const std::string& Folder();
// Writes `bytes` as the whole of `name` in the scratch folder; returns its path. A failed write
// aborts: the target could not test anything.
std::string WriteFile(const std::string& name, std::string_view bytes);
// `data` cut at every `separator` byte (the pieces without it; n separators give n + 1 pieces).
std::vector<std::string> Split(const std::uint8_t* data, size_t size, char separator);

}  // namespace FuzzScratch
