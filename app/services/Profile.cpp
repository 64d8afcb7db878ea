#include "app/services/Profile.h"

#include <algorithm>
#include <climits>

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
                           const std::string& strLegacyFolder, const std::string& strVirtualStoreFolder)
{
    m_strLegacyPath = JoinPath(strLegacyFolder, strName);
    m_strVirtualStorePath = strVirtualStoreFolder.empty() ? std::string() : JoinPath(strVirtualStoreFolder, strName);
    m_strFolder = strUserFolder;
    m_strPath = strUserFolder.empty() ? m_strLegacyPath : JoinPath(strUserFolder, strName);
}

const std::string& CProfile::LegacyPath() const
{
    if (!m_strVirtualStorePath.empty() && PlatformFileExists(m_strVirtualStorePath))
        return m_strVirtualStorePath;
    return m_strLegacyPath;
}

const std::string& CProfile::ReadPath() const { return PlatformFileExists(m_strPath) ? m_strPath : LegacyPath(); }

// The first write creates the folder and starts from the old file, so that
// keys not written yet keep the values the old place gave them.
BOOL CProfile::PrepareWrite() const
{
    if (m_strPath == m_strLegacyPath || PlatformFileExists(m_strPath))
        return TRUE;
    if (!PlatformCreateFolder(m_strFolder))
        return FALSE;
    const std::string& strOld = LegacyPath();
    if (PlatformFileExists(strOld))
        PlatformCopyFile(strOld, m_strPath);
    return TRUE;
}

// Read as text: the Win32 integer call turns a stored -1 ("Port" when no
// entry was selected) into 0, which would select COM1 on the next opening.
int CProfile::GetInt(const char* pszSection, const char* pszKey, int nDefault) const
{
    return ParseProfileInt(PlatformProfileGetString(ReadPath(), pszSection, pszKey, ""), nDefault);
}

int ParseProfileInt(const std::string& strValue, int nDefault)
{
    std::size_t i = strValue.find_first_not_of(" \t");
    if (i == std::string::npos)
        return nDefault;
    BOOL bNegative = strValue[i] == '-';
    if (strValue[i] == '-' || strValue[i] == '+')
        ++i;
    const long long llLimit = bNegative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long llValue = 0;
    for (; i < strValue.size() && strValue[i] >= '0' && strValue[i] <= '9'; ++i)
        llValue = std::min(llLimit, llValue * 10 + (strValue[i] - '0'));
    return static_cast<int>(bNegative ? -llValue : llValue);
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
