// CSerialPort: everything passes straight to the Win32 serial calls; the only
// state of its own is the last error, the line errors and the thread slot.
#include "serial/SerialPort.h"

#include "serial/PortName.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

// winioctl.h's CTL_CODE(FILE_DEVICE_SERIAL_PORT, 31, METHOD_BUFFERED, FILE_ANY_ACCESS);
// spelled out because the lean Windows headers leave it out.
constexpr DWORD kIoctlSerialLsrmstInsert = 0x001B007C;
constexpr DWORD kDcbLength = sizeof(DCB);
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Refusal codes of a driver that simply has no status-byte insertion (Wine's
// among them): it will not insert status bytes, which is what we ask for.
bool MeansNoInsertion(DWORD dwError)
{
    return dwError == ERROR_INVALID_PARAMETER || dwError == ERROR_NOT_SUPPORTED || dwError == ERROR_INVALID_FUNCTION;
}

}  // namespace

CSerialPort::CSerialPort(const char* pszPortName)
    : m_hComm(INVALID_HANDLE_VALUE),
      m_hThread(nullptr),
      m_dwThreadId(0),
      m_dwLastError(0),
      m_dwErrors(0),
      m_ovRead(),
      m_ovWrite(),
      m_dwEventMask(0),
      m_ovWait(),
      m_bStopRequested(FALSE),
      m_dcbAtOpen(),
      m_bHaveDcbAtOpen(FALSE)
{
    const std::string path = PortDevicePath(pszPortName ? pszPortName : "", PlatformPortNameRule());
    // Share mode 0: a port that another program holds open is refused.
    m_hComm = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hComm == INVALID_HANDLE_VALUE) {
        SetLastErrorCode(GetLastError());
        return;
    }
    CreateEvents();
    if (!m_ovRead.hEvent || !m_ovWrite.hEvent || !m_ovWait.hEvent) {
        SetLastErrorCode(GetLastError());
        return;
    }
    ApplyDefaults();
}

// Unnamed, manual-reset, non-signalled; each only if the one before it exists.
void CSerialPort::CreateEvents()
{
    m_ovRead.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_ovRead.hEvent)
        m_ovWrite.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_ovWrite.hEvent)
        m_ovWait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// Every setter clears m_dwLastError first, so what is left at the end (and
// with it IsOpen) is the outcome of the status-byte insertion alone.
void CSerialPort::ApplyDefaults()
{
    m_dcbAtOpen.DCBlength = kDcbLength;
    m_bHaveDcbAtOpen = GetCommState(m_hComm, &m_dcbAtOpen);  // direct: m_dwLastError stays as it is
    SetBaudRate(19200);
    SetLineFormat(NOPARITY, 8, ONESTOPBIT);
    SetFlowControl(FLOW_DSRDTR | FLOW_CTSRTS, 100, 100, 0x11, 0x13);
    SetQueueSizes(4096, 4096);
    SetReadTimeouts(MAXDWORD, 0, 0);  // a read returns at once with what has arrived
    SetWriteTimeouts(0, 1000);        // a write ends within 1000 ms, whatever its length
    if (!SetLsrMstInsert(0) && MeansNoInsertion(m_dwLastError.load(std::memory_order_relaxed)))
        SetLastErrorCode(0);
    // Direct calls: they must not touch m_dwLastError.
    SetCommMask(m_hComm, EV_RXCHAR);
    PurgeComm(m_hComm, kPurgeAll);
}

CSerialPort::~CSerialPort()
{
    if (m_hComm == INVALID_HANDLE_VALUE)
        return;
    StopThread();
    PurgeComm(m_hComm, kPurgeAll);
    // Windows keeps a port's settings past its handle: the DCB read at open
    // is set again. The POSIX driver's DCB at open already describes the raw
    // line it made; there the close itself gives the tty the settings it had
    // before (CCommPort::OnClose), and overrides this call.
    if (m_bHaveDcbAtOpen)
        SetCommState(m_hComm, &m_dcbAtOpen);
    for (OVERLAPPED* pOverlapped : {&m_ovRead, &m_ovWrite, &m_ovWait}) {
        if (pOverlapped->hEvent)
            CloseHandle(pOverlapped->hEvent);
    }
    CloseHandle(m_hComm);
}

