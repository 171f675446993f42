#include "CollectFile/IncrFlatCollectFile.h"

CKxError CIncrFlatCollectFile::RawWriteDeletedItem(const std::string& line)
{
    if (!IsOpen())
        return CKxError(6, KxFormat("Failed to write to '%s': the collect file is not open", GetFileName().c_str()));
    std::string withNewline;
    withNewline.reserve(line.size() + 1);
    withNewline.append(line);
    withNewline.push_back('\n');
    // Counted as an item, never as a folder: "??D<path>" names a folder that is gone.
    KX_RETURN_IF_ERROR(AppendLine(withNewline, false, 0));
    return CKxError::Success();
}
