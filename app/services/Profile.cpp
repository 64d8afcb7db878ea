#include "app/services/Profile.h"

#include "app/ui/AppPlatform.h"

std::string JoinPath(const std::string& strFolder, const std::string& strName)
{
    if (strFolder.empty())
        return strName;
    char chLast = strFolder.back();
    if (chLast == '\\' || chLast == '/')
        return strFolder + strName;
    return strFolder + PlatformPathSeparator() + strName;
}

void CProfile::SetLocation(const std::string& strName, const std::string& strUserFolder,
                           const std::string& strLegacyFolder)
{
    m_strLegacyPath = JoinPath(strLegacyFolder, strName);
    m_strFolder = strUserFolder;
    m_strPath = strUserFolder.empty() ? m_strLegacyPath : JoinPath(strUserFolder, strName);
}

const std::string& CProfile::ReadPath() const
{
    return PlatformFileExists(m_strPath) ? m_strPath : m_strLegacyPath;
}

// The first write creates the folder and starts from the old file, so that
// keys not written yet keep the values the old place gave them.
BOOL CProfile::PrepareWrite() const
{
    if (m_strPath == m_strLegacyPath || PlatformFileExists(m_strPath))
        return TRUE;
    if (!PlatformCreateFolder(m_strFolder))
        return FALSE;
    if (PlatformFileExists(m_strLegacyPath))
        PlatformCopyFile(m_strLegacyPath, m_strPath);
    return TRUE;
}

int CProfile::GetInt(const char* pszSection, const char* pszKey, int nDefault) const
{
    return PlatformProfileGetInt(ReadPath(), pszSection, pszKey, nDefault);
}

std::string CProfile::GetString(const char* pszSection, const char* pszKey, const char* pszDefault) const
{
    return PlatformProfileGetString(ReadPath(), pszSection, pszKey, pszDefault);
}

BOOL CProfile::WriteInt(const char* pszSection, const char* pszKey, int nValue) const
{
    return WriteString(pszSection, pszKey, std::to_string(nValue));
}

BOOL CProfile::WriteString(const char* pszSection, const char* pszKey, const std::string& strValue) const
{
    return PrepareWrite() && PlatformProfileWriteString(m_strPath, pszSection, pszKey, strValue.c_str());
}
