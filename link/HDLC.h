// The link engine: moves frames between one serial line and one frame sink.
//
// Bytes arrive on the serial reader thread (OnReceive) and are decoded into
// FCS-checked frames on m_rxQueue; frames posted with Send wait on m_txQueue.
// The link's worker alternates: one received frame to the sink, then one
// posted frame encoded and written, and sleeps on its wake while both queues
// are empty. Every buffer goes back to the pool, never to the heap.
//
// Trace hook: LinkOptions::pfnTrace, this link's own, is called with (the
// options' context, direction, bytes, count) for
//   LINK_TRACE_WRITE  every encoded frame as written to the line (link worker),
//   LINK_TRACE_BURST  every raw burst received from the line (reader thread),
//   LINK_TRACE_FRAME  every decoded frame's abData/wLength, just before it is
//                     handed to the sink (link worker).
// The bytes are valid only during the call. Options are fixed at construction,
// so several links in one process each keep their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "link/FrameBuffer.h"
#include "link/FrameCodec.h"
#include "link/FrameSink.h"
#include "link/WorkerThread.h"
#include "serial/SerialPortCtrl.h"

enum { LINK_TRACE_WRITE = 0, LINK_TRACE_BURST = 1, LINK_TRACE_FRAME = 2 };
typedef void (*LinkTraceProc)(void* pContext, int nDirection, const std::uint8_t* pBytes, std::uint32_t count);

// What a link has counted so far: received frames it dropped, by reason; the
// line's own errors; bytes written to the line (framing included) and read
// from it.
struct LinkCounts {
    FrameDrops drops{};
    LineErrorCounts lineErrors;
    std::uint64_t qwWireSent = 0;
    std::uint64_t qwWireReceived = 0;
};

// What one run sets on its link; the window uses the defaults.
struct LinkOptions {
    std::uint32_t dwFixedBaudRate = 0;  // non-zero: this rate, "UploadConfig.ini" unread
    LinkTraceProc pfnTrace = nullptr;
    void* pTraceContext = nullptr;
};

class CHdlcLink {
public:
    CHdlcLink(const std::string& portName, IFrameSink* pSink, const LinkOptions& options = LinkOptions());
    ~CHdlcLink();

    int IsOpen();  // BOOL
    // Why the port did not open, or PortFault::lost once the line went away.
    PortFault Fault();
    std::string AccessGroup();  // for a refused port: the group that may open it
    void Start();
    void Send(FrameBuffer* pFrame);  // any thread, before or after Start

    static void OnReceive(const std::uint8_t* pBytes, std::uint32_t count, void* pContext);
    static void OnLineLost(void* pContext);
    // Any thread. Received frames this link's decoder has thrown away (bad
    // FCS, unwanted address or control byte, too long, aborted), by reason.
    FrameDrops Drops() const;
    // Any thread. The line's parity, framing and overrun errors since the
    // port opened; none when it did not open.
    LineErrorCounts LineErrors() const;
    // The rate set on the line; 0 when the port did not open.
    std::uint32_t BaudRate() const;
    // Any thread: all of the above and the bytes on the wire, for reports.
    LinkCounts Counts() const;

private:
    void TransmitFrame(FrameBuffer* pFrame);
    int WriteRaw(const std::uint8_t* pBytes, int count);
    void DecodeReceived(const std::uint8_t* pBytes, std::uint32_t count);
    void DeliverFrame(FrameBuffer* pFrame);
    bool ReportLineLost();
    void Run();
    void Trace(int nDirection, const std::uint8_t* pBytes, std::uint32_t count);
    static void LinkThreadProc(void* pParam);

    FrameQueue m_rxQueue;
    FrameQueue m_txQueue;
    IFrameSink* m_pSink;
    CSerialPortCtrl* m_pCtrl;
    CWorkerThread m_worker;  // pushes onto either queue and the stop wake it; joined plainly
    FrameDecoder m_decoder;  // reader thread only, until the destructor releases it
    const LinkOptions m_options;
    std::atomic<std::uint32_t> m_adwDropped[DROP_REASONS] = {};       // counts only: relaxed
    std::atomic<std::uint64_t> m_qwWireSent{0}, m_qwWireReceived{0};  // counts only: relaxed
    // Raised by the reader thread when the line goes away; the worker tells
    // the sink once the frames received before it have gone out.
    std::atomic<std::uint32_t> m_bLineLost{0};
    bool m_bLossReported = false;  // worker only
};
