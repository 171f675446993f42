#include "CollectFile/OwedListWriter.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/OutputSync.h"

#include <unistd.h>

COwedListWriter::COwedListWriter(std::string path, bool keepExisting)
    : m_path(std::move(path)), m_keepExisting(keepExisting)
{
}

COwedListWriter::~COwedListWriter()
{
    if (!m_temp.empty()) {
        (void)m_file.Close();
        (void)FXFile::Remove(m_temp);
    }
}

CKxError COwedListWriter::Open()
{
    int fd = -1;
    KX_RETURN_IF_FAILED(FXFile::CreateTemporaryBeside(m_path, m_temp, fd), "Failed to start the list [%s]",
                        m_path.c_str());
    ::close(fd);
    // The name was made with O_EXCL and cannot be guessed; reopening it (O_NOFOLLOW) opens what
    // was just made.
    KX_RETURN_IF_FAILED(m_file.Open(m_temp), "Failed to start the list [%s]", m_path.c_str());
    if (m_keepExisting && FXFile::Exists(m_path))
        KX_RETURN_IF_FAILED(m_file.AppendFile(m_path), "Failed to keep the items of the list [%s]", m_path.c_str());
    return CKxError::Success();
}

CKxError COwedListWriter::Append(std::string_view line)
{
    if (m_temp.empty())
        KX_RETURN_IF_ERROR(Open());
    KX_RETURN_IF_ERROR(m_file.Append(line));
    KX_RETURN_IF_ERROR(m_file.Append("\n"));
    ++m_lines;
    return CKxError::Success();
}

CKxError COwedListWriter::AppendFile(const std::string& path)
{
    if (m_temp.empty())
        KX_RETURN_IF_ERROR(Open());
    KX_RETURN_IF_FAILED(m_file.AppendFile(path), "Failed to add [%s] to the list [%s]", path.c_str(), m_path.c_str());
    return CKxError::Success();
}

CKxError COwedListWriter::Commit()
{
    if (m_temp.empty())
        return CKxError::Success();
    KX_RETURN_IF_FAILED(m_file.Close(), "Failed to write the list [%s]", m_path.c_str());
    KX_RETURN_IF_ERROR(COutputSync::SyncFile(m_temp));
    KX_RETURN_IF_ERROR(FXFile::Rename(m_temp, m_path));
    m_temp.clear();
    return COutputSync::SyncFolder(FXPath::Parent(m_path));
}
