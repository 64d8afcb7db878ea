// The serial line as the link engine sees it: open and configure a port, run
// the reader thread that hands received bytes to a callback, write bytes.
//
// This header stays free of Win32 types so that link/ and retrieval/ never see
// them; the port itself (CSerialPort) is only forward-declared.
#pragma once

#include <cstdint>
#include <string>

class CSerialPort;

// Called on the reader thread with 1 to 1024 received bytes. The bytes lie in
// the reader thread's own buffer and are valid only during the call.
typedef void (*ReceiveCallback)(const std::uint8_t* pBytes, std::uint32_t count, void* pContext);

// The reader thread's start record.
struct ReaderThreadParams {
    CSerialPort* pPort;
    ReceiveCallback pfnReceive;
    void* pContext;
};

class CSerialPortCtrl {
public:
    // Opens portName ("COM1"), takes the baud rate from "UploadConfig.ini" in
    // the working directory, sets the line to even parity, 8 data bits, 1 stop
    // bit, no flow control, 4096-byte queues and starts the reader thread.
    // Shows a message box (on this thread) when the port does not open or the
    // file is missing or names an unsupported rate.
    CSerialPortCtrl(ReceiveCallback pfnReceive, std::string portName, void* pContext);
    // Stops the reader thread and closes the port. Must not run on the reader
    // thread (that is, from within the callback).
    virtual ~CSerialPortCtrl();

    CSerialPortCtrl(const CSerialPortCtrl&) = delete;
    CSerialPortCtrl& operator=(const CSerialPortCtrl&) = delete;

    // BOOL: whether the port opened; taken once, at construction.
    int IsOpen() const;
    // Hands the bytes to the port; write failures are not reported (always TRUE).
    int Write(const void* pBytes, int count);

    // A rate chosen by a caller that takes it from its own command line: every
    // controller constructed afterwards sets dwRate and neither reads nor
    // reports on "UploadConfig.ini"; 0 hands the choice back to the file. The
    // window never calls it. Call it while no controller is being constructed.
    static void SetFixedBaudRate(std::uint32_t dwRate);
    // The rate the latest controller set on its open port; 0 before any did.
    static std::uint32_t LastBaudRate();

private:
    CSerialPort* m_pPort;
    int m_bOpen;
    // One start record per controller, so that two controllers never serve
    // each other's callbacks; it lives as long as the reader thread.
    ReaderThreadParams m_readerParams;
};
