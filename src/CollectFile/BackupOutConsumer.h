#pragma once
// CBackupOutConsumer: an item consumer that writes one line per item it is given, for lists
// of items rather than collect files (the scan's failed-items list):
//
//   <kind> <escaped source path>:<code>
//
// <kind> is "file" for a regular file and "folder" for anything else; <code> is the item bag's
// "errorCode", or 14 when the bag has none. The path is escaped as in collect files, so a
// name with a newline cannot break the list; a reader takes the text before the last ':'.
//
// Thread: Process and RawWriteLine may be called from any thread; lines never interleave.
#include "Base/KxError.h"
#include "CollectFile/BufferedFile.h"
#include "Engine/ItemConsumer.h"

#include <memory>
#include <string>
#include <string_view>

class CBackupOutConsumer : public CItemConsumer {
public:
    static constexpr int kDefaultErrorCode = 14;

    CBackupOutConsumer(long long jobId, std::string path);
    ~CBackupOutConsumer() override;

    [[nodiscard]] CKxError Open(bool append = false);
    bool IsOpen() const { return m_file.IsOpen(); }
    [[nodiscard]] CKxError Close();

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    [[nodiscard]] CKxError RawWriteLine(std::string_view line);
    const std::string& GetFileName() const { return m_path; }

    CBufferedFile& File() { return m_file; }  // tests inject write failures through it

private:
    std::string m_path;
    CBufferedFile m_file;
};

using CBackupOutConsumerPtr = std::shared_ptr<CBackupOutConsumer>;
