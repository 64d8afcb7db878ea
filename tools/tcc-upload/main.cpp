// tcc-upload: one configuration retrieval from the command line, driven
// through CMapUploader exactly as the upload window drives it.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/HDLC.h"
#include "retrieval/MapUploader.h"
#include "serial/BaudRateFile.h"
#include "serial/SerialPortCtrl.h"
#include "Version.h"
#include "tools/tcc-upload/Console.h"
#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Report.h"
#include "tools/tcc-upload/RetryWait.h"
#include "tools/tcc-upload/Trace.h"

namespace {

enum { EXIT_OK = 0, EXIT_RETRIEVAL_FAILED = 1, EXIT_USAGE = 2, EXIT_WRITE_FAILED = 3 };

// The window polls every 250 ms; a finer poll reads the same things and only
// trims the wait after the last chunk (40 ms: under 1 % of a 64 KiB run at
// 115200 baud, and few wake-ups). The progress line keeps the window's pace.
constexpr auto kPollInterval = std::chrono::milliseconds(40);
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

const char kUsage[] =
    "Usage: tcc-upload --port PORT --output FILE [OPTION]...\n"
    "  or:  tcc-upload --list-ports [--json] [--all]\n"
    "\n"
    "Fetches the base station's configuration image over the serial port PORT and\n"
    "saves it to FILE, which is replaced only once the whole image has arrived.\n"
    "Progress, messages and the closing summary go to standard error.\n"
    "\n"
    "Options:\n"
    "  --port PORT    the serial port: a device path such as /dev/ttyUSB0, or COM3\n"
    "                 on Windows; auto takes the one USB serial adapter present,\n"
    "                 usb:SERIAL the USB adapter with that serial number and\n"
    "                 usb:VVVV:PPPP the one with those hex vendor and product ids\n"
    "                 (as --list-ports shows them)\n"
    "  --output FILE  where the image is saved\n"
    "  --baud B       the line rate: 9600, 19200, 38400, 57600 or 115200; without\n"
    "                 it UploadConfig.ini in the current directory decides (115200\n"
    "                 when the file is missing)\n"
    "  --retries N    after a failed retrieval, try again up to N more times (0 to\n"
    "                 99, default 0); never once the image is saved\n"
    "  --retry-wait S\n"
    "                 seconds between attempts (0 to 600, default 2); a port that\n"
    "                 is missing then (an adapter plugged in again) is waited for\n"
    "                 up to as long again\n"
    "  --json         at the end, one JSON object on standard output (keys below)\n"
    "  --quiet        no progress line, no note of the port auto took and no closing\n"
    "                 summary (size, time, rate and attempts)\n"
    "  --trace        hex dump of every frame sent and received on standard error\n"
    "  --list-ports   the serial ports of this machine and what each one is: USB\n"
    "                 adapter (with vendor and product where known), built-in\n"
    "                 UART; with --json a JSON array of objects with the keys\n"
    "                 port, kind (usb, uart, pty, other), description, vid, pid,\n"
    "                 serial, manufacturer, product and, on Linux, by_id (null\n"
    "                 where unknown)\n"
    "  --all          with --list-ports: pseudo terminals (ptys) too\n"
    "  -h, --help     this text\n"
    "\n"
    "JSON keys:\n"
    "  result               \"saved\" or \"failed\"\n"
    "  port                 the port used (the one auto took)\n"
    "  baud                 the line rate set; null when the port never opened\n"
    "  bytes                image bytes the last attempt received\n"
    "  output               FILE as given\n"
    "  seconds              the whole run, every attempt included\n"
    "  attempts             retrievals started\n"
    "  wire_bytes_sent      bytes written to the line, framing included\n"
    "  wire_bytes_received  bytes read from the line\n"
    "  frames_dropped       received frames the link threw away (bad FCS, wrong\n"
    "                       address or control byte, too long, aborted)\n"
    "  message              why the run failed; null when saved\n"
    "The byte and frame counts cover every attempt. A usage error prints no JSON.\n"
    "\n"
    "Exit status:\n"
    "  0  the image was saved\n"
    "  1  the retrieval failed (nothing written)\n"
    "  2  usage error, and --port auto or usb:... finding no matching USB serial\n"
    "     adapter or several\n"
    "  3  the file could not be written\n"
    "\n"
    "Environment:\n"
    "  TCC_UPLOAD_ROOT  Linux: look for ports in sys/ and dev/ below this folder\n"
    "                   instead of the machine's own (for tests)\n";

constexpr std::uint32_t kMaxRetries = 99;
constexpr std::uint32_t kMaxRetryWait = 600;

struct Options {
    std::string strPort;
    std::string strOutput;
    std::uint32_t dwBaud = 0;  // 0: UploadConfig.ini decides
    std::uint32_t dwRetries = 0;
    std::uint32_t dwRetryWait = 2;  // seconds
    bool bAll = false;
    bool bJson = false;
    bool bQuiet = false;
    bool bTrace = false;
    bool bListPorts = false;
};

int Usage(const std::string& why)
{
    std::fprintf(stderr, "tcc-upload: %s\n%s", why.c_str(), kUsage);
    return EXIT_USAGE;
}

// Digits only, no sign or blanks; false when out of range.
bool ParseCount(const std::string& text, std::uint32_t dwMax, std::uint32_t* pValue)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long value = std::stoul(text);
    if (value > dwMax)
        return false;
    *pValue = static_cast<std::uint32_t>(value);
    return true;
}

