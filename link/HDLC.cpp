// The link engine: see HDLC.h.
#include "link/HDLC.h"

#include <new>

#include "platform/AppMessageBox.h"

namespace {

void DrainToPool(FrameQueue* q)
{
    while (FrameBuffer* p = Pop(q))
        BufferPoolPut(p);
}

}  // namespace

// Every member starts zero or null; the queues are empty and the decoder
// hunts holding no buffer. The queue locks must exist before the controller,
// because its reader thread starts decoding into m_rxQueue at once.
CHdlcLink::CHdlcLink(const std::string& portName, IFrameSink* pSink, const LinkOptions& options)
    : m_rxQueue{}, m_txQueue{}, m_pSink(nullptr), m_pCtrl(nullptr), m_worker(), m_decoder{}, m_options(options)
{
    m_rxQueue.pLock = new std::mutex;
    m_txQueue.pLock = new std::mutex;
    m_pCtrl = new (std::nothrow) CSerialPortCtrl(OnReceive, portName, this, OnLineLost, options.dwFixedBaudRate);
    m_pSink = pSink;
}

// The worker may be inside OnFrame or a write through the controller, so it
// is joined before anything it uses goes away. Once the controller is gone the
// reader thread has ended and nothing pushes any more; then every buffer the
// link holds goes back to the pool.
CHdlcLink::~CHdlcLink()
{
    m_worker.Stop();
    delete m_pCtrl;
    m_pCtrl = nullptr;
    DrainToPool(&m_rxQueue);
    DrainToPool(&m_txQueue);
    DecoderRelease(&m_decoder);
    delete m_rxQueue.pLock;
    delete m_txQueue.pLock;
}

int CHdlcLink::IsOpen() { return m_pCtrl != nullptr && m_pCtrl->IsOpen() ? 1 : 0; }

PortFault CHdlcLink::Fault() { return m_pCtrl != nullptr ? m_pCtrl->Fault() : PortFault::notFound; }

std::string CHdlcLink::AccessGroup() { return m_pCtrl != nullptr ? m_pCtrl->AccessGroup() : std::string(); }

