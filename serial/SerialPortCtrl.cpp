// CSerialPortCtrl and its reader thread (module serialportctrl).
#include "serial/SerialPortCtrl.h"

#include "platform/AppMessageBox.h"
#include "serial/BaudRateFile.h"
#include "serial/ReaderThread.h"
#include "serial/SerialPort.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr DWORD kDefaultBaudRate = 115200;
constexpr DWORD kUnsupportedBaudRate = 57600;
constexpr DWORD kQueueSize = 4096;
constexpr int kReadChunk = 1024;
constexpr DWORD kFirstWaitFailed = 0xFFFFFFFF;

const char kConfigFileName[] = "UploadConfig.ini";
const char kBaudRateKey[] = "BAUDRATE";
constexpr std::size_t kKeyLength = 8;
constexpr std::size_t kValueOffset = 9;  // the byte at 8 is a separator, not examined

const char kTextNotOpen[] = "Unable to open serial port.";
const char kTextNoFile[] = "Using Defaults, Contact Technical Support if communications fail.";
const char kTextNoMemory[] =
    "Memory Allocation Fail, Using Defaults\nContact Technical Support if communications fail.";
const char kFormatUnsupported[] =
    "BaudRate %d Not Supported, Using Defaults\nContact Technical Support if communications fail.";

bool IsSupportedBaudRate(long nValue)
{
    switch (nValue) {
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
        return true;
    default:
        return false;
    }
}

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

}  // namespace

DWORD BaudRateFromText(const char* pText, std::size_t nLength)
{
    if (nLength < kKeyLength || std::strncmp(pText, kBaudRateKey, kKeyLength) != 0)
        return kDefaultBaudRate;
    // A file that ends right after the key has no value byte at all; reading
    // from index 9 would go past the terminator, so it reads as 0.
    const int nValue = nLength >= kValueOffset ? ParseValue(pText + kValueOffset) : 0;
    if (IsSupportedBaudRate(nValue))
        return static_cast<DWORD>(nValue);
    char szText[sizeof(kFormatUnsupported) + 16];
    std::snprintf(szText, sizeof(szText), kFormatUnsupported, nValue);
    AppMessageBox(szText, MB_OK);
    return kUnsupportedBaudRate;
}

namespace {

long FileLength(std::FILE* pFile)
{
    if (std::fseek(pFile, 0, SEEK_END) != 0)
        return -1;
    const long nLength = std::ftell(pFile);
    std::rewind(pFile);
    return nLength;
}

// The baud rate from "UploadConfig.ini" in the working directory; shows at
// most one message box.
DWORD ReadBaudRateFile()
{
    std::FILE* pFile = std::fopen(kConfigFileName, "rb");
    const long nLength = pFile ? FileLength(pFile) : -1;
    if (nLength < 0) {
        if (pFile)
            std::fclose(pFile);
        AppMessageBox(kTextNoFile, MB_OK);
        return kDefaultBaudRate;
    }
    DWORD dwRate = kDefaultBaudRate;
    const std::size_t nSize = static_cast<std::size_t>(nLength);
    char* pText = new (std::nothrow) char[nSize + 1];
    if (!pText) {
        AppMessageBox(kTextNoMemory, MB_OK);
    } else {
        // Only the bytes actually read count: a file that shrank meanwhile
        // must not leave stale buffer bytes in front of the terminator.
        const std::size_t nRead = std::fread(pText, 1, nSize, pFile);
        pText[nRead] = '\0';
        dwRate = BaudRateFromText(pText, nRead);
        delete[] pText;
    }
    std::fclose(pFile);
    return dwRate;
}

// ---- the reader thread

enum ArmResult { ARM_OK, ARM_STOPPED, ARM_FAILED };

// Arms the next event wait unless a stop has begun. The stop clears the event
// mask, which ends a wait that is already pending; one armed after that would
// never end, so when the flag is seen only after arming the thread ends its
// own wait the same way.
ArmResult ArmNextWait(CSerialPort* pPort)
{
    if (pPort->StopRequested())
        return ARM_STOPPED;
    if (!pPort->BeginWaitEvent()) {
        // The Windows driver refuses a wait on the empty mask the stop left.
        return pPort->StopRequested() ? ARM_STOPPED : ARM_FAILED;
    }
    if (pPort->StopRequested())
        pPort->SetMask(0);
    return ARM_OK;
}

// Hands on what is waiting, 1024 bytes at a time. A driver signals EV_RXCHAR
// once per wait, not per byte: bytes left after a full chunk would sit until
// the next byte arrives, so read on until a chunk comes back short.
void DeliverWaitingBytes(CSerialPort* pPort, const ReaderThreadParams* pParams, void* pContext,
                         std::uint8_t* pBuffer)
{
    DWORD dwRead;
    do {
        dwRead = pPort->Read(pBuffer, kReadChunk, FALSE);
        if (dwRead == 0)
            return;
        if (ReceiveCallback pfnReceive = pParams->pfnReceive)
            pfnReceive(pBuffer, dwRead, pContext);
    } while (dwRead == static_cast<DWORD>(kReadChunk) && !pPort->StopRequested());
}

std::atomic<std::uint32_t> g_dwFixedBaudRate{0};
std::atomic<std::uint32_t> g_dwLastBaudRate{0};

}  // namespace