// One row an option: whether it takes the next argument as its value, and
// what it does. Apply returns -1 when the option is taken, else the exit
// status (--help and --version end the parse with 0).
struct OptionRow {
    const char* pszName;
    bool bValue;
    int (*pfnApply)(Options& opt, const std::string& value);
};

int ShowHelp(Options&, const std::string&)
{
    std::fputs(kUsage, stdout);
    return EXIT_OK;
}

template <bool Options::*pFlag>
int SetFlag(Options& opt, const std::string&)
{
    opt.*pFlag = true;
    return -1;
}

template <std::string Options::*pText>
int SetText(Options& opt, const std::string& value)
{
    opt.*pText = value;
    return -1;
}

const OptionRow kOptions[] = {
    {"--help", false, ShowHelp},
    {"-h", false, ShowHelp},
    {"--version", false,
     [](Options&, const std::string&) -> int {
         std::puts("tcc-upload " TCC_VERSION);
         return EXIT_OK;
     }},
    {"--quiet", false, SetFlag<&Options::bQuiet>},
    {"--trace", false, SetFlag<&Options::bTrace>},
    {"--json", false, SetFlag<&Options::bJson>},
    {"--list-ports", false, SetFlag<&Options::bListPorts>},
    {"--port", true, SetText<&Options::strPort>},
    {"--output", true, SetText<&Options::strOutput>},
    {"--baud", true,
     [](Options& opt, const std::string& value) {
         if (ParseCount(value, UINT32_MAX, &opt.dwBaud) && IsSupportedBaudRate(opt.dwBaud))
             return -1;
         return Usage("--baud " + value + ": the rate must be 9600, 19200, 38400, 57600 or 115200");
     }},
    {"--retries", true,
     [](Options& opt, const std::string& value) {
         if (ParseCount(value, kMaxRetries, &opt.dwRetries))
             return -1;
         return Usage("--retries " + value + ": a count from 0 to " + std::to_string(kMaxRetries));
     }},
    // The waits between attempts and --list-ports --all.
    {"--retry-wait", true,
     [](Options& opt, const std::string& value) {
         if (ParseCount(value, kMaxRetryWait, &opt.dwRetryWait))
             return -1;
         return Usage("--retry-wait " + value + ": seconds from 0 to " + std::to_string(kMaxRetryWait));
     }},
    {"--all", false, SetFlag<&Options::bAll>},
};

// Returns -1 when the options are good, else the exit status.
int ParseOptions(int argc, char** argv, Options* pOpt)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const OptionRow* pRow = nullptr;
        for (const OptionRow& row : kOptions)
            if (arg == row.pszName)
                pRow = &row;
        if (pRow == nullptr)
            return Usage("unknown option " + arg);
        std::string value;
        if (pRow->bValue) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return Usage("missing value for " + arg);
            value = argv[++i];
        }
        const int nExit = pRow->pfnApply(*pOpt, value);
        if (nExit >= 0)
            return nExit;
    }
    if (pOpt->bListPorts) {
        const bool bAlone =
            pOpt->strPort.empty() && pOpt->strOutput.empty() && pOpt->dwBaud == 0 && pOpt->dwRetries == 0;
        return bAlone ? -1 : Usage("--list-ports takes no other option than --json and --all");
    }
    if (pOpt->bAll)
        return Usage("--all goes with --list-ports");
    if (pOpt->strPort.empty() || pOpt->strOutput.empty())
        return Usage("--port and --output are both needed");
    return -1;
}

