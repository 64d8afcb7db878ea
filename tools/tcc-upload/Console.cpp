#include "tools/tcc-upload/Console.h"

#include <chrono>
#include <mutex>

#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/StreamWriter.h"

namespace {

// The trace a slow standard error may hold back at a time: some seconds of
// two ports' dumps at 115200 baud.
constexpr std::size_t kTraceQueueLimit = 64 * 1024;
// A stream that has held one write this long has a reader that stopped.
constexpr auto kStalledReader = std::chrono::milliseconds(200);

std::mutex g_consoleLock;
bool g_bProgress = false;
bool g_bMessages = true;
std::size_t g_nProgressWidth = 0;  // columns the shown progress line takes, 0: none shown

// Never destroyed: at exit a writer's thread may still be blocked on a reader
// that stopped, and waiting for it would hold the exit.
CStreamWriter& ErrorWriter()
{
    static CStreamWriter* const pWriter = new CStreamWriter(2, kTraceQueueLimit, WriteStandardStream);
    return *pWriter;
}

CStreamWriter& OutputWriter()
{
    static CStreamWriter* const pWriter = new CStreamWriter(1, 0, WriteStandardStream);
    return *pWriter;
}

// Carriage return and spaces rather than terminal escapes, which an older
// Windows console would print literally.
std::string ProgressClearLocked()
{
    if (g_nProgressWidth == 0)
        return std::string();
    std::string clear(g_nProgressWidth + 2, ' ');
    clear.front() = clear.back() = '\r';
    return clear;
}

bool EndsSentence(const std::string& s)
{
    if (s.empty())
        return true;
    const char c = s.back();
    return c == '.' || c == '!' || c == '?' || c == ':' || c == ';' || c == ',';
}

}  // namespace

void ConsoleInit(bool bProgress, bool bMessages)
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    g_bProgress = bProgress;
    g_bMessages = bMessages;
}

void ConsoleLine(const std::string& text) { ConsoleText(text + "\n"); }

void ConsoleText(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    ErrorWriter().Put(ProgressClearLocked() + text);
    g_nProgressWidth = 0;
}

void ConsoleTrace(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    if (ErrorWriter().PutDroppable(ProgressClearLocked() + text + "\n"))
        g_nProgressWidth = 0;
}

void ConsoleMessage(const char* pszText)
{
    bool bShow;
    {
        std::lock_guard<std::mutex> lock(g_consoleLock);
        bShow = g_bMessages;
    }
    if (bShow)
        ConsoleLine("tcc-upload: " + FlattenMessage(pszText));
}

// A redraw held back by a slow terminal is no loss: the next one says more.
void ConsoleProgress(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    if (!g_bProgress)
        return;
    const std::size_t nPad = g_nProgressWidth > text.size() ? g_nProgressWidth - text.size() : 0;
    std::string line(1, '\r');
    line.append(text).append(nPad, ' ');
    if (nPad > 0)
        line.append(1, '\r').append(text);
    if (ErrorWriter().PutIfIdle(line))
        g_nProgressWidth = text.size();
}

void ConsoleEndProgress()
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    if (g_nProgressWidth != 0)
        ErrorWriter().Put(ProgressClearLocked());
    g_nProgressWidth = 0;
}

void OutputBytes(std::string bytes) { OutputWriter().Put(std::move(bytes)); }

bool WaitOutputWritten(const std::function<bool()>& giveUp, unsigned long* pdwError)
{
    const bool bWritten = OutputWriter().WaitWritten([&giveUp](CStreamWriter::Duration) { return giveUp(); });
    *pdwError = OutputWriter().Error();
    return bWritten;
}

std::uint64_t OutputWrittenBytes() { return OutputWriter().WrittenBytes(); }

void OutputAbandon() { OutputWriter().Abandon(); }

// A stream whose write failed has lost its reader for good (`| head -1`) and
// is owed nothing more; one given up here was held by a reader that stopped
// while the run was interrupted, and what it held is lost.
bool ConsoleFinish(const std::function<bool()>& bStop)
{
    const auto giveUp = [&bStop](CStreamWriter::Duration stalled) { return stalled > kStalledReader && bStop(); };
    const std::uint64_t qwDumps = ErrorWriter().DroppedTexts();
    if (qwDumps != 0)
        ConsoleLine("tcc-upload: --trace: " + std::to_string(qwDumps) + " dumps (" +
                    std::to_string(ErrorWriter().DroppedBytes()) + " bytes) left out: standard error did not keep up");
    bool bDelivered = true;
    if (!OutputWriter().WaitWritten(giveUp) && OutputWriter().Error() == 0) {
        bDelivered = false;
        if (const std::uint64_t qwLost = OutputWriter().Abandon())
            ConsoleLine("tcc-upload: interrupted before standard output took the reports; " + std::to_string(qwLost) +
                        " bytes not written");
    }
    if (!ErrorWriter().WaitWritten(giveUp) && ErrorWriter().Error() == 0)
        bDelivered = false;
    // Writers left idle end here; one held up by a reader that stopped is
    // left to the process's end.
    OutputWriter().StopIfIdle();
    ErrorWriter().StopIfIdle();
    return bDelivered;
}

std::string FlattenMessage(const char* pszText)
{
    std::string out;
    std::string line;
    auto flush = [&]() {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        std::size_t nStart = line.find_first_not_of(" \t");
        if (nStart == std::string::npos) {
            line.clear();
            return;
        }
        if (!out.empty())
            out += EndsSentence(out) ? " " : ". ";
        out.append(line, nStart);
        line.clear();
    };
    for (const char* p = pszText ? pszText : ""; *p; ++p) {
        if (*p == '\n' || *p == '\r')
            flush();
        else
            line += *p;
    }
    flush();
    return out;
}
