// The serial line as the link engine sees it: open and configure a port, run
// the reader thread that hands received bytes to a callback, write bytes.
//
// This header stays free of Win32 types so that link/ and retrieval/ never see
// them; the port itself (CSerialPort) is only forward-declared.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "serial/LineErrors.h"
#include "serial/PortFault.h"

class CSerialPort;

// Called on the reader thread with 1 to 1024 received bytes. The bytes lie in
// the reader thread's own buffer and are valid only during the call.
typedef void (*ReceiveCallback)(const std::uint8_t* pBytes, std::uint32_t count, void* pContext);
// Called once on the reader thread when it ends without having been asked
// to: the line went away (a pulled USB adapter, the far end of a pty closed),
// and no byte will come any more.
typedef void (*LineLostCallback)(void* pContext);

// The reader thread's start record.
struct ReaderThreadParams {
    CSerialPort* pPort;
    ReceiveCallback pfnReceive;
    void* pContext;
    LineLostCallback pfnLineLost;
    std::atomic<std::uint32_t> bLineLost;  // set by the reader before it calls pfnLineLost
};

class CSerialPortCtrl {
public:
    // Opens portName ("COM1"), takes the baud rate from "UploadConfig.ini" in
    // the working directory, sets the line to even parity, 8 data bits, 1 stop
    // bit, no flow control, 4096-byte queues and starts the reader thread.
    // Shows a message box (on this thread) when the file is missing or names
    // an unsupported rate; a port that does not open is the caller's to
    // report, with Fault() saying why. A non-zero dwFixedBaudRate (a caller
    // with its own command line) is set instead, and the file is neither
    // read nor reported on.
    CSerialPortCtrl(ReceiveCallback pfnReceive, std::string portName, void* pContext,
                    LineLostCallback pfnLineLost = nullptr, std::uint32_t dwFixedBaudRate = 0);
    // Stops the reader thread and closes the port. Must not run on the reader
    // thread (that is, from within the callback).
    virtual ~CSerialPortCtrl();

    CSerialPortCtrl(const CSerialPortCtrl&) = delete;
    CSerialPortCtrl& operator=(const CSerialPortCtrl&) = delete;

    // BOOL: whether the port opened; taken once, at construction.
    int IsOpen() const;
    // Why the port did not open, or PortFault::lost once the reader has ended
    // on its own; none while the line is up.
    PortFault Fault() const;
    // For a refused port, the group that may open it (PortAccessGroup).
    std::string AccessGroup() const;
    // Hands the bytes to the port; write failures are not reported (always TRUE).
    int Write(const void* pBytes, int count);

    // The rate set on the open port; 0 when the port did not open.
    std::uint32_t BaudRate() const { return m_dwBaudRate; }
    // Any thread: the line's errors since the port opened (none when it did not).
    LineErrorCounts LineErrors() const;

private:
    CSerialPort* m_pPort;
    int m_bOpen;
    std::uint32_t m_dwBaudRate;  // written by the constructor only
    std::string m_strAccessGroup;
    // One start record per controller, so that two controllers never serve
    // each other's callbacks; it lives as long as the reader thread.
    ReaderThreadParams m_readerParams;
};
