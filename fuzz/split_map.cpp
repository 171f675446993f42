// The split map ("split_config") as the backup phase reads it, beside collect files 0 to 7.
#include "FuzzScratch.h"
#include "Tools/fsbackup/BackupPhase.h"

#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    for (int number = 0; number < 8; ++number)
        FuzzScratch::WriteFile("CollectTot" + std::to_string(number) + ".zvf", "/\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzScratch::WriteFile("split_config", std::string_view(reinterpret_cast<const char*>(data), size));
    CBackupPhase phase(FuzzScratch::Folder(), 1);
    std::set<int> numbers;
    (void)phase.ReadSplitMap(numbers);
    return 0;
}
