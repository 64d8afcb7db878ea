// The controller double: see FakeLine.h.
#include "tests/fakes/FakeLine.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "retrieval/RetrievalMessage.h"
#include "serial/SerialPortCtrl.h"
#include "tools/station-sim/StationFrame.h"

namespace {

struct FakeLineState {
    std::mutex mutex;
    std::condition_variable cond;
    bool bOpens = true;
    CSerialPortCtrl* pCurrent = nullptr;
    ReceiveCallback pfnReceive = nullptr;
    LineLostCallback pfnLineLost = nullptr;
    void* pContext = nullptr;
    PortFault fault = PortFault::notFound;
    std::string group;
    bool bLost = false;
    LineErrorCounts lineErrors;
    std::vector<std::uint8_t> written;
    int nConstructed = 0;
    int nAlive = 0;
    std::string portName;
};

FakeLineState& Line()
{
    static FakeLineState s_line;
    return s_line;
}

}  // namespace

// ---- the controller double -------------------------------------------------

CSerialPortCtrl::CSerialPortCtrl(ReceiveCallback pfnReceive, std::string portName, void* pContext,
                                 LineLostCallback pfnLineLost, std::uint32_t dwFixedBaudRate)
    : m_pPort(nullptr), m_bOpen(0), m_dwBaudRate(0), m_readerParams{nullptr, pfnReceive, pContext, pfnLineLost, {0}}
{
    FakeLineState& line = Line();
    std::lock_guard<std::mutex> lock(line.mutex);
    m_bOpen = line.bOpens ? 1 : 0;
    m_dwBaudRate = m_bOpen ? (dwFixedBaudRate != 0 ? dwFixedBaudRate : 115200) : 0;
    ++line.nConstructed;
    ++line.nAlive;
    line.portName = portName;
    if (m_bOpen) {
        line.pCurrent = this;
        line.pfnReceive = m_readerParams.pfnReceive;
        line.pfnLineLost = pfnLineLost;
        line.pContext = m_readerParams.pContext;
    }
    else if (line.fault == PortFault::denied) {
        m_strAccessGroup = line.group;
    }
}

CSerialPortCtrl::~CSerialPortCtrl()
{
    FakeLineState& line = Line();
    std::lock_guard<std::mutex> lock(line.mutex);
    --line.nAlive;
    if (line.pCurrent == this && m_pPort == nullptr) {
        line.pCurrent = nullptr;
        line.pfnReceive = nullptr;
        line.pfnLineLost = nullptr;
    }
}

int CSerialPortCtrl::IsOpen() const { return m_bOpen; }

PortFault CSerialPortCtrl::Fault() const
{
    FakeLineState& line = Line();
    std::lock_guard<std::mutex> lock(line.mutex);
    if (!m_bOpen)
        return line.fault;
    return line.bLost && line.pCurrent == this ? PortFault::lost : PortFault::none;
}

std::string CSerialPortCtrl::AccessGroup() const { return m_strAccessGroup; }

LineErrorCounts CSerialPortCtrl::LineErrors() const
{
    FakeLineState& line = Line();
    std::lock_guard<std::mutex> lock(line.mutex);
    return m_bOpen ? line.lineErrors : LineErrorCounts();
}

int CSerialPortCtrl::Write(const void* pBytes, int count)
{
    FakeLineState& line = Line();
    {
        std::lock_guard<std::mutex> lock(line.mutex);
        const auto* p = static_cast<const std::uint8_t*>(pBytes);
        line.written.insert(line.written.end(), p, p + count);
    }
    line.cond.notify_all();
    return 1;
}

namespace FakeLine {

void SetLineErrors(const LineErrorCounts& counts)
{
    FakeLineState& line = Line();
    std::lock_guard<std::mutex> lock(line.mutex);
    line.lineErrors = counts;
}

void Reset(bool bOpens, PortFault fault, const std::string& group)
{
    FakeLineState& line = Line();
    std::lock_guard<std::mutex> lock(line.mutex);
    line.bOpens = bOpens;
    line.fault = fault;
    line.group = group;
    line.bLost = false;
    line.lineErrors = LineErrorCounts();
    line.written.clear();
    line.nConstructed = 0;
    line.portName.clear();
}

void Receive(const std::vector<std::uint8_t>& bytes)
{
    FakeLineState& line = Line();
    ReceiveCallback pfn;
    void* pContext;
    {
        std::lock_guard<std::mutex> lock(line.mutex);
        pfn = line.pfnReceive;
        pContext = line.pContext;
    }
    if (pfn == nullptr)
        return;
    // The reader thread delivers at most 1024 bytes per call.
    for (std::size_t i = 0; i < bytes.size(); i += 1024) {
        std::size_t n = std::min<std::size_t>(1024, bytes.size() - i);
        pfn(bytes.data() + i, static_cast<std::uint32_t>(n), pContext);
    }
}

void LoseLine()
{
    FakeLineState& line = Line();
    LineLostCallback pfn;
    void* pContext;
    {
        std::lock_guard<std::mutex> lock(line.mutex);
        if (line.pCurrent == nullptr)
            return;
        line.bLost = true;
        pfn = line.pfnLineLost;
        pContext = line.pContext;
    }
    if (pfn != nullptr)
        pfn(pContext);
}

std::vector<std::uint8_t> Written()
{
    FakeLineState& line = Line();
    std::lock_guard<std::mutex> lock(line.mutex);
    return line.written;
}

bool WaitWritten(std::size_t count)
{
    FakeLineState& line = Line();
    std::unique_lock<std::mutex> lock(line.mutex);
    return line.cond.wait_for(lock, std::chrono::seconds(5), [&] { return line.written.size() >= count; });
}

int Constructed()
{
    std::lock_guard<std::mutex> lock(Line().mutex);
    return Line().nConstructed;
}

int Alive()
{
    std::lock_guard<std::mutex> lock(Line().mutex);
    return Line().nAlive;
}

std::string LastPortName()
{
    std::lock_guard<std::mutex> lock(Line().mutex);
    return Line().portName;
}

}  // namespace FakeLine

// ---- station frames --------------------------------------------------------

std::vector<std::uint8_t> StationFrame(const std::vector<std::uint8_t>& message)
{
    return EncodeStationFrame(message.data(), message.size());
}

std::vector<std::uint8_t> SizeResponse(std::uint32_t dwSize)
{
    return StationFrame(StationReplyHeader(kMsgSizeResponse, 0x00, dwSize));
}

std::vector<std::uint8_t> DataChunk(std::uint8_t bFlag, std::uint32_t n, const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> msg = StationReplyHeader(kMsgDataChunk, bFlag, n);
    msg.insert(msg.end(), data.begin(), data.end());
    return StationFrame(msg);
}

std::vector<std::uint8_t> TestImage(std::size_t size)
{
    std::vector<std::uint8_t> image(size);
    std::uint32_t x = 0x12345678;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return image;
}

bool WaitUntil(const std::function<bool()>& pred)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}