BOOL CSerialPort::IsOpen() const
{
    return m_hComm != INVALID_HANDLE_VALUE && m_dwLastError.load(std::memory_order_relaxed) == 0;
}

void CSerialPort::SetLastErrorCode(DWORD dwError) { m_dwLastError.store(dwError, std::memory_order_relaxed); }

BOOL CSerialPort::RecordResult(BOOL bResult)
{
    if (!bResult)
        SetLastErrorCode(GetLastError());
    return bResult;
}

void CSerialPort::ClearLineErrors(COMSTAT* pStat)
{
    DWORD dwErrors = 0;
    if (ClearCommError(m_hComm, &dwErrors, pStat)) {
        m_dwErrors.store(dwErrors, std::memory_order_relaxed);
        CountLineErrors(dwErrors);
    }
}

// A flag says only that the driver saw at least one such error since the
// last call; the overrun of the UART and that of the driver's queue are one
// kind to the technician (the line ran faster than it was read).
void CSerialPort::CountLineErrors(DWORD dwErrors)
{
    if (dwErrors & CE_RXPARITY)
        m_dwParityFlags.fetch_add(1, std::memory_order_relaxed);
    if (dwErrors & CE_FRAME)
        m_dwFramingFlags.fetch_add(1, std::memory_order_relaxed);
    const std::uint32_t dwOverruns = ((dwErrors & CE_OVERRUN) ? 1 : 0) + ((dwErrors & CE_RXOVER) ? 1 : 0);
    if (dwOverruns != 0)
        m_dwOverrunFlags.fetch_add(dwOverruns, std::memory_order_relaxed);
}

// The request goes with an OVERLAPPED of its own, as the port was opened for
// overlapped I/O; a driver that keeps no counts refuses it or returns less
// than the record.
BOOL CSerialPort::ReadDriverCounts(SERIALPERF_STATS* pStats)
{
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr)
        return FALSE;
    std::memset(pStats, 0, sizeof(*pStats));
    DWORD dwReturned = 0;
    BOOL bDone =
        DeviceIoControl(m_hComm, IOCTL_SERIAL_GET_STATS, nullptr, 0, pStats, sizeof(*pStats), &dwReturned, &ov);
    if (!bDone && GetLastError() == ERROR_IO_PENDING)
        bDone = GetOverlappedResult(m_hComm, &ov, &dwReturned, TRUE);
    CloseHandle(ov.hEvent);
    return bDone && dwReturned == sizeof(*pStats);
}

LineErrorCounts CSerialPort::LineErrors()
{
    LineErrorCounts counts;
    if (m_hComm == INVALID_HANDLE_VALUE)
        return counts;
    counts.dwParity = m_dwParityFlags.load(std::memory_order_relaxed);
    counts.dwFraming = m_dwFramingFlags.load(std::memory_order_relaxed);
    counts.dwOverrun = m_dwOverrunFlags.load(std::memory_order_relaxed);
    SERIALPERF_STATS stats;
    if (ReadDriverCounts(&stats)) {
        counts.dwParity = std::max<std::uint32_t>(counts.dwParity, stats.ParityErrorCount);
        counts.dwFraming = std::max<std::uint32_t>(counts.dwFraming, stats.FrameErrorCount);
        counts.dwOverrun =
            std::max<std::uint32_t>(counts.dwOverrun, stats.SerialOverrunErrorCount + stats.BufferOverrunErrorCount);
    }
    return counts;
}

// ---- line settings: read the state, change the operation's own fields, write it back

BOOL CSerialPort::ReadState(DCB* pDcb)
{
    SetLastErrorCode(0);
    std::memset(pDcb, 0, sizeof(*pDcb));
    pDcb->DCBlength = kDcbLength;
    return RecordResult(GetCommState(m_hComm, pDcb));
}

BOOL CSerialPort::WriteState(DCB* pDcb) { return RecordResult(SetCommState(m_hComm, pDcb)); }

BOOL CSerialPort::SetBaudRate(DWORD dwBaudRate)
{
    DCB dcb;
    if (!ReadState(&dcb))
        return FALSE;
    dcb.BaudRate = dwBaudRate;
    return WriteState(&dcb);
}

