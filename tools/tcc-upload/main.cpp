// tcc-upload: configuration retrievals from the command line, one per port,
// each driven through CMapUploader exactly as the upload window drives it.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/RunningMark.h"
#include "record/ImageCompare.h"
#include "retrieval/MapUploader.h"
#include "serial/BaudRateFile.h"
#include "Version.h"
#include "tools/tcc-upload/Batch.h"
#include "tools/tcc-upload/Console.h"
#include "tools/tcc-upload/OutputName.h"
#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Report.h"

namespace {

enum { EXIT_OK = 0, EXIT_USAGE = 2 };

// What --help says differently on each platform: the port names people type
// there and what --list-ports can tell. Windows is spared what only Linux
// has (device paths, by-id aliases, ptys, the tests' TCC_UPLOAD_ROOT).
#ifdef _WIN32
#define TCC_HELP_PORT_AND_OUTPUT                                                        \
    "  -p, --port PORT    the serial port, such as COM5; auto takes the one USB\n"      \
    "                     serial adapter present, usb:SERIAL (usb:A50285BI) the USB\n"  \
    "                     adapter with that serial number and usb:VVVV:PPPP\n"          \
    "                     (usb:0403:6001) the one with those hex vendor and product\n"  \
    "                     ids (as --list-ports shows them); may be given several\n"     \
    "                     times\n"                                                      \
    "  -o, --output FILE  where the image is saved; - is standard output (one port).\n" \
    "                     With several ports FILE is a template: {port} the port's\n"   \
    "                     name (COM5), {serial} the USB serial number (else as\n"       \
    "                     {port}), {date} the run's start in UTC, YYYYMMDD-HHMMSS.\n"   \
    "                     A folder, a pipe or a device (NUL) is refused before its\n"   \
    "                     port is opened\n"
#define TCC_HELP_LIST_PORTS                                                              \
    "      --list-ports   the serial ports Windows lists and what Device Manager says\n" \
    "                     of each: its name, the USB ids and serial number; with\n"      \
    "                     --json a JSON array of objects with the keys port, kind\n"     \
    "                     (usb, uart, other), description, vid, pid, serial,\n"          \
    "                     manufacturer and product (null where unknown)\n"               \
    "      --all          with --list-ports: accepted (Windows has no ptys to add)\n"
#define TCC_HELP_RUN_LOG                                                        \
    "  %LOCALAPPDATA%\\TandrelConfigurationController\\runs.jsonl, which the\n" \
    "  window writes to as well.\n"
#define TCC_HELP_TAIL                                                     \
    "\n"                                                                  \
    "Examples:\n"                                                         \
    "  tcc-upload --list-ports\n"                                         \
    "  tcc-upload --port COM5 --output station.qmf\n"                     \
    "  tcc-upload --port usb:A50285BI --output station.qmf --retries 3\n" \
    "  tcc-upload -p COM5 -p COM6 -o \"station-{port}-{date}.qmf\" --json\n"
#else
#define TCC_HELP_PORT_AND_OUTPUT                                                          \
    "  -p, --port PORT    the serial port: a device path such as /dev/ttyUSB0, or COM3\n" \
    "                     on Windows; auto takes the one USB serial adapter present,\n"   \
    "                     usb:SERIAL the USB adapter with that serial number and\n"       \
    "                     usb:VVVV:PPPP the one with those hex vendor and product\n"      \
    "                     ids (as --list-ports shows them); may be given several\n"       \
    "                     times\n"                                                        \
    "  -o, --output FILE  where the image is saved; - is standard output (one port).\n"   \
    "                     With several ports FILE is a template: {port} the port's\n"     \
    "                     name as a file name (/dev/ttyUSB0 gives ttyUSB0), {serial}\n"   \
    "                     the USB serial number (else as {port}), {date} the run's\n"     \
    "                     start in UTC, YYYYMMDD-HHMMSS. A symbolic link is followed\n"   \
    "                     to the file it names; a folder, FIFO, socket or device is\n"    \
    "                     refused before its port is opened\n"
#define TCC_HELP_LIST_PORTS                                                             \
    "      --list-ports   the serial ports of this machine and what each one is: USB\n" \
    "                     adapter (with vendor and product where known), built-in\n"    \
    "                     UART; with --json a JSON array of objects with the keys\n"    \
    "                     port, kind (usb, uart, pty, other), description, vid, pid,\n" \
    "                     serial, manufacturer, product and, on Linux, by_id (null\n"   \
    "                     where unknown)\n"                                             \
    "      --all          with --list-ports: pseudo terminals (ptys) too\n"
#define TCC_HELP_RUN_LOG                                                         \
    "  $XDG_STATE_HOME/tcc-upload/runs.jsonl (~/.local/state/tcc-upload/ when\n" \
    "  XDG_STATE_HOME is unset).\n"
#define TCC_HELP_TAIL                                                               \
    "\n"                                                                            \
    "Environment:\n"                                                                \
    "  TCC_UPLOAD_ROOT  Linux: look for ports in sys/ and dev/ below this folder\n" \
    "                   instead of the machine's own (for tests)\n"
#endif

const char kUsageHead[] =
    "Usage: tcc-upload --port PORT [--port PORT]... --output FILE [OPTION]...\n"
    "  or:  tcc-upload --list-ports [--json] [--all]\n"
    "\n"
    "Fetches the base station's configuration image over the serial port PORT and\n"
    "saves it to FILE, which is replaced only once the whole image has arrived.\n"
    "With several ports the stations are read at the same time, each into its own\n"
    "file, and one that fails does not stop the others. Progress, messages and\n"
    "the closing lines (one per port) go to standard error.\n"
    "\n"
    "Options:\n" TCC_HELP_PORT_AND_OUTPUT
    "  -b, --baud B       the line rate: 9600, 19200, 38400, 57600 or 115200; without\n"
    "                     it UploadConfig.ini decides, the one in the current\n"
    "                     directory, else the one beside tcc-upload (115200 when\n"
    "                     neither is there)\n"
    "      --retries N    after a failed retrieval, try again up to N more times (0 to\n"
    "                     99, default 0); never once the image is saved\n"
    "      --retry-wait S seconds between attempts (0 to 600, default 2); a port that\n"
    "                     is missing then (an adapter plugged in again) is waited for\n"
    "                     up to as long again\n"
    "      --json         one JSON object per port on standard output, one a line, as\n"
    "                     each port ends (keys below)\n"
    "  -q, --quiet        nothing on standard error unless a port fails or its image\n"
    "                     is not what was expected\n"
    "  -v, --verbose      also the line rate and where it came from, and the system's\n"
    "                     own messages\n"
    "      --trace        hex dump of every frame sent and received on standard error\n"
    "      --expect-sha256 HEX\n"
    "                     after a retrieval, hold the image's SHA-256 against HEX\n"
    "                     (64 hex digits, as sha256sum prints them); an image that\n"
    "                     differs is saved all the same, and the exit status is 4\n"
    "      --compare FILE as --expect-sha256, against FILE's bytes; the message and\n"
    "                     the JSON key first_difference give the first byte that\n"
    "                     differs. A FILE that cannot be read is a usage error\n"
    "      --no-log       no line in the run log (below)\n" TCC_HELP_LIST_PORTS
    "  -h, --help         this text\n"
    "  -V, --version      the program's name and version\n"
    "Options take their value as --opt VALUE or --opt=VALUE.\n"
    "\n"
    "JSON keys:\n"
    "  result               \"saved\" or \"failed\"\n"
    "  port                 the port used (the one auto took)\n"
    "  baud                 the line rate set; null when the port never opened\n"
    "  baud_source          where the rate came from: \"--baud\", \"UploadConfig.ini\"\n"
    "                       (the current directory's), the full path of the\n"
    "                       UploadConfig.ini beside tcc-upload, or \"default\"\n"
    "  bytes                image bytes the last attempt received\n"
    "  output               the file written, as given or expanded\n"
    "  seconds              the port's whole run, every attempt included\n"
    "  attempts             retrievals started\n"
    "  wire_bytes_sent      bytes written to the line, framing included\n"
    "  wire_bytes_received  bytes read from the line\n"
    "  frames_dropped       received frames the link threw away (bad FCS, wrong\n"
    "                       address or control byte, too long, aborted)\n"
    "  drops                those frames by reason: {\"bad_check\": n, \"overlong\": n,\n"
    "                       \"unwanted\": n} (bad FCS or aborted; too long; a frame\n"
    "                       whose FCS is good, for another address or with another\n"
    "                       control byte)\n"
    "  line_errors          the line's own errors as the serial driver counted them:\n"
    "                       {\"parity\": n, \"framing\": n, \"overrun\": n}\n"
    "  message              why the port failed, or how a saved image differs from\n"
    "                       what was expected; null otherwise\n"
    "  error                the cause's class (below); null when saved\n"
    "  attempt_errors       the class of each failed attempt, in order; empty when\n"
    "                       the first attempt succeeds\n"
    "  sha256               the SHA-256 of the bytes written; null when not saved\n"
    "  expected             with --expect-sha256 or --compare: \"matches\" or\n"
    "                       \"differs\"; null without them or when nothing was\n"
    "                       retrieved\n"
    "  first_difference     with --compare: the offset of the first byte that\n"
    "                       differs (the shorter length when one is the start of\n"
    "                       the other); null when equal\n"
    "  changed              false when the saved image equals the file it replaced,\n"
    "                       true when it differs (or that file could not be read);\n"
    "                       null when there was no such file\n"
    "The byte, frame and error counts cover every attempt. A usage error prints no\n"
    "JSON, but for --port auto or usb:... finding no adapter or several.\n"
    "\n"
    "Error classes:\n"
    "  port_not_found       the port is not there (cable, adapter or number)\n"
    "  port_busy            another program holds the port\n"
    "  port_denied          the user may not open the port\n"
    "  not_a_serial_port    the name is something other than a serial port\n"
    "  line_lost            the port went away during the run (adapter pulled)\n"
    "  no_reply             the station did not answer\n"
    "  bad_reply            the station answered against the protocol; the message\n"
    "                       names the rule it broke\n"
    "  line_noisy           frames failed their check, or the line counted parity,\n"
    "                       framing or overrun errors; told rather than no_reply or\n"
    "                       bad_reply, which noise brings about\n"
    "  save_failed          the output could not be written\n"
    "  interrupted          Ctrl-C, SIGTERM, a closed terminal or another signal\n"
    "                       that ends a program\n"
    "  no_adapter           --port auto or usb:... found no matching USB serial\n"
    "                       adapter\n"
    "  several_adapters     --port auto or usb:... found more than one\n"
    "\n"
    "Run log:\n"
    "  Each port's run adds its JSON object, with the keys time (UTC), version and\n"
    "  front_end in front, as one line to the user's run log for support:\n" TCC_HELP_RUN_LOG
    "  At 1 MiB it moves to runs.1.jsonl beside it. A log that cannot be written\n"
    "  is skipped (--verbose says so).\n"
    "\n";

const char kUsageTail[] = TCC_HELP_TAIL;

constexpr std::uint32_t kMaxRetries = 99;
constexpr std::uint32_t kMaxRetryWait = 600;

struct Options {
    std::vector<std::string> ports;
    std::string strOutput;
    std::uint32_t dwBaud = 0;  // 0: UploadConfig.ini decides
    std::uint32_t dwRetries = 0;
    std::uint32_t dwRetryWait = 2;  // seconds
    bool bAll = false;
    bool bJson = false;
    bool bQuiet = false;
    bool bVerbose = false;
    bool bTrace = false;
    bool bListPorts = false;
    bool bNoLog = false;
    std::string strExpectSha256;  // lower case
    std::string strCompare;
    std::vector<std::string> given;  // the long name of each option given
};

// Through the console's writer, as every other line on standard error goes,
// so that it comes after what was said before it.
int Usage(const std::string& why)
{
    ConsoleText("tcc-upload: " + why + "\nTry 'tcc-upload --help'.\n");
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

// One row an option: its long and short name, whether it takes a value, and
// what it does. Apply returns -1 when the option is taken, else the exit
// status (--help and --version end the parse with 0).
struct OptionRow {
    const char* pszName;
    const char* pszShort;
    bool bValue;
    int (*pfnApply)(Options& opt, const std::string& value);
};

// One exit status, its meaning wrapped under itself within 79 columns.
void PrintExitStatus(const ExitStatusRow& row)
{
    constexpr std::size_t kIndent = 7, kWidth = 79;
    std::string line = "  " + std::to_string(row.nStatus);
    line.resize(kIndent, ' ');
    std::size_t nWords = 0;
    const std::string meaning = row.pszMeaning;
    for (std::size_t nAt = 0; nAt < meaning.size();) {
        std::size_t nEnd = meaning.find(' ', nAt);
        if (nEnd == std::string::npos)
            nEnd = meaning.size();
        if (nWords > 0 && line.size() + 1 + (nEnd - nAt) > kWidth) {
            std::printf("%s\n", line.c_str());
            line.assign(kIndent, ' ');
            nWords = 0;
        }
        if (nWords++ > 0)
            line.push_back(' ');
        line.append(meaning, nAt, nEnd - nAt);
        nAt = nEnd + 1;
    }
    std::printf("%s\n", line.c_str());
}

int ShowHelp(Options&, const std::string&)
{
    std::fputs(kUsageHead, stdout);
    std::fputs("Exit status:\n", stdout);
    for (const ExitStatusRow& row : kExitStatuses)
        PrintExitStatus(row);
    std::fputs(kUsageTail, stdout);
    return EXIT_OK;
}

template <bool Options::*pFlag>
int SetFlag(Options& opt, const std::string&)
{
    opt.*pFlag = true;
    return -1;
}

const OptionRow kOptions[] = {
    {"--help", "-h", false, ShowHelp},
    {"--version", "-V", false,
     [](Options&, const std::string&) -> int {
         std::puts("tcc-upload " TCC_VERSION);
         return EXIT_OK;
     }},
    {"--quiet", "-q", false, SetFlag<&Options::bQuiet>},
    {"--verbose", "-v", false, SetFlag<&Options::bVerbose>},
    {"--trace", nullptr, false, SetFlag<&Options::bTrace>},
    {"--json", nullptr, false, SetFlag<&Options::bJson>},
    {"--list-ports", nullptr, false, SetFlag<&Options::bListPorts>},
    {"--port", "-p", true,
     [](Options& opt, const std::string& value) {
         opt.ports.push_back(value);
         return -1;
     }},
    {"--output", "-o", true,
     [](Options& opt, const std::string& value) {
         opt.strOutput = value;
         return -1;
     }},
    {"--baud", "-b", true,
     [](Options& opt, const std::string& value) {
         if (ParseCount(value, UINT32_MAX, &opt.dwBaud) && IsSupportedBaudRate(opt.dwBaud))
             return -1;
         return Usage("--baud " + value + ": the rate must be 9600, 19200, 38400, 57600 or 115200");
     }},
    {"--retries", nullptr, true,
     [](Options& opt, const std::string& value) {
         if (ParseCount(value, kMaxRetries, &opt.dwRetries))
             return -1;
         return Usage("--retries " + value + ": a count from 0 to " + std::to_string(kMaxRetries));
     }},
    {"--retry-wait", nullptr, true,
     [](Options& opt, const std::string& value) {
         if (ParseCount(value, kMaxRetryWait, &opt.dwRetryWait))
             return -1;
         return Usage("--retry-wait " + value + ": seconds from 0 to " + std::to_string(kMaxRetryWait));
     }},
    {"--all", nullptr, false, SetFlag<&Options::bAll>},
    {"--no-log", nullptr, false, SetFlag<&Options::bNoLog>},
    {"--expect-sha256", nullptr, true,
     [](Options& opt, const std::string& value) {
         opt.strExpectSha256 = value;
         for (char& ch : opt.strExpectSha256)
             ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
         if (value.size() == 64 && value.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
             return -1;
         return Usage("--expect-sha256 " + value + ": 64 hexadecimal digits, as sha256sum prints them");
     }},
    {"--compare", nullptr, true,
     [](Options& opt, const std::string& value) {
         opt.strCompare = value;
         return -1;
     }},
};

// --name=value or --name value (or -n value); sets *pRow, or returns the usage
// error's exit status.
int TakeOption(int argc, char** argv, int* pIndex, const OptionRow** ppRow, std::string* pValue)
{
    std::string arg = argv[*pIndex];
    const std::size_t nEquals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const bool bInline = nEquals != std::string::npos;
    if (bInline) {
        *pValue = arg.substr(nEquals + 1);
        arg.erase(nEquals);
    }
    *ppRow = nullptr;
    for (const OptionRow& row : kOptions)
        if (arg == row.pszName || (row.pszShort && arg == row.pszShort))
            *ppRow = &row;
    if (*ppRow == nullptr)
        return Usage("unknown option " + arg);
    if (!(*ppRow)->bValue)
        return bInline ? Usage(arg + " takes no value") : -1;
    if (!bInline) {
        if (*pIndex + 1 >= argc)
            return Usage("missing value for " + arg);
        *pValue = argv[++*pIndex];
    }
    return pValue->empty() ? Usage("missing value for " + arg) : -1;
}

// Returns -1 when the options go together, else the usage error's status.
int CheckOptions(const Options& opt)
{
    if (opt.bListPorts) {
        for (const std::string& name : opt.given)
            if (name != "--list-ports" && name != "--json" && name != "--all")
                return Usage("--list-ports takes no other option than --json and --all");
        return -1;
    }
    if (opt.bAll)
        return Usage("--all goes with --list-ports");
    if (opt.ports.empty() || opt.strOutput.empty())
        return Usage("--port and --output are both needed");
    if (opt.bQuiet && opt.bVerbose)
        return Usage("--quiet and --verbose do not go together");
    if (opt.strOutput == "-" && opt.bJson)
        return Usage("--output - and --json both want standard output");
    return -1;
}

// Returns -1 when the options are good, else the exit status.
int ParseOptions(int argc, char** argv, Options* pOpt)
{
    for (int i = 1; i < argc; ++i) {
        const OptionRow* pRow = nullptr;
        std::string value;
        int nExit = TakeOption(argc, argv, &i, &pRow, &value);
        if (nExit < 0) {
            pOpt->given.push_back(pRow->pszName);
            nExit = pRow->pfnApply(*pOpt, value);
        }
        if (nExit >= 0)
            return nExit;
    }
    return CheckOptions(*pOpt);
}

// auto and usb:...: the one matching USB serial adapter, named on standard
// error; with none or several it is a usage error that lists them (and, with
// --json, says so as the port's object). Returns -1 when the port is set.
int ResolveAdapterSpec(std::string* pPort, const Options& opt)
{
    if (!NamesAnAdapter(*pPort))
        return -1;
    const PortChoice choice = ChoosePort(*pPort, ListSerialPorts());
    if (choice.nFailure == RunFailure::none && !choice.bUsage) {
        if (!opt.bQuiet)
            ConsoleLine("tcc-upload: --port " + *pPort + ": " + DescribePort(choice.candidates[0]));
        *pPort = choice.strPort;
        return -1;
    }
    ConsoleText(PortChoiceMessage(*pPort, choice));
    if (!choice.bUsage) {
        RunReport report;
        report.strPort = *pPort;
        report.strOutput = opt.strOutput;
        report.nFailure = choice.nFailure;
        report.strMessage = FailureMessage(choice.nFailure);
        if (opt.bJson)
            std::printf("%s\n", FormatJson(report).c_str());
        CToolRunLog(!opt.bNoLog, opt.bVerbose).Write(report);
    }
    return EXIT_USAGE;
}

// The USB serial number behind a port, for {serial}; empty when none. The
// port may be named by its device or by the by-id alias --list-ports shows.
std::string SerialNumberOf(const std::string& port, const std::vector<SerialPortInfo>& known)
{
    for (const SerialPortInfo& info : known)
        if (info.strName == port || (!info.strById.empty() && info.strById == port))
            return info.strSerial;
    return "";
}

// The file of each port, from the template; -1 when all are good.
int MakeJobs(const Options& opt, std::vector<PortJob>* pJobs)
{
    std::vector<SerialPortInfo> known;
    if (opt.strOutput.find("{serial}") != std::string::npos)
        known = ListSerialPorts();
    std::vector<OutputPort> ports;
    for (const std::string& port : opt.ports)
        ports.push_back({port, SerialNumberOf(port, known)});
    std::vector<std::string> paths;
    const std::string error = ExpandOutputs(opt.strOutput, ports, UtcStamp(std::time(nullptr)), &paths);
    if (!error.empty())
        return Usage(error);
    for (std::size_t i = 0; i < ports.size(); ++i)
        pJobs->push_back({ports[i].strPort, paths[i]});
    return -1;
}

// The rate every port is set to, and where it came from. The window's boxes
// about the file are not the command line's: it says the same in its words.
void ChooseBaudRate(const Options& opt, BatchSettings* pSettings)
{
    if (opt.dwBaud != 0) {
        pSettings->dwBaud = opt.dwBaud;
        pSettings->strBaudSource = "--baud";
        return;
    }
    const BaudRateReading reading = ReadBaudRateFileQuietly();
    pSettings->dwBaud = reading.dwRate;
    pSettings->strBaudSource = BaudRateSource(reading);
    if (reading.nOrigin == RATE_VALUE_UNSUPPORTED && !opt.bQuiet)
        ConsoleLine("tcc-upload: " + reading.strFile + " names " + std::to_string(reading.nValue) +
                    " baud, which the station does not speak; using " + std::to_string(reading.dwRate));
}

int Retrieve(const Options& opt, int nClosedStreams)
{
    std::vector<PortJob> jobs;
    const int nExit = MakeJobs(opt, &jobs);
    if (nExit >= 0)
        return nExit;
    // No image is larger: what lies beyond only says that the file is longer.
    FileBytes compare;
    if (!opt.strCompare.empty())
        if (const int nError = ReadFileBytes(opt.strCompare, CMapUploader::kMaxImageSize, &compare))
            return Usage("--compare " + opt.strCompare + ": cannot read it: " + std::strerror(nError));
    BatchSettings settings;
    settings.strExpectSha256 = opt.strExpectSha256;
    settings.pCompare = opt.strCompare.empty() ? nullptr : &compare;
    settings.strCompare = opt.strCompare;
    settings.bLog = !opt.bNoLog;
    settings.bVerbose = opt.bVerbose;
    ChooseBaudRate(opt, &settings);
    settings.dwRetries = opt.dwRetries;
    settings.dwRetryWaitMs = opt.dwRetryWait * 1000;
    settings.bJson = opt.bJson;
    settings.bQuiet = opt.bQuiet;
    settings.bTrace = opt.bTrace;
    settings.bTerminal = StderrIsTerminal() != 0;
    settings.bStdoutClosed = (nClosedStreams & 2) != 0;
    ConsoleInit(!opt.bQuiet && settings.bTerminal, opt.bVerbose);
    if (opt.bVerbose)
        ConsoleLine("tcc-upload: " + std::to_string(settings.dwBaud) + " baud (" + settings.strBaudSource + ")");
    if (opt.strOutput == "-")
        SetStdoutBinary();
    return RunBatch(jobs, settings);
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
    const int nClosedStreams = OpenClosedStandardStreams();  // first: nothing may land on a closed 0-2
    IgnoreWriteSignals();
    AnnounceRunning();  // an uninstaller must not remove the executable under a run
    Options opt;
    int nExit = ParseOptions(argc, argv, &opt);
    for (std::size_t i = 0; nExit < 0 && !opt.bListPorts && i < opt.ports.size(); ++i)
        nExit = ResolveAdapterSpec(&opt.ports[i], opt);
    if (nExit < 0)
        nExit = opt.bListPorts ? ListPorts(opt) : Retrieve(opt, nClosedStreams);
    // What is still queued is waited for as long as its reader takes it; after
    // an interruption, a reader that stopped cannot hold the program, and
    // what it held back makes the run an interrupted one.
    if (!ConsoleFinish([] { return WasInterrupted() != 0; }))
        nExit = ExitStatusOf(RunFailure::interrupted);
    return nExit;
}
