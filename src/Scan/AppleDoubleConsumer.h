#pragma once
// CAppleDoubleConsumer: pairs AppleDouble companion files ("._" followed by the name of the
// file they belong to, holding that file's resource fork and Finder data) with their files, on
// volumes that keep them as plain files ("SC:AppleDouble"; volumes that keep the data natively
// need none of this).
//   - "._<name>" that is an AppleDouble file whose "<name>" exists in the same folder is
//     dropped: it travels with its file;
//   - any other item gets the AppleDouble flag when "._<name>" beside it is an AppleDouble
//     file, and passes.
// A name of exactly "._" is an ordinary name. Items not read from the file system pass.
//
// Thread: stateless; any thread.
#include "Engine/ItemConsumerChain.h"

#include <string>

class CAppleDoubleConsumer : public CItemConsumerChain {
public:
    static constexpr const char* kPrefix = "._";

    explicit CAppleDoubleConsumer(CItemConsumerPtr next, long long jobId = 0);
    ~CAppleDoubleConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

    // True when the file at `path` starts with the AppleDouble magic and version 2
    // (00 05 16 07 00 02 00 00) and holds at least one entry (16-bit count at offset 24).
    // A file that cannot be opened or is shorter than 26 bytes is not one.
    static bool IsAppleDoubleFile(const std::string& path);
};
