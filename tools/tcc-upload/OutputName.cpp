#include "tools/tcc-upload/OutputName.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <vector>

#include "record/RunLogLine.h"

namespace {

const char kFields[] = "{port}, {serial} and {date}";

bool IsSafe(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

bool StartsWithNoCase(const std::string& text, const char* pszPrefix)
{
    std::size_t i = 0;
    for (; pszPrefix[i] != '\0'; ++i)
        if (i >= text.size() || std::toupper(static_cast<unsigned char>(text[i])) != pszPrefix[i])
            return false;
    return true;
}

// COM1 to COM9 and LPT1 to LPT9, and with the superscript digits Windows
// also takes (in Windows-1252 or UTF-8, whichever the code page is).
bool IsNumberedDosPort(const std::string& name)
{
    if (!StartsWithNoCase(name, "COM") && !StartsWithNoCase(name, "LPT"))
        return false;
    const std::string digit = name.substr(3);
    for (const char* pszSuper : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
        if (digit == pszSuper)
            return true;
    return digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9';
}

// The legacy rule of a drive or relative path: its file name up to the first
// dot (or colon), blanks at the end left out, names a DOS device in any
// folder. Windows 11 keeps less of it; a name refused there too is no loss.
bool NamesDosDevice(const std::string& path)
{
    const std::size_t nSlash = path.find_last_of('\\');
    const std::size_t nStart = nSlash != std::string::npos ? nSlash + 1 : (path.size() >= 2 && path[1] == ':' ? 2 : 0);
    std::string name = path.substr(nStart);
    name.erase(std::min(name.find_first_of(".:"), name.size()));
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* pszDevice : {"AUX", "CON", "CONIN$", "CONOUT$", "NUL", "PRN"})
        if (name == pszDevice)
            return true;
    return IsNumberedDosPort(name);
}

// After \\.\ or \\?\: a drive, a share (UNC\) or a volume by its GUID
// reaches a file system; anything else is a device.
std::string DeviceNamespaceRefusal(const std::string& rest)
{
    if (StartsWithNoCase(rest, "PIPE\\"))
        return "it is a pipe";
    const bool bDrive =
        rest.size() >= 3 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':' && rest[2] == '\\';
    if (bDrive || StartsWithNoCase(rest, "UNC\\") ||
        (StartsWithNoCase(rest, "VOLUME{") && rest.find("}\\") != std::string::npos))
        return std::string();
    return "it is a device";
}

// Returns false, with the field's text in *pBad, at the first unknown field
// or an opening brace that is never closed.
bool Expand(const std::string& pattern, const std::map<std::string, std::string>& fields, std::string* pOut,
            std::string* pBad)
{
    pOut->clear();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '{') {
            *pOut += pattern[i];
            continue;
        }
        const std::size_t nEnd = pattern.find('}', i);
        const std::string field = pattern.substr(i, nEnd == std::string::npos ? std::string::npos : nEnd - i + 1);
        const auto it = fields.find(field);
        if (it == fields.end()) {
            *pBad = field;
            return false;
        }
        *pOut += it->second;
        i = nEnd;
    }
    return true;
}

// The path as the system would resolve it, without asking the system:
// empty and "." parts go, ".." takes the part before it (or nothing above
// the start). "/dev/./pts/3" gives "/dev/pts/3".
std::string NormalPath(const std::string& path)
{
    std::vector<std::string> parts;
    for (std::size_t nAt = 0; nAt <= path.size();) {
        std::size_t nEnd = path.find_first_of("/\\", nAt);
        if (nEnd == std::string::npos)
            nEnd = path.size();
        const std::string part = path.substr(nAt, nEnd - nAt);
        if (part == ".." && !parts.empty())
            parts.pop_back();
        else if (!part.empty() && part != "." && part != "..")
            parts.push_back(part);
        nAt = nEnd + 1;
    }
    std::string normal = !path.empty() && (path[0] == '/' || path[0] == '\\') ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i)
        normal += (i == 0 ? "" : "/") + parts[i];
    return normal;
}

}  // namespace

// A name that starts with a dot would be hidden, or be "." or "..".
std::string SafePortName(const std::string& port)
{
    std::string name = port;
    const std::string device = "\\\\.\\";
    if (name.compare(0, device.size(), device) == 0)
        name.erase(0, device.size());
    name = NormalPath(name);
    if (name.compare(0, 5, "/dev/") == 0)
        name.erase(0, 5);
    while (!name.empty() && (name[0] == '/' || name[0] == '.'))
        name.erase(0, 1);
    for (char& c : name)
        if (!IsSafe(c))
            c = '_';
    return name.empty() ? "port" : name;
}

std::string UtcStamp(std::time_t when) { return FormatUtc(when, "%04lld%02lld%02lld-%02lld%02lld%02lld"); }

namespace {

std::string ExpandEach(const std::string& pattern, const std::vector<OutputPort>& ports, const std::string& date,
                       std::vector<std::string>* pPaths)
{
    if (pattern == "-") {
        if (ports.size() > 1)
            return "--output - takes one port";
        pPaths->assign(ports.size(), pattern);
        return "";
    }
    std::string path, bad;
    if (!Expand(pattern, {{"{port}", ""}, {"{serial}", ""}, {"{date}", ""}}, &path, &bad))
        return "--output " + pattern + ": unknown field " + bad + "; the fields are " + kFields;
    const bool bPerPort = pattern.find("{port}") != std::string::npos || pattern.find("{serial}") != std::string::npos;
    if (ports.size() > 1 && !bPerPort)
        return "several ports need an --output with {port} or {serial} in it";
    std::map<std::string, std::string> seen;  // file -> the port that has it
    for (const OutputPort& port : ports) {
        const std::string safe = SafePortName(port.strPort);
        const std::string serial = port.strSerial.empty() ? safe : SafePortName(port.strSerial);
        Expand(pattern, {{"{port}", safe}, {"{serial}", serial}, {"{date}", date}}, &path, &bad);
        const auto it = seen.emplace(path, port.strPort);
        if (!it.second)
            return "--output " + pattern + " gives " + it.first->second + " and " + port.strPort + " the same file " +
                   path;
        pPaths->push_back(path);
    }
    return "";
}

}  // namespace

std::string ExpandOutputs(const std::string& pattern, const std::vector<OutputPort>& ports, const std::string& date,
                          std::vector<std::string>* pPaths)
{
    pPaths->clear();
    const std::string error = ExpandEach(pattern, ports, date, pPaths);
    if (!error.empty())
        pPaths->clear();
    return error;
}

std::string WindowsOutputNameRefusal(const std::string& path)
{
    std::string name = path;
    std::replace(name.begin(), name.end(), '/', '\\');
    if (name.compare(0, 4, "\\\\.\\") == 0 || name.compare(0, 4, "\\\\?\\") == 0 || name.compare(0, 4, "\\??\\") == 0)
        return DeviceNamespaceRefusal(name.substr(4));
    if (name.compare(0, 2, "\\\\") == 0) {  // \\server\share\...: a share is no DOS device
        const std::size_t nShare = name.find('\\', 2);
        const bool bPipe = nShare != std::string::npos && StartsWithNoCase(name.substr(nShare + 1), "PIPE\\");
        return bPipe ? "it is a pipe" : std::string();
    }
    return NamesDosDevice(name) ? "it is a device" : std::string();
}