DWORD WINAPI ReaderThreadProc(LPVOID pParam)
{
    const ReaderThreadParams* pParams = static_cast<const ReaderThreadParams*>(pParam);
    CSerialPort* pPort = pParams->pPort;
    void* pContext = pParams->pContext;
    std::uint8_t abBuffer[kReadChunk];

    pPort->SetMask(EV_RXCHAR);
    // Setting the mask forgets the events seen so far: bytes that arrived
    // before it would wait for the next byte, so take them now.
    DeliverWaitingBytes(pPort, pParams, pContext, abBuffer);
    switch (ArmNextWait(pPort)) {
    case ARM_OK:
        break;
    case ARM_STOPPED:
        return 0;
    case ARM_FAILED:
        return kFirstWaitFailed;
    }
    // Ends on an empty mask (the stop, or a failed wait that EndWaitEvent has
    // re-armed) and when the next wait cannot be armed.
    for (;;) {
        const DWORD dwMask = pPort->EndWaitEvent(TRUE);
        if (dwMask == 0)
            break;
        if (dwMask & EV_RXCHAR)
            DeliverWaitingBytes(pPort, pParams, pContext, abBuffer);
        if (ArmNextWait(pPort) != ARM_OK)
            break;
    }
    return 0;
}

CSerialPortCtrl::CSerialPortCtrl(ReceiveCallback pfnReceive, std::string portName, void* pContext)
    : m_pPort(new (std::nothrow) CSerialPort(portName.c_str())),
      m_bOpen(FALSE),
      m_readerParams{m_pPort, pfnReceive, pContext}
{
    m_bOpen = m_pPort && m_pPort->IsOpen();
    if (!m_bOpen) {
        AppMessageBox(kTextNotOpen, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const DWORD dwFixed = g_dwFixedBaudRate.load(std::memory_order_relaxed);
    const DWORD dwBaudRate = dwFixed != 0 ? dwFixed : ReadBaudRateFile();
    g_dwLastBaudRate.store(dwBaudRate, std::memory_order_relaxed);
    // Results are not looked at: a refused setting leaves the driver's own.
    m_pPort->SetBaudRate(dwBaudRate);
    m_pPort->SetLineFormat(EVENPARITY, 8, ONESTOPBIT);
    m_pPort->SetFlowControl(0, 100, 100, 0x11, 0x13);
    m_pPort->SetQueueSizes(kQueueSize, kQueueSize);
    m_pPort->StartThread(ReaderThreadProc, &m_readerParams);
}

CSerialPortCtrl::~CSerialPortCtrl()
{
    if (!m_pPort)
        return;
    m_pPort->StopThread();  // waits for the reader thread to end
    delete m_pPort;
}

int CSerialPortCtrl::IsOpen() const
{
    return m_bOpen;
}

int CSerialPortCtrl::Write(const void* pBytes, int count)
{
    if (m_pPort)
        m_pPort->Write(pBytes, count);
    return TRUE;
}

void CSerialPortCtrl::SetFixedBaudRate(std::uint32_t dwRate)
{
    g_dwFixedBaudRate.store(dwRate, std::memory_order_relaxed);
}

std::uint32_t CSerialPortCtrl::LastBaudRate()
{
    return g_dwLastBaudRate.load(std::memory_order_relaxed);
}