BOOL CSerialPort::SetLineFormat(BYTE bParity, BYTE bByteSize, BYTE bStopBits)
{
    DCB dcb;
    if (!ReadState(&dcb))
        return FALSE;
    dcb.Parity = bParity;
    dcb.ByteSize = bByteSize;
    dcb.StopBits = bStopBits;
    dcb.fParity = 1;  // parity checking on, whatever the parity
    return WriteState(&dcb);
}

BOOL CSerialPort::SetFlowControl(DWORD dwFlags, WORD wXonLimit, WORD wXoffLimit, char cXonChar, char cXoffChar)
{
    DCB dcb;
    if (!ReadState(&dcb))
        return FALSE;
    const bool bDsrDtr = (dwFlags & FLOW_DSRDTR) != 0;
    const bool bCtsRts = (dwFlags & FLOW_CTSRTS) != 0;
    const bool bXonXoff = (dwFlags & FLOW_XONXOFF) != 0;
    dcb.fOutxDsrFlow = bDsrDtr;
    dcb.fDtrControl = bDsrDtr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = bCtsRts;
    dcb.fRtsControl = bCtsRts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = bXonXoff;
    dcb.fInX = bXonXoff;
    dcb.fBinary = 1;
    dcb.fNull = 0;
    dcb.XonLim = wXonLimit;
    dcb.XoffLim = wXoffLimit;
    dcb.XonChar = cXonChar;
    dcb.XoffChar = cXoffChar;
    return WriteState(&dcb);
}

BOOL CSerialPort::SetQueueSizes(DWORD dwInQueue, DWORD dwOutQueue)
{
    SetLastErrorCode(0);
    return RecordResult(SetupComm(m_hComm, dwInQueue, dwOutQueue));
}

BOOL CSerialPort::ReadTimeouts(COMMTIMEOUTS* pTimeouts)
{
    SetLastErrorCode(0);
    std::memset(pTimeouts, 0, sizeof(*pTimeouts));
    return RecordResult(GetCommTimeouts(m_hComm, pTimeouts));
}

BOOL CSerialPort::WriteTimeouts(COMMTIMEOUTS* pTimeouts) { return RecordResult(SetCommTimeouts(m_hComm, pTimeouts)); }

BOOL CSerialPort::SetReadTimeouts(DWORD dwInterval, DWORD dwTotalMultiplier, DWORD dwTotalConstant)
{
    COMMTIMEOUTS timeouts;
    if (!ReadTimeouts(&timeouts))
        return FALSE;
    timeouts.ReadIntervalTimeout = dwInterval;
    timeouts.ReadTotalTimeoutMultiplier = dwTotalMultiplier;
    timeouts.ReadTotalTimeoutConstant = dwTotalConstant;
    return WriteTimeouts(&timeouts);
}

BOOL CSerialPort::SetWriteTimeouts(DWORD dwTotalMultiplier, DWORD dwTotalConstant)
{
    COMMTIMEOUTS timeouts;
    if (!ReadTimeouts(&timeouts))
        return FALSE;
    timeouts.WriteTotalTimeoutMultiplier = dwTotalMultiplier;
    timeouts.WriteTotalTimeoutConstant = dwTotalConstant;
    return WriteTimeouts(&timeouts);
}

// ---- overlapped read, write and event wait

// After ReadFile or WriteFile returned FALSE: wait for a pending transfer, or
// clear the line errors that stopped it. Returns the bytes transferred.
DWORD CSerialPort::FinishTransfer(OVERLAPPED* pOverlapped, DWORD dwTransferred)
{
    SetLastErrorCode(GetLastError());
    if (m_dwLastError.load(std::memory_order_relaxed) == ERROR_IO_PENDING) {
        for (;;) {
            if (GetOverlappedResult(m_hComm, pOverlapped, &dwTransferred, TRUE))
                return dwTransferred;
            SetLastErrorCode(GetLastError());
            if (m_dwLastError.load(std::memory_order_relaxed) != ERROR_IO_INCOMPLETE)
                break;
        }
    }
    COMSTAT stat{};
    ClearLineErrors(&stat);  // also lifts the driver's error state
    return dwTransferred;
}

