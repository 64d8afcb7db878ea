// CSerialPortCtrl: opens and configures the port and runs its reader thread.
#include "serial/SerialPortCtrl.h"

#include "serial/BaudRateFile.h"
#include "serial/PortName.h"
#include "serial/ReaderThread.h"
#include "serial/SerialPort.h"

#include <atomic>
#include <new>

namespace {

constexpr DWORD kQueueSize = 4096;

std::atomic<std::uint32_t> g_dwFixedBaudRate{0};
std::atomic<std::uint32_t> g_dwLastBaudRate{0};

}  // namespace

// A port that does not open shows no box here: the uploader shows one that
// also names the cause, and two boxes for one failed start read as two faults.
CSerialPortCtrl::CSerialPortCtrl(ReceiveCallback pfnReceive, std::string portName, void* pContext,
                                 LineLostCallback pfnLineLost)
    : m_pPort(new (std::nothrow) CSerialPort(portName.c_str())),
      m_bOpen(FALSE),
      m_readerParams{m_pPort, pfnReceive, pContext, pfnLineLost, {0}}
{
    m_bOpen = m_pPort && m_pPort->IsOpen();
    if (!m_bOpen) {
        if (Fault() == PortFault::denied)
            m_strAccessGroup = PortAccessGroup(PortDevicePath(portName, PlatformPortNameRule()));
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

std::uint32_t CSerialPortCtrl::LastBaudRate() { return g_dwLastBaudRate.load(std::memory_order_relaxed); }
