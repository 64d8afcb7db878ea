// The simulator's end of the line: a pty or a serial device, read as bytes
// arrive and written at the line rate of the configured baud rate.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/station-sim/StationSim.h"

struct LineOptions {
    std::string strDevice;  // empty: a new pty
    std::string strLink;    // pty only: symlink to the slave, removed at exit
    std::uint32_t dwBaud = 115200;
    bool bPaced = true;
    std::uint32_t dwSliceBytes = 0;  // 0: about 2 ms of line time
    bool bOnce = false;
    bool bVerbose = false;
};

class CStationLine {
public:
    explicit CStationLine(const LineOptions& options);
    ~CStationLine();

    CStationLine(const CStationLine&) = delete;
    CStationLine& operator=(const CStationLine&) = delete;

    // Opens the pty or device; on failure prints why and returns false.
    bool Open();
    // The slave's path (pty) or the device's.
    const std::string& Path() const { return m_strPath; }
    // Serves until a signal ends it, the line closes, or (--once) one image has
    // been served. Returns the exit status.
    int Serve(CStationSim& sim);

private:
    bool OpenPty();
    bool OpenDevice();
    void Close();
    int Perform(CStationSim& sim, SimAction& action, std::uint64_t now);
    int PollLine(CStationSim& sim, std::uint64_t now, const sigset_t& waitMask);
    void ReadLine(CStationSim& sim);
    bool WriteDue(std::uint64_t now);
    std::int64_t NextWakeNs(std::uint64_t now);
    void DrainToHost();
    void ReportServed(CStationSim& sim);

    LineOptions m_options;
    std::string m_strPath;
    int m_fd = -1;       // pty master or device
    int m_fdSlave = -1;  // held open so the master never sees EIO between clients
    bool m_bLinked = false;

    std::uint64_t m_qwByteNs;             // one byte at 11 bits per byte
    std::uint32_t m_dwSliceBytes;         // bytes handed to the line at a time
    std::vector<std::uint8_t> m_pending;  // the frame being written
    std::size_t m_nWritten = 0;
    std::uint64_t m_qwLineFreeNs = 0;    // when the line has sent all written bytes
    std::uint64_t m_qwSliceStartNs = 0;  // 0: no slice chosen yet
    std::size_t m_nSliceLen = 0;
    std::uint64_t m_qwQuietUntilNs = 0;  // a stall in progress
    std::uint32_t m_dwSeenRetrievals = 0;
    std::uint32_t m_dwSeenRequests = 0;
    std::uint32_t m_dwServed = 0;
    std::uint32_t m_dwBadSeen = 0;
    std::uint32_t m_dwIgnoredSeen = 0;
};
