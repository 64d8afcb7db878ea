// tcc-upload: one configuration retrieval from the command line, driven
// through CMapUploader exactly as the upload window drives it.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "link/HDLC.h"
#include "retrieval/MapUploader.h"
#include "Version.h"
#include "tools/tcc-upload/Console.h"
#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Trace.h"

namespace {

enum { EXIT_OK = 0, EXIT_RETRIEVAL_FAILED = 1, EXIT_USAGE = 2, EXIT_WRITE_FAILED = 3 };

// The window polls every 250 ms; a finer poll reads the same things and only
// trims the wait after the last chunk (40 ms: under 1 % of a 64 KiB run at
// 115200 baud, and few wake-ups). The progress line keeps the window's pace.
constexpr auto kPollInterval = std::chrono::milliseconds(40);
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

const char kUsage[] =
    "Usage: tcc-upload --port PORT --output FILE [--quiet] [--trace]\n"
    "  or:  tcc-upload --list-ports\n"
    "\n"
    "Fetches the base station's configuration image over the serial port PORT\n"
    "(a device path such as /dev/ttyUSB0, or COM3 on Windows) and saves it to FILE,\n"
    "which is replaced only once the whole image has arrived. The baud rate comes\n"
    "from UploadConfig.ini in the current directory (115200 without it).\n"
    "\n"
    "  --quiet       no progress line and no closing summary\n"
    "  --trace       hex dump of every frame sent and received on standard error\n"
    "  --list-ports  the serial ports of this machine\n"
    "  --version     the program's name and version\n"
    "\n"
    "Exit status: 0 saved, 1 the retrieval failed (nothing written), 2 usage error,\n"
    "3 the file could not be written.\n";

struct Options {
    std::string strPort;
    std::string strOutput;
    bool bQuiet = false;
    bool bTrace = false;
    bool bListPorts = false;
};

int Usage(const std::string& why)
{
    std::fprintf(stderr, "tcc-upload: %s\n%s", why.c_str(), kUsage);
    return EXIT_USAGE;
}

// Returns -1 when the options are good, else the exit status.
int ParseOptions(int argc, char** argv, Options* pOpt)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
        {
            std::fputs(kUsage, stdout);
            return EXIT_OK;
        }
        if (arg == "--version")
        {
            std::puts("tcc-upload " TCC_VERSION);
            return EXIT_OK;
        }
        if (arg == "--quiet")
            pOpt->bQuiet = true;
        else if (arg == "--trace")
            pOpt->bTrace = true;
        else if (arg == "--list-ports")
            pOpt->bListPorts = true;
        else if (arg == "--port" || arg == "--output")
        {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return Usage("missing value for " + arg);
            (arg == "--port" ? pOpt->strPort : pOpt->strOutput) = argv[++i];
        }
        else
            return Usage("unknown option " + arg);
    }
    if (pOpt->bListPorts)
        return pOpt->strPort.empty() && pOpt->strOutput.empty() ? -1 : Usage("--list-ports takes no other option");
    if (pOpt->strPort.empty() || pOpt->strOutput.empty())
        return Usage("--port and --output are both needed");
    return -1;
}

std::string ProgressText(std::uint32_t dwReceived, std::uint32_t dwTotal, double seconds)
{
    char sz[128];
    if (dwTotal == 0)
    {
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
    while (uploader.m_bFinished.load(std::memory_order_acquire) == 0)
    {
        if (WasInterrupted())
            return false;
        const std::uint32_t dwTotal = uploader.GetTotalSize();
        const std::uint32_t dwReceived = uploader.GetReceived();
        const auto now = Clock::now();
        if (dwTotal != 0 && dwLastTotal == 0)
            dataStart = now;  // the rate counts from the size response on
        dwLastTotal = dwTotal;
        if (bProgress && now >= nextDraw)
        {
            const auto since = dwTotal ? now - dataStart : now - start;
            ConsoleProgress(ProgressText(dwReceived, dwTotal, std::chrono::duration<double>(since).count()));
            nextDraw = now + kProgressInterval;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

int SaveImage(CAtomicFile& file, CMapUploader& uploader, const Options& opt)
{
    const std::uint32_t dwBytes = uploader.GetReceived();
    if (!file.Write(uploader.GetData(), dwBytes) || !file.Commit())
    {
        ConsoleLine("tcc-upload: " + file.ErrorText());
        return EXIT_WRITE_FAILED;
    }
    if (!opt.bQuiet)
        ConsoleLine("tcc-upload: saved " + std::to_string(dwBytes) + " bytes to " + opt.strOutput);
    return EXIT_OK;
}

int Retrieve(const Options& opt)
{
    // The temporary file comes first: a folder that cannot take the file is
    // reported before the station is asked for anything.
    CAtomicFile file;
    if (!file.Create(opt.strOutput))
    {
        ConsoleLine("tcc-upload: " + file.ErrorText());
        return EXIT_WRITE_FAILED;
    }
    const bool bProgress = !opt.bQuiet && StderrIsTerminal();
    ConsoleInit(bProgress);
    InstallInterruptHandler();
    if (opt.bTrace)
        CHdlcLink::SetTrace(TraceLinkEvent);  // before the link exists

    CMapUploader* pUploader = new CMapUploader(opt.strPort);
    pUploader->Start();
    const bool bFinished = WaitForFinish(*pUploader, bProgress);
    ConsoleEndProgress();

    int nExit = EXIT_RETRIEVAL_FAILED;
    if (!bFinished)
        ConsoleLine("tcc-upload: interrupted; nothing written");
    else if (pUploader->Succeeded())
        nExit = SaveImage(file, *pUploader, opt);
    else if (!opt.bQuiet)
        ConsoleLine("tcc-upload: retrieval failed; nothing written");
    delete pUploader;
    file.Discard();
    return nExit;
}

int ListPorts()
{
    for (const std::string& line : ListSerialPorts())
        std::printf("%s\n", line.c_str());
    return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    const int nParsed = ParseOptions(argc, argv, &opt);
    if (nParsed >= 0)
        return nParsed;
    return opt.bListPorts ? ListPorts() : Retrieve(opt);
}
