#include "Scan/ProcessCommitFiles.h"

#include "Base/FXFile.h"
#include "Base/LogWriter.h"
#include "CollectFile/CollectFileReader.h"
#include "CollectFile/OwedItemLine.h"
#include "Scan/OwedItemFeeder.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"

CProcessCommitFiles::CProcessCommitFiles(std::string commitFile, bool deletionLines)
    : m_commitFile(std::move(commitFile)), m_deletionLines(deletionLines)
{
}

CKxError CProcessCommitFiles::Run(CScanJobCallback& callback)
{
    if (!FXFile::Exists(m_commitFile)) {
        FSLOG(0, "There is no commit file (%s)", m_commitFile.c_str());
        return CKxError::Success();
    }
    if (CBagPtr bag = callback.GetScannerConfigurationBag())
        KX_RETURN_IF_ERROR(bag->Write(SXScannerConfigurationBagId::idDontCreateSkipFSConsumer, true));
    CCollectFileReader reader;
    if (CKxError opened = reader.OpenCollectFile(m_commitFile); opened.IsError())
        return std::move(opened.Push(KxFormat("Failed to open file '%s'", m_commitFile.c_str())));
    FSLOG(0, "Processing commit files from '%s'", m_commitFile.c_str());
    // The commit file names each owed item once; the walk's own listing is asked through the
    // record, so no path is kept here.
    COwedItemFeeder feeder(callback, m_deletionLines, false);
    long long processed = 0;
    std::string text;
    std::string lastExtent;
    while (true) {
        KX_RETURN_IF_FAILED(reader.GetNextLine(text), "Failed to read the commit file [%s]", m_commitFile.c_str());
        if (reader.IsEndOfFile())
            break;
        const std::string& raw = reader.GetCurrentRawLine();
        COwedItemLine line;
        if (CKxError parsed = COwedItemLine::ParseCommitLine(raw, line); parsed.IsError()) {
            FSLOG_ERROR("Skipping commit entry [%s]: %s", raw.c_str(), parsed.AsString().c_str());
            continue;
        }
        switch (line.kind) {
        case COwedItemLine::EKind::Skip:
            continue;
        case COwedItemLine::EKind::Extent:
            // The extents of one file follow each other; the file is owed once.
            if (line.path == lastExtent) {
                FSLOG(3, "skipping [%s]", raw.c_str());
                continue;
            }
            lastExtent = line.path;
            FSLOG(3, "Extent entry [%s], [%s]", raw.c_str(), line.path.c_str());
            break;
        case COwedItemLine::EKind::AclOnly: FSLOG(3, "ACL only entry [%s]", line.path.c_str()); break;
        case COwedItemLine::EKind::Container: FSLOG(3, "Container entry [%s]", line.path.c_str()); break;
        case COwedItemLine::EKind::HardLink: FSLOG(3, "Hlink entry [%s]", line.path.c_str()); break;
        default: break;
        }
        FSLOG(3, "Adding '%s'", line.path.c_str());
        KX_RETURN_IF_FAILED(feeder.Feed(line), "Failed to process commit entry [%s]", raw.c_str());
        ++processed;
    }
    FSLOG(3, "%llu owed items added, %llu listed by this job already", static_cast<unsigned long long>(feeder.Fed()),
          static_cast<unsigned long long>(feeder.AlreadyListed()));
    FSLOG(0, "Total [%lld] files processed", processed);
    return CKxError::Success();
}
