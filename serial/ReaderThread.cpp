// The serial reader thread: waits for received bytes and hands them on.
#include "serial/ReaderThread.h"

#include "serial/SerialPort.h"
#include "serial/SerialPortCtrl.h"

#include <cstdint>

namespace {

constexpr int kReadChunk = 1024;
constexpr DWORD kFirstWaitFailed = 0xFFFFFFFF;

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
void DeliverWaitingBytes(CSerialPort* pPort, const ReaderThreadParams* pParams, void* pContext, std::uint8_t* pBuffer)
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

// The reader ends without a stop only when a wait or a read failed: the
// device is gone (Windows fails WaitCommEvent with ERROR_ACCESS_DENIED,
// ERROR_BAD_COMMAND or ERROR_OPERATION_ABORTED when a USB adapter is pulled;
// a pty whose far end closed hangs up). No byte can come after that, so the
// owner hears of it now rather than at its reply timeout.
DWORD EndReader(CSerialPort* pPort, ReaderThreadParams* pParams, DWORD dwExitCode)
{
    if (pPort->StopRequested())
        return dwExitCode;
    pParams->bLineLost.store(1, std::memory_order_release);
    if (LineLostCallback pfnLineLost = pParams->pfnLineLost)
        pfnLineLost(pParams->pContext);
    return dwExitCode;
}

}  // namespace

DWORD WINAPI ReaderThreadProc(LPVOID pParam)
{
    ReaderThreadParams* pParams = static_cast<ReaderThreadParams*>(pParam);
    CSerialPort* pPort = pParams->pPort;
    void* pContext = pParams->pContext;
    std::uint8_t abBuffer[kReadChunk];

    pPort->SetMask(EV_RXCHAR);
    // Setting the mask forgets the events seen so far: bytes that arrived
    // before it would wait for the next byte, so take them now.
    DeliverWaitingBytes(pPort, pParams, pContext, abBuffer);
    switch (ArmNextWait(pPort)) {
    case ARM_OK: break;
    case ARM_STOPPED: return 0;
    case ARM_FAILED: return EndReader(pPort, pParams, kFirstWaitFailed);
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
    return EndReader(pPort, pParams, 0);
}
