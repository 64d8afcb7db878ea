// The tool's output file: the platform's replacing file, its failures worded
// for the user.
#include "tools/tcc-upload/Platform.h"

int CAtomicFile::Check(unsigned long code, const char* pszWhat)
{
    if (code == 0)
        return 1;
    m_strError = std::string(pszWhat) + " " + m_strTarget + ": " + SystemErrorText(code);
    return 0;
}

int CAtomicFile::Create(const std::string& targetPath)
{
    m_strTarget = targetPath;
    m_bLeftOnDisk = false;
    return Check(m_file.Create(targetPath), "cannot write");
}

int CAtomicFile::Write(const std::uint8_t* pBytes, std::size_t count)
{
    return Check(m_file.Write(pBytes, count), "cannot write");
}

// A failure once the image is whole on the disk keeps it there and says
// where: it took minutes to fetch.
int CAtomicFile::Commit()
{
    const unsigned long code = m_file.Commit();
    if (code == 0 || !(m_file.FailedAtReplace() || m_file.FailedAfterReplace()))
        return Check(code, "cannot write");
    m_bLeftOnDisk = true;
    if (m_file.FailedAtReplace())
        m_strError = "cannot replace " + m_strTarget + ": " + SystemErrorText(code) + "; the image is saved as " +
                     m_file.KeepNewFile();
    else
        m_strError = "wrote " + m_strTarget + ", but its folder could not be synced: " + SystemErrorText(code) +
                     "; a power loss may still undo it";
    return 0;
}

void CAtomicFile::Discard() { m_file.Discard(); }