void CHdlcLink::Start()
{
    if (!IsOpen()) {
        AppMessageBox("Unable to open serial port.", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // Without a thread nothing is delivered or written, and the uploader's
    // reply timeout ends the retrieval.
    m_worker.Start(LinkThreadProc, this);
}

void CHdlcLink::Send(FrameBuffer* pFrame)
{
    if (pFrame == nullptr)
        return;
    Push(&m_txQueue, pFrame);
    m_worker.Wake().Signal();
}

FrameDrops CHdlcLink::Drops() const
{
    FrameDrops drops{};
    for (int nReason = 0; nReason < DROP_REASONS; ++nReason)
        drops.adwCount[nReason] = m_adwDropped[nReason].load(std::memory_order_relaxed);
    return drops;
}

LinkCounts CHdlcLink::Counts() const
{
    LinkCounts counts;
    counts.drops = Drops();
    counts.lineErrors = LineErrors();
    counts.qwWireSent = m_qwWireSent.load(std::memory_order_relaxed);
    counts.qwWireReceived = m_qwWireReceived.load(std::memory_order_relaxed);
    return counts;
}

LineErrorCounts CHdlcLink::LineErrors() const { return m_pCtrl != nullptr ? m_pCtrl->LineErrors() : LineErrorCounts(); }

std::uint32_t CHdlcLink::BaudRate() const { return m_pCtrl != nullptr ? m_pCtrl->BaudRate() : 0; }

void CHdlcLink::Trace(int nDirection, const std::uint8_t* pBytes, std::uint32_t count)
{
    if (m_options.pfnTrace != nullptr)
        m_options.pfnTrace(m_options.pTraceContext, nDirection, pBytes, count);
}

// Reader thread. pContext is the link that created the controller.
void CHdlcLink::OnReceive(const std::uint8_t* pBytes, std::uint32_t count, void* pContext)
{
    static_cast<CHdlcLink*>(pContext)->DecodeReceived(pBytes, count);
}

// Reader thread, as it ends: it has handed on every byte it received.
void CHdlcLink::OnLineLost(void* pContext)
{
    CHdlcLink* pLink = static_cast<CHdlcLink*>(pContext);
    pLink->m_bLineLost.store(1, std::memory_order_release);
    pLink->m_worker.Wake().Signal();
}

void CHdlcLink::DecodeReceived(const std::uint8_t* pBytes, std::uint32_t count)
{
    Trace(LINK_TRACE_BURST, pBytes, count);
    m_qwWireReceived.fetch_add(count, std::memory_order_relaxed);
    const FrameDrops before = m_decoder.m_dropped;
    Decode(&m_decoder, &m_rxQueue, pBytes, count);
    for (int nReason = 0; nReason < DROP_REASONS; ++nReason)
        if (const std::uint32_t dwNew = m_decoder.m_dropped.adwCount[nReason] - before.adwCount[nReason])
            m_adwDropped[nReason].fetch_add(dwNew, std::memory_order_relaxed);
    if (m_rxQueue.nCount.load(std::memory_order_acquire) != 0)
        m_worker.Wake().Signal();
}

// Link worker. The encoded frame lives on this call's stack: the write has
// completed when WriteRaw returns. The buffer goes back whatever the result.
void CHdlcLink::TransmitFrame(FrameBuffer* pFrame)
{
    std::uint8_t abOut[kMaxEncodedFrame];
    std::uint16_t wCount = EncodeFrame(pFrame, abOut);
    if (wCount != 0) {
        Trace(LINK_TRACE_WRITE, abOut, wCount);
        m_qwWireSent.fetch_add(wCount, std::memory_order_relaxed);
        WriteRaw(abOut, wCount);
    }
    BufferPoolPut(pFrame);
}

int CHdlcLink::WriteRaw(const std::uint8_t* pBytes, int count) { return m_pCtrl->Write(pBytes, count); }

void CHdlcLink::DeliverFrame(FrameBuffer* pFrame)
{
    Trace(LINK_TRACE_FRAME, pFrame->abData, pFrame->wLength);
    m_pSink->OnFrame(pFrame);
}

// Link worker, once the receive queue looked empty. The reader raises the
// loss after its last push, so a look at the queue made after the loss is
// seen shows every frame received before it: those go to the sink first.
bool CHdlcLink::ReportLineLost()
{
    if (m_bLossReported || m_bLineLost.load(std::memory_order_acquire) == 0 ||
        m_rxQueue.nCount.load(std::memory_order_acquire) != 0)
        return false;
    m_bLossReported = true;
    m_pSink->OnLineLost();
    return true;
}

// One pass delivers at most one received frame, then writes at most one. The
// counts are read without the lock: this thread is the only consumer, so a
// non-zero count means Pop finds a frame. The sequence is taken before the
// counts are looked at, so a push after the look still ends the wait.
void CHdlcLink::Run()
{
    for (;;) {
        std::uint32_t dwSeen = m_worker.Wake().Sequence();
        if (m_worker.StopRequested())
            return;
        bool bBusy = false;
        if (m_rxQueue.nCount.load(std::memory_order_acquire) != 0) {
            DeliverFrame(Pop(&m_rxQueue));
            bBusy = true;
        }
        else {
            bBusy = ReportLineLost();
        }
        if (m_txQueue.nCount.load(std::memory_order_acquire) != 0) {
            TransmitFrame(Pop(&m_txQueue));
            bBusy = true;
        }
        if (!bBusy)
            m_worker.Wake().Wait(dwSeen);
    }
}

void CHdlcLink::LinkThreadProc(void* pParam) { static_cast<CHdlcLink*>(pParam)->Run(); }