// Runs on the reader thread only: m_ovRead is not shared.
DWORD CSerialPort::Read(void* pBuffer, int nCount, BOOL bWaitAll)
{
    DWORD dwRead = 0;
    if (m_hComm == INVALID_HANDLE_VALUE)
        return 0;
    COMSTAT stat{};
    ClearLineErrors(&stat);
    const int nWaiting = static_cast<int>(stat.cbInQue);
    if (!bWaitAll && nCount > nWaiting)
        nCount = nWaiting;  // ask only for what has arrived: never block in a read
    if (nCount <= 0)
        return 0;
    if (ReadFile(m_hComm, pBuffer, static_cast<DWORD>(nCount), &dwRead, &m_ovRead))
        return dwRead;
    return FinishTransfer(&m_ovRead, dwRead);
}

// Runs on the link worker only: m_ovWrite is not shared.
DWORD CSerialPort::Write(const void* pBuffer, int nCount)
{
    DWORD dwWritten = 0;
    if (m_hComm == INVALID_HANDLE_VALUE || nCount < 0)
        return 0;  // a negative count would read far beyond the caller's buffer
    if (WriteFile(m_hComm, pBuffer, static_cast<DWORD>(nCount), &dwWritten, &m_ovWrite))
        return dwWritten;
    return FinishTransfer(&m_ovWrite, dwWritten);
}

DWORD CSerialPort::Reserved(DWORD, DWORD) { return 0; }

// Non-zero when the wait completed at once or is pending.
BOOL CSerialPort::BeginWaitEvent()
{
    SetLastErrorCode(0);
    m_dwEventMask = 0;
    if (WaitCommEvent(m_hComm, &m_dwEventMask, &m_ovWait))
        return TRUE;
    SetLastErrorCode(GetLastError());
    return m_dwLastError.load(std::memory_order_relaxed) == ERROR_IO_PENDING;
}

// The events that ended the wait; 0 when the event mask was changed meanwhile
// (how StopThread ends it), when still pending, or after a failure, which
// re-arms the wait. Leaves m_dwLastError alone.
DWORD CSerialPort::EndWaitEvent(BOOL bWait)
{
    DWORD dwBytes = 0;
    if (GetOverlappedResult(m_hComm, &m_ovWait, &dwBytes, bWait))
        return m_dwEventMask;
    if (GetLastError() == ERROR_IO_INCOMPLETE)
        return 0;
    COMSTAT stat{};
    ClearLineErrors(&stat);
    BeginWaitEvent();
    return 0;
}

// ---- the worker thread slot (used from the owner's thread only)

