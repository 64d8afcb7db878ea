// --trace: a timestamped hex dump of each link's traffic on standard error,
// through the link's trace hook.
#pragma once

#include <cstdint>
#include <string>

// Splits received bytes into wire frames and bytes outside frames, the way
// the trace shows them. Fed by one thread at a time (the serial reader).
class CTraceScanner {
public:
    // Each complete wire frame (flags included) and each run of bytes outside
    // frames goes to pfnEmit; a frame split over bursts waits for its end.
    typedef void (*EmitProc)(bool bFrame, const std::uint8_t* pBytes, std::size_t count, void* pContext);

    void Feed(const std::uint8_t* pBytes, std::size_t count, EmitProc pfnEmit, void* pContext);

private:
    std::string m_frame;    // the frame being received, from its opening flag
    std::string m_dropped;  // bytes outside frames not yet emitted
};

// What a station frame is, for the trace: "size response", "bad FCS", ...
std::string DescribeWireFrame(const std::uint8_t* pBytes, std::size_t count);

// One port's trace: what its reader thread has scanned so far, and the label
// each dump starts with (the port, when several run at once).
struct PortTrace {
    CTraceScanner scanner;  // that port's reader thread only
    std::string strLabel;
};

// For the link's trace hook: one dump per written frame, per received wire
// frame, per run of received bytes outside frames and per frame handed to the
// uploader. Called on that port's link worker and serial reader.
void TraceLinkEvent(PortTrace* pTrace, int nDirection, const std::uint8_t* pBytes, std::uint32_t count);
