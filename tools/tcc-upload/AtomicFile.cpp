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
    return Check(m_file.Create(targetPath), "cannot write");
}

int CAtomicFile::Write(const std::uint8_t* pBytes, std::size_t count)
{
    return Check(m_file.Write(pBytes, count), "cannot write");
}

int CAtomicFile::Commit()
{
    const unsigned long code = m_file.Commit();
    return Check(code, m_file.FailedAtReplace() ? "cannot replace" : "cannot write");
}

void CAtomicFile::Discard() { m_file.Discard(); }