std::string ProgressText(std::uint32_t dwReceived, std::uint32_t dwTotal, double seconds)
{
    char sz[128];
    if (dwTotal == 0) {
        std::snprintf(sz, sizeof sz, "waiting for the station... %.0f s", seconds);
        return sz;
    }
    const double rate = seconds > 0.05 ? dwReceived / seconds : 0.0;
    const double left = rate > 0 ? (dwTotal - dwReceived) / rate : 0.0;
    std::snprintf(sz, sizeof sz, "%u of %u bytes (%u%%)  %.1f KiB/s  %d:%02d left", dwReceived, dwTotal,
                  static_cast<unsigned>(100.0 * dwReceived / dwTotal), rate / 1024.0, static_cast<int>(left) / 60,
                  static_cast<int>(left) % 60);
    return sz;
}

// The window's sequence: Start, then poll m_bFinished and the counters until
// the run has ended. Returns false when interrupted first.
bool WaitForFinish(CMapUploader& uploader, bool bProgress)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextDraw = start;
    auto dataStart = start;
    std::uint32_t dwLastTotal = 0;
    while (uploader.m_bFinished.load(std::memory_order_acquire) == 0) {
        if (WasInterrupted())
            return false;
        const std::uint32_t dwTotal = uploader.GetTotalSize();
        const std::uint32_t dwReceived = uploader.GetReceived();
        const auto now = Clock::now();
        if (dwTotal != 0 && dwLastTotal == 0)
            dataStart = now;  // the rate counts from the size response on
        dwLastTotal = dwTotal;
        if (bProgress && now >= nextDraw) {
            const auto since = dwTotal ? now - dataStart : now - start;
            ConsoleProgress(ProgressText(dwReceived, dwTotal, std::chrono::duration<double>(since).count()));
            nextDraw = now + kProgressInterval;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

// Every link event passes here: the wire counts for the report, and the
// trace when asked for. Called on the link worker and the serial reader.
std::atomic<std::uint64_t> g_qwWireSent{0};
std::atomic<std::uint64_t> g_qwWireReceived{0};
std::atomic<bool> g_bTrace{false};  // set before the first link exists

void OnLinkEvent(int nDirection, const std::uint8_t* pBytes, std::uint32_t count)
{
    if (nDirection == LINK_TRACE_WRITE)
        g_qwWireSent.fetch_add(count, std::memory_order_relaxed);
    else if (nDirection == LINK_TRACE_BURST)
        g_qwWireReceived.fetch_add(count, std::memory_order_relaxed);
    if (g_bTrace.load(std::memory_order_relaxed))
        TraceLinkEvent(nDirection, pBytes, count);
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int SaveImage(CAtomicFile& file, CMapUploader& uploader, RunReport* pReport)
{
    if (!file.Write(uploader.GetData(), uploader.GetReceived()) || !file.Commit()) {
        pReport->strMessage = file.ErrorText();
        ConsoleLine("tcc-upload: " + pReport->strMessage);
        return EXIT_WRITE_FAILED;
    }
    return EXIT_OK;
}

int Interrupted(RunReport* pReport)
{
    pReport->strMessage = "interrupted";
    ConsoleLine("tcc-upload: interrupted; nothing written");
    return EXIT_RETRIEVAL_FAILED;
}

// --retry-wait between attempts, and as long again for a missing port.
// Returns false when interrupted.
bool WaitToRetry(const Options& opt, std::uint32_t dwFailed)
{
    if (!opt.bQuiet)
        ConsoleLine("tcc-upload: attempt " + std::to_string(dwFailed) + " of " + std::to_string(opt.dwRetries + 1) +
                    " failed; trying again in " + std::to_string(opt.dwRetryWait) + " s");
    RetryWait wait;
    wait.dwWaitMs = opt.dwRetryWait * 1000;
    wait.interrupted = WasInterrupted;
    wait.portPresent = PortIsPresent;
    const RetryWaitEnd nEnd = WaitBeforeRetry(wait, opt.strPort);
    if (nEnd == RETRY_PORT_MISSING && !opt.bQuiet)
        ConsoleLine("tcc-upload: " + opt.strPort + " has not come back; trying it all the same");
    return nEnd != RETRY_INTERRUPTED;
}

// The window's run, once per attempt: a new uploader for the port, Start,
// wait, save on success, delete. A saved image, a failed save and an
// interruption end the run; only a failed retrieval is tried again.
int RunAttempts(CAtomicFile& file, const Options& opt, RunReport* pReport)
{
    const bool bProgress = !opt.bQuiet && StderrIsTerminal();
    for (;;) {
        ++pReport->dwAttempts;
        const auto start = std::chrono::steady_clock::now();
        CMapUploader* pUploader = new CMapUploader(opt.strPort);
        pUploader->Start();
        const bool bFinished = WaitForFinish(*pUploader, bProgress);
        ConsoleEndProgress();
        pReport->dAttemptSeconds = SecondsSince(start);
        pReport->dwBytes = pUploader->GetReceived();
        const bool bRetrieved = bFinished && pUploader->Succeeded();
        const int nSaved = bRetrieved ? SaveImage(file, *pUploader, pReport) : EXIT_RETRIEVAL_FAILED;
        delete pUploader;
        const std::string message = ConsoleTakeMessage();
        if (bRetrieved)
            return nSaved;
        if (!bFinished || WasInterrupted())
            return Interrupted(pReport);
        pReport->strMessage = message.empty() ? "the retrieval failed" : message;
        if (pReport->dwAttempts > opt.dwRetries)
            break;
        if (!WaitToRetry(opt, pReport->dwAttempts))
            return Interrupted(pReport);
    }
    if (!opt.bQuiet)
        ConsoleLine(FormatSummary(*pReport));
    return EXIT_RETRIEVAL_FAILED;
}

int Retrieve(const Options& opt)
{
    const auto start = std::chrono::steady_clock::now();
    RunReport report;
    report.strPort = opt.strPort;
    report.strOutput = opt.strOutput;
    // The temporary file comes first: a folder that cannot take the file is
    // reported before the station is asked for anything.
    CAtomicFile file;
    int nExit = EXIT_WRITE_FAILED;
    if (!file.Create(opt.strOutput)) {
        report.strMessage = file.ErrorText();
        ConsoleLine("tcc-upload: " + report.strMessage);
    }
    else {
        ConsoleInit(!opt.bQuiet && StderrIsTerminal());
        InstallInterruptHandler();
        CSerialPortCtrl::SetFixedBaudRate(opt.dwBaud);
        g_bTrace.store(opt.bTrace, std::memory_order_relaxed);
        CHdlcLink::SetTrace(OnLinkEvent);  // before the link exists
        nExit = RunAttempts(file, opt, &report);
        file.Discard();
    }
    report.bSaved = nExit == EXIT_OK;
    report.dSeconds = SecondsSince(start);
    report.dwBaud = CSerialPortCtrl::LastBaudRate();
    report.qwWireSent = g_qwWireSent.load(std::memory_order_relaxed);
    report.qwWireReceived = g_qwWireReceived.load(std::memory_order_relaxed);
    report.dwFramesDropped = CHdlcLink::FramesDropped();
    if (report.bSaved && !opt.bQuiet)
        ConsoleLine(FormatSummary(report));
    if (opt.bJson) {
        std::printf("%s\n", FormatJson(report).c_str());
        std::fflush(stdout);
    }
    return nExit;
}

// auto and usb:...: the one matching USB serial adapter, named on standard
// error; with none or several it is a usage error that lists them. Returns -1
// when the port is set.
int ResolveAutoPort(Options* pOpt)
{
    if (!IsAdapterSpec(pOpt->strPort))
        return -1;
    const PortChoice choice = ChoosePort(pOpt->strPort, ListSerialPorts());
    if (choice.nFailure == RunFailure::none && !choice.bUsage) {
        if (!pOpt->bQuiet)
            ConsoleLine("tcc-upload: --port " + pOpt->strPort + ": " + DescribePort(choice.candidates[0]));
        pOpt->strPort = choice.strPort;
        return -1;
    }
    std::fputs(PortChoiceMessage(pOpt->strPort, choice).c_str(), stderr);
    return EXIT_USAGE;
}

int ListPorts(const Options& opt)
{
    const std::vector<SerialPortInfo> ports = ListedPorts(ListSerialPorts(), opt.bAll);
    if (opt.bJson)
        std::printf("%s\n", FormatPortsJson(ports, PortListHasById() != 0).c_str());
    else
        for (const SerialPortInfo& port : ports)
            std::printf("%s\n", DescribePort(port).c_str());
    return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    int nExit = ParseOptions(argc, argv, &opt);
    if (nExit < 0 && !opt.bListPorts)
        nExit = ResolveAutoPort(&opt);
    if (nExit >= 0)
        return nExit;
    return opt.bListPorts ? ListPorts(opt) : Retrieve(opt);
}
