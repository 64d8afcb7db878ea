// CSerialPortCtrl: opens and configures the port and runs its reader thread.
#include "serial/SerialPortCtrl.h"

#include "serial/BaudRateFile.h"
#include "serial/PortName.h"
#include "serial/ReaderThread.h"
#include "serial/SerialPort.h"

#include <new>

namespace {

constexpr DWORD kQueueSize = 4096;

}  // namespace

// A port that does not open shows no box here: the uploader shows one that
// also names the cause, and two boxes for one failed start read as two faults.
CSerialPortCtrl::CSerialPortCtrl(ReceiveCallback pfnReceive, std::string portName, void* pContext,
                                 LineLostCallback pfnLineLost, std::uint32_t dwFixedBaudRate)
    : m_pPort(new (std::nothrow) CSerialPort(portName.c_str())),
      m_bOpen(FALSE),
      m_dwBaudRate(0),
      m_readerParams{m_pPort, pfnReceive, pContext, pfnLineLost, {0}}
{
    m_bOpen = m_pPort && m_pPort->IsOpen();
    if (!m_bOpen) {
        if (Fault() == PortFault::denied)
            m_strAccessGroup = PortAccessGroup(PortDevicePath(portName, PlatformPortNameRule()));
        return;
    }
    m_dwBaudRate = dwFixedBaudRate != 0 ? dwFixedBaudRate : ReadBaudRateFile();
    // Results are not looked at: a refused setting leaves the driver's own.
    m_pPort->SetBaudRate(m_dwBaudRate);
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

int CSerialPortCtrl::IsOpen() const { return m_bOpen; }

std::string CSerialPortCtrl::AccessGroup() const { return m_strAccessGroup; }

PortFault CSerialPortCtrl::Fault() const
{
    if (!m_pPort)
        return PortFault::notFound;
    if (!m_bOpen) {
        const PortFault fault =
            PortFaultFromError(m_pPort->m_dwLastError.load(std::memory_order_relaxed), PlatformPortNameRule());
        return fault != PortFault::none ? fault : PortFault::notFound;
    }
    return m_readerParams.bLineLost.load(std::memory_order_acquire) != 0 ? PortFault::lost : PortFault::none;
}

LineErrorCounts CSerialPortCtrl::LineErrors() const { return m_bOpen ? m_pPort->LineErrors() : LineErrorCounts(); }

int CSerialPortCtrl::Write(const void* pBytes, int count)
{
    if (m_pPort)
        m_pPort->Write(pBytes, count);
    return TRUE;
}
