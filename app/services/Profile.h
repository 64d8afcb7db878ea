// The program's private profile: sections, keys, integers and texts.
//
// The file keeps the name derived from the executable (name.INI) but lives
// in the per-user settings folder, which a standard user can write; a bare
// name would put it in the Windows folder, where writes silently fail. Until
// that file exists, reads come from the old place, so settings written by
// earlier versions carry over; the first write starts from a copy of it.
// An old version without a manifest had its writes to the Windows folder
// redirected to the user's VirtualStore copy of it, so that copy, where it
// exists, is the old place that counts.
#pragma once

#include <string>

#include "app/ui/UiApi.h"

class CProfile {
public:
    // strUserFolder: the per-user settings folder ("" unknown: use the old place).
    // strVirtualStoreFolder: the user's redirected copy of strLegacyFolder ("" none).
    void SetLocation(const std::string& strName, const std::string& strUserFolder, const std::string& strLegacyFolder,
                     const std::string& strVirtualStoreFolder = "");

    int GetInt(const char* pszSection, const char* pszKey, int nDefault) const;
    std::string GetString(const char* pszSection, const char* pszKey, const char* pszDefault) const;
    BOOL WriteInt(const char* pszSection, const char* pszKey, int nValue) const;
    BOOL WriteString(const char* pszSection, const char* pszKey, const std::string& strValue) const;

    const std::string& GetPath() const { return m_strPath; }

private:
    const std::string& LegacyPath() const;
    const std::string& ReadPath() const;
    BOOL PrepareWrite() const;

    std::string m_strFolder;
    std::string m_strPath;
    std::string m_strLegacyPath;
    std::string m_strVirtualStorePath;
};

std::string JoinPath(const std::string& strFolder, const std::string& strName);

// A profile integer as the user may have typed it: blanks, an optional sign
// and decimal digits, whatever follows ignored; nDefault when empty, 0 when
// it does not start with a number. Negative values are kept (the Win32
// integer call reads them as 0) and values beyond int are clamped.
int ParseProfileInt(const std::string& strValue, int nDefault);
