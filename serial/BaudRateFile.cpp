// The baud rate that "UploadConfig.ini" names, with the boxes that report on it.
#include "serial/BaudRateFile.h"

#include "platform/AppMessageBox.h"
#include "platform/ProgramFolder.h"
#include "platform/RegularFile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr DWORD kDefaultBaudRate = 115200;
// The rate used after a value the line does not support.
constexpr DWORD kFallbackBaudRate = 57600;

const char kConfigFileName[] = "UploadConfig.ini";
const char kBaudRateKey[] = "BAUDRATE";
constexpr std::size_t kKeyLength = 8;
constexpr std::size_t kValueOffset = 9;  // the byte at 8 is a separator, not examined

const char kTextNoFile[] = "Using Defaults, Contact Technical Support if communications fail.";
const char kTextNoMemory[] =
    "Memory Allocation Fail, Using Defaults\nContact Technical Support if communications fail.";
const char kFormatUnsupported[] =
    "BaudRate %d Not Supported, Using Defaults\nContact Technical Support if communications fail.";

// atoi's reading (blanks, sign, digits), but clamped to int where atoi's
// overflow would be undefined.
int ParseValue(const char* pText)
{
    long nValue = std::strtol(pText, nullptr, 10);
    if (nValue > INT_MAX)
        nValue = INT_MAX;
    if (nValue < INT_MIN)
        nValue = INT_MIN;
    return static_cast<int>(nValue);
}

long FileLength(std::FILE* pFile)
{
    if (std::fseek(pFile, 0, SEEK_END) != 0)
        return -1;
    const long nLength = std::ftell(pFile);
    std::rewind(pFile);
    return nLength;
}

// At most one box per reading, the window's words for what the file said.
void ShowBaudRateBox(const BaudRateReading& reading)
{
    switch (reading.nOrigin) {
    case RATE_NO_FILE: AppMessageBox(kTextNoFile, MB_OK); break;
    case RATE_NO_MEMORY: AppMessageBox(kTextNoMemory, MB_OK); break;
    case RATE_VALUE_UNSUPPORTED: {
        char szText[sizeof(kFormatUnsupported) + 16];
        std::snprintf(szText, sizeof(szText), kFormatUnsupported, reading.nValue);
        AppMessageBox(szText, MB_OK);
        break;
    }
    case RATE_FROM_FILE:
    case RATE_NO_KEY: break;
    }
}

// The file's text read into a terminated buffer and parsed.
BaudRateReading ReadOpenFile(std::FILE* pFile, long nLength)
{
    BaudRateReading reading{kDefaultBaudRate, RATE_NO_MEMORY, 0, {}};
    const std::size_t nSize = static_cast<std::size_t>(nLength);
    if (char* pText = new (std::nothrow) char[nSize + 1]) {
        // Only the bytes actually read count: a file that shrank meanwhile
        // must not leave stale buffer bytes in front of the terminator.
        const std::size_t nRead = std::fread(pText, 1, nSize, pFile);
        pText[nRead] = '\0';
        reading = ParseBaudRateText(pText, nRead);
        delete[] pText;
    }
    return reading;
}

}  // namespace

bool IsSupportedBaudRate(long nValue)
{
    switch (nValue) {
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200: return true;
    default: return false;
    }
}

BaudRateReading ParseBaudRateText(const char* pText, std::size_t nLength)
{
    if (nLength < kKeyLength || std::strncmp(pText, kBaudRateKey, kKeyLength) != 0)
        return {kDefaultBaudRate, RATE_NO_KEY, 0, {}};
    // A file that ends right after the key has no value byte at all; reading
    // from index 9 would go past the terminator, so it reads as 0.
    const int nValue = nLength >= kValueOffset ? ParseValue(pText + kValueOffset) : 0;
    if (IsSupportedBaudRate(nValue))
        return {static_cast<DWORD>(nValue), RATE_FROM_FILE, nValue, {}};
    return {kFallbackBaudRate, RATE_VALUE_UNSUPPORTED, nValue, {}};
}

DWORD BaudRateFromText(const char* pText, std::size_t nLength)
{
    const BaudRateReading reading = ParseBaudRateText(pText, nLength);
    ShowBaudRateBox(reading);
    return reading.dwRate;
}

std::vector<std::string> BaudRateFilePlaces()
{
    std::vector<std::string> files{kConfigFileName};
    const std::string folder = ProgramFolder();
    if (!folder.empty())
        files.push_back(folder + kConfigFileName);
    return files;
}

BaudRateReading ReadBaudRateFileFrom(const std::vector<std::string>& files)
{
    for (const std::string& file : files) {
        if (!IsRegularFile(file))
            continue;
        std::FILE* pFile = std::fopen(file.c_str(), "rb");
        const long nLength = pFile ? FileLength(pFile) : -1;
        if (nLength < 0) {
            if (pFile)
                std::fclose(pFile);
            continue;
        }
        BaudRateReading reading = ReadOpenFile(pFile, nLength);
        std::fclose(pFile);
        reading.strFile = file;
        return reading;
    }
    return {kDefaultBaudRate, RATE_NO_FILE, 0, {}};
}

BaudRateReading ReadBaudRateFileQuietly() { return ReadBaudRateFileFrom(BaudRateFilePlaces()); }

std::string BaudRateSource(const BaudRateReading& reading)
{
    const bool bFromFile = reading.nOrigin == RATE_FROM_FILE || reading.nOrigin == RATE_VALUE_UNSUPPORTED;
    return bFromFile ? reading.strFile : "default";
}

DWORD ReadBaudRateFile()
{
    const BaudRateReading reading = ReadBaudRateFileQuietly();
    ShowBaudRateBox(reading);
    return reading.dwRate;
}
