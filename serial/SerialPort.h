// CSerialPort: the one wrapper around an operating-system serial port.
//
// Opens a named port for overlapped I/O with fixed defaults, offers
// read-modify-write setters for the line settings, an overlapped read, write
// and event wait (each with its own OVERLAPPED, so all three may be
// outstanding at once on different threads), one worker-thread slot and thin
// wrappers for the other Win32 serial calls. Nothing throws or shows a message:
// results are BOOL-style and the platform's error code stays in m_dwLastError.
#pragma once

#include "platform/Win32Api.h"
#include "serial/LineErrors.h"

#include <atomic>

// Flow-control flag word of SetFlowControl; other bits are ignored.
constexpr DWORD FLOW_DSRDTR = 0x01;
constexpr DWORD FLOW_CTSRTS = 0x02;
constexpr DWORD FLOW_XONXOFF = 0x10;

// final: the destructor is deliberately not virtual, the owner deletes the
// port through a CSerialPort pointer.
class CSerialPort final {
public:
    explicit CSerialPort(const char* pszPortName);
    ~CSerialPort();

    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Virtual slots, in this order.
    virtual DWORD Read(void* pBuffer, int nCount, BOOL bWaitAll);
    virtual DWORD Write(const void* pBuffer, int nCount);
    virtual DWORD Reserved(DWORD dwValue1, DWORD dwValue2);
    virtual BOOL BeginWaitEvent();
    virtual DWORD EndWaitEvent(BOOL bWait);

    BOOL IsOpen() const;

    BOOL SetBaudRate(DWORD dwBaudRate);
    BOOL SetLineFormat(BYTE bParity, BYTE bByteSize, BYTE bStopBits);
    BOOL SetFlowControl(DWORD dwFlags, WORD wXonLimit, WORD wXoffLimit, char cXonChar, char cXoffChar);
    BOOL SetQueueSizes(DWORD dwInQueue, DWORD dwOutQueue);
    BOOL SetReadTimeouts(DWORD dwInterval, DWORD dwTotalMultiplier, DWORD dwTotalConstant);
    BOOL SetWriteTimeouts(DWORD dwTotalMultiplier, DWORD dwTotalConstant);

    BOOL StartThread(LPTHREAD_START_ROUTINE pfnThreadProc, LPVOID pParam);
    DWORD StopThread();
    // TRUE once StopThread has begun: a worker that is between waits checks
    // this before it arms the next one.
    BOOL StopRequested() const;

    // Any thread: the line's errors since the port opened. Each line-error
    // flag a ClearCommError call returned counts as one error; where the
    // driver keeps counts of its own (IOCTL_SERIAL_GET_STATS), the higher of
    // the two counts of each kind is taken. Leaves m_dwLastError alone.
    LineErrorCounts LineErrors();

    // Thin wrappers: clear m_dwLastError, make one call on m_hComm, keep its error.
    // They stay although the controller calls few: the port offers the whole comm API.
    BOOL ClearBreak();
    BOOL ClearError(LPCOMSTAT pStat, LPDWORD pdwErrors);
    BOOL EscapeFunction(DWORD dwFunction);
    BOOL GetConfig(LPCOMMCONFIG pConfig, LPDWORD pdwSize);
    BOOL GetMask(LPDWORD pdwMask);
    BOOL GetModemStatus(LPDWORD pdwStatus);
    BOOL GetProperties(LPCOMMPROP pProp);
    BOOL Purge(DWORD dwFlags);
    BOOL SetBreak();
    BOOL SetConfig(LPCOMMCONFIG pConfig, DWORD dwSize);
    BOOL SetMask(DWORD dwMask);
    BOOL TransmitChar(char cChar);
    BOOL SetLsrMstInsert(BYTE bEscape);
    BOOL GetState(LPDCB pDcb);
    BOOL SetState(LPDCB pDcb);
    BOOL GetTimeouts(LPCOMMTIMEOUTS pTimeouts);
    BOOL SetTimeouts(LPCOMMTIMEOUTS pTimeouts);

    HANDLE m_hComm;
    HANDLE m_hThread;
    DWORD m_dwThreadId;
    // Written by whichever thread last cleared or set them (the reader, the
    // writer, the owner), so they are atomic words; relaxed is enough, they
    // order nothing else.
    std::atomic<DWORD> m_dwLastError;
    std::atomic<DWORD> m_dwErrors;
    OVERLAPPED m_ovRead;
    OVERLAPPED m_ovWrite;
    DWORD m_dwEventMask;
    OVERLAPPED m_ovWait;
    // Raised by StopThread before it clears the event mask, lowered by StartThread.
    std::atomic<BOOL> m_bStopRequested;

private:
    void CreateEvents();
    void ApplyDefaults();
    BOOL RecordResult(BOOL bResult);
    BOOL ReadState(DCB* pDcb);
    BOOL WriteState(DCB* pDcb);
    BOOL ReadTimeouts(COMMTIMEOUTS* pTimeouts);
    BOOL WriteTimeouts(COMMTIMEOUTS* pTimeouts);
    DWORD FinishTransfer(OVERLAPPED* pOverlapped, DWORD dwTransferred);
    void ClearLineErrors(COMSTAT* pStat);
    void CountLineErrors(DWORD dwErrors);
    BOOL ReadDriverCounts(SERIALPERF_STATS* pStats);
    void SetLastErrorCode(DWORD dwError);

    // The flags ClearCommError returned, counted: the reader thread counts,
    // any thread reads.
    std::atomic<std::uint32_t> m_dwParityFlags{0};
    std::atomic<std::uint32_t> m_dwFramingFlags{0};
    std::atomic<std::uint32_t> m_dwOverrunFlags{0};

    // The line settings found at open, set again at close: the port may be
    // another program's device, set up for it.
    DCB m_dcbAtOpen;
    BOOL m_bHaveDcbAtOpen;
};