BOOL CSerialPort::StartThread(LPTHREAD_START_ROUTINE pfnThreadProc, LPVOID pParam)
{
    if (m_hThread) {
        SetLastErrorCode(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    SetLastErrorCode(0);
    m_bStopRequested.store(FALSE, std::memory_order_seq_cst);
    m_hThread = CreateThread(nullptr, 0, pfnThreadProc, pParam ? pParam : this, 0, &m_dwThreadId);
    if (!m_hThread)
        SetLastErrorCode(GetLastError());
    return m_hThread != nullptr;
}

// The flag goes up before the mask is cleared: clearing the mask ends a wait
// that is pending, and a worker that is between waits sees the flag before
// (or right after) it arms the next one.
DWORD CSerialPort::StopThread()
{
    DWORD dwExitCode = 0;
    SetLastErrorCode(0);
    if (!m_hThread)
        return 0;
    m_bStopRequested.store(TRUE, std::memory_order_seq_cst);
    SetCommMask(m_hComm, 0);
    while (GetExitCodeThread(m_hThread, &dwExitCode) && dwExitCode == STILL_ACTIVE)
        Sleep(0);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    m_dwThreadId = 0;
    return dwExitCode;
}

BOOL CSerialPort::StopRequested() const { return m_bStopRequested.load(std::memory_order_seq_cst); }

// ---- thin wrappers

BOOL CSerialPort::ClearBreak()
{
    SetLastErrorCode(0);
    return RecordResult(ClearCommBreak(m_hComm));
}

BOOL CSerialPort::ClearError(LPCOMSTAT pStat, LPDWORD pdwErrors)
{
    SetLastErrorCode(0);
    DWORD dwErrors = 0;
    if (!RecordResult(ClearCommError(m_hComm, &dwErrors, pStat)))
        return FALSE;
    m_dwErrors.store(dwErrors, std::memory_order_relaxed);
    CountLineErrors(dwErrors);
    if (pdwErrors)
        *pdwErrors = dwErrors;
    return TRUE;
}

// Every function but SETBREAK drives DTR, RTS or XON/XOFF, which the driver
// owns while it does handshaking with them: refuse those without a call.
BOOL CSerialPort::EscapeFunction(DWORD dwFunction)
{
    DCB dcb;
    ReadState(&dcb);
    SetLastErrorCode(0);
    const bool bTouchesLines = (dwFunction & 0x07) != 0;
    const bool bDriverOwnsLines =
        (dcb.fDtrControl & DTR_CONTROL_HANDSHAKE) != 0 || dcb.fRtsControl != RTS_CONTROL_DISABLE;
    if (bTouchesLines && bDriverOwnsLines)
        return FALSE;
    return RecordResult(EscapeCommFunction(m_hComm, dwFunction));
}

BOOL CSerialPort::GetConfig(LPCOMMCONFIG pConfig, LPDWORD pdwSize)
{
    SetLastErrorCode(0);
    return RecordResult(GetCommConfig(m_hComm, pConfig, pdwSize));
}

BOOL CSerialPort::GetMask(LPDWORD pdwMask)
{
    SetLastErrorCode(0);
    return RecordResult(GetCommMask(m_hComm, pdwMask));
}

BOOL CSerialPort::GetModemStatus(LPDWORD pdwStatus)
{
    SetLastErrorCode(0);
    return RecordResult(GetCommModemStatus(m_hComm, pdwStatus));
}

BOOL CSerialPort::GetProperties(LPCOMMPROP pProp)
{
    SetLastErrorCode(0);
    return RecordResult(GetCommProperties(m_hComm, pProp));
}

BOOL CSerialPort::Purge(DWORD dwFlags)
{
    SetLastErrorCode(0);
    return RecordResult(PurgeComm(m_hComm, dwFlags));
}

BOOL CSerialPort::SetBreak()
{
    SetLastErrorCode(0);
    return RecordResult(SetCommBreak(m_hComm));
}

BOOL CSerialPort::SetConfig(LPCOMMCONFIG pConfig, DWORD dwSize)
{
    SetLastErrorCode(0);
    return RecordResult(SetCommConfig(m_hComm, pConfig, dwSize));
}

BOOL CSerialPort::SetMask(DWORD dwMask)
{
    SetLastErrorCode(0);
    return RecordResult(SetCommMask(m_hComm, dwMask));
}

BOOL CSerialPort::TransmitChar(char cChar)
{
    SetLastErrorCode(0);
    return RecordResult(TransmitCommChar(m_hComm, cChar));
}

// Synchronous: no OVERLAPPED, so it returns when the driver has answered.
BOOL CSerialPort::SetLsrMstInsert(BYTE bEscape)
{
    SetLastErrorCode(0);
    DWORD dwReturned = 0;
    return RecordResult(
        DeviceIoControl(m_hComm, kIoctlSerialLsrmstInsert, &bEscape, 1, nullptr, 0, &dwReturned, nullptr));
}

BOOL CSerialPort::GetState(LPDCB pDcb)
{
    SetLastErrorCode(0);
    pDcb->DCBlength = kDcbLength;
    return RecordResult(GetCommState(m_hComm, pDcb));
}

BOOL CSerialPort::SetState(LPDCB pDcb)
{
    SetLastErrorCode(0);
    pDcb->DCBlength = kDcbLength;
    return RecordResult(SetCommState(m_hComm, pDcb));
}

BOOL CSerialPort::GetTimeouts(LPCOMMTIMEOUTS pTimeouts)
{
    SetLastErrorCode(0);
    return RecordResult(GetCommTimeouts(m_hComm, pTimeouts));
}

BOOL CSerialPort::SetTimeouts(LPCOMMTIMEOUTS pTimeouts)
{
    SetLastErrorCode(0);
    return RecordResult(SetCommTimeouts(m_hComm, pTimeouts));
}
