// The backup index's job files, as the true-up and the failed-file step read them: the input cut at
// NUL bytes is up to three job files of one subclient (1.idx, 2.idx, 3.idx). Every line that
// parses is written again and must parse back to the same values; a browse that succeeds must
// give known kinds in strictly increasing path order; the failure lists are read.
#include "Agent/BackupIndexFormat.h"
#include "Agent/FileBackupIndex.h"
#include "Base/DirChangePathOrder.h"
#include "FuzzScratch.h"

#include <cstdlib>
#include <filesystem>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::vector<std::string> files = FuzzScratch::Split(data, size, '\0');
    std::filesystem::remove_all(FuzzScratch::Folder() + "/2_5");
    std::filesystem::create_directory(FuzzScratch::Folder() + "/2_5");
    for (size_t i = 0; i < files.size() && i < 3; ++i) {
        FuzzScratch::WriteFile("2_5/" + std::to_string(i + 1) + ".idx", files[i]);
        for (const std::string& text : FuzzScratch::Split(reinterpret_cast<const std::uint8_t*>(files[i].data()),
                                                          files[i].size(), '\n')) {
            BackupIndexFormat::SLine line, again;
            if (BackupIndexFormat::ParseLine(text, line).IsError())
                continue;
            std::string written;
            BackupIndexFormat::AppendLine(line, written);
            written.pop_back();
            if (BackupIndexFormat::ParseLine(written, again).IsError() || !(again.item == line.item) ||
                again.error != line.error)
                std::abort();
        }
    }

    CFileBackupIndex index(FuzzScratch::Folder(), 2, 5);
    std::string previous;
    bool first = true;
    (void)index.Browse([&](const SIndexItem& item) {
        if ((!first && !DirChangePathOrder::Less(previous, item.path)) ||
            std::string_view("fdlo").find(item.kind) == std::string_view::npos)
            std::abort();
        previous = item.path;
        first = false;
        return CKxError::Success();
    });
    std::vector<SIndexFailure> failures;
    for (long long job = 1; job <= 3; ++job)
        (void)index.GetFailedFiles(job, failures);
    return 0;
}
