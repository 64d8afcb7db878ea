#include "tools/tcc-upload/Batch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>

#include "platform/RunLog.h"
#include "record/ImageCompare.h"
#include "record/RunLogLine.h"
#include "record/Sha256.h"
#include "retrieval/MapUploader.h"
#include "tools/tcc-upload/Console.h"
#include "tools/tcc-upload/OutputName.h"
#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Report.h"
#include "tools/tcc-upload/RetryWait.h"
#include "tools/tcc-upload/Trace.h"

namespace {

using Clock = std::chrono::steady_clock;

// The window polls every 250 ms; a finer poll reads the same things and only
// trims the wait after the last chunk (40 ms: under 1 % of a 64 KiB run at
// 115200 baud, and few wake-ups). A terminal's line keeps the window's pace;
// a log gets a line at most every 10 s.
constexpr auto kPollInterval = std::chrono::milliseconds(40);
constexpr auto kTerminalInterval = std::chrono::milliseconds(250);
constexpr auto kLogInterval = std::chrono::seconds(10);
constexpr auto kSilenceNotice = std::chrono::seconds(5);
constexpr int kGiveUpSeconds = CMapUploader::kReplyTimeoutMs / 1000;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A silence as the log and the progress line count it: whole seconds gone by,
// so the answer that ends it never says less than the notice that began it.
std::string SilenceSeconds(Clock::duration d)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()) + " s";
}

std::uint64_t Milliseconds(Clock::time_point t)
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

std::string Percent(std::uint32_t dwReceived, std::uint32_t dwTotal)
{
    return std::to_string(dwTotal ? static_cast<unsigned>(100.0 * dwReceived / dwTotal) : 0) + "%";
}

// One port: its output, the uploader of its current attempt and its report.
// Main thread only, but for the link events, which come on the port's link
// worker and serial reader.
class CPortRun {
public:
    CPortRun(const PortJob& job, const BatchSettings& settings, bool bLabelled);
    ~CPortRun() { Drop(); }

    bool PrepareOutput();  // false: the output cannot be written; the report says why
    void StartAttempt(Clock::time_point now);
    void Poll(Clock::time_point now);  // sets IsDone once the port has ended
    void Interrupt(Clock::time_point now);
    bool IsDone() const { return m_bDone; }
    const RunReport& Report() const { return m_report; }

    std::string ProgressText(Clock::time_point now, bool bAlone) const;
    // The first poll after 5 s without a reply: true once a silence.
    bool TakeSilenceNotice(Clock::time_point now);

private:
    static void OnLinkEvent(void* pContext, int nDirection, const std::uint8_t* pBytes, std::uint32_t count);
    void OnFinished(Clock::time_point now);
    void KeepAttemptCounts(std::uint32_t dwBytes);
    void StepRetryWait(Clock::time_point now);
    RunFailure Save();
    void Verify(const std::uint8_t* pImage, std::uint32_t dwCount);
    RunFailure SaveToStandardOutput(const std::uint8_t* pImage, std::uint32_t dwCount);
    void Finish(Clock::time_point now, RunFailure cause, const std::string& message);
    void Drop();

    const BatchSettings& m_settings;
    RunReport m_report;
    CAtomicFile m_file;
    bool m_bStdout;
    std::unique_ptr<CMapUploader> m_pUploader;  // dropped in the destructor, before what its threads touch
    std::unique_ptr<CRetryWait> m_pRetryWait;   // between a failed attempt and the next
    Clock::time_point m_start, m_attemptStart, m_dataStart, m_lastChange;
    std::uint32_t m_dwTotal = 0, m_dwReceived = 0;  // as last polled
    PortTrace m_trace;
    bool m_bDone = false;
    bool m_bSilenceNoted = false;
    std::string m_strVerdict;  // how a saved image differs from what was expected
};

CPortRun::CPortRun(const PortJob& job, const BatchSettings& settings, bool bLabelled)
    : m_settings(settings), m_bStdout(job.strOutput == "-")
{
    m_report.strPort = job.strPort;
    m_report.strOutput = job.strOutput;
    m_report.strBaudSource = settings.strBaudSource;
    if (bLabelled)
        m_trace.strLabel = job.strPort;
}

bool CPortRun::PrepareOutput()
{
    std::string error;
    const std::string refusal = m_bStdout ? std::string() : OutputRefusal(m_report.strOutput);
    if (m_bStdout && m_settings.bStdoutClosed)
        error = "cannot write standard output: it is closed";
    else if (!refusal.empty())
        error = "cannot write " + m_report.strOutput + ": " + refusal;
    else if (!m_bStdout && !m_file.Create(m_report.strOutput))
        error = m_file.ErrorText();
    if (error.empty())
        return true;
    m_report.nFailure = RunFailure::saveFailed;
    m_report.strMessage = error;
    m_bDone = true;
    return false;
}

void CPortRun::StartAttempt(Clock::time_point now)
{
    if (m_report.dwAttempts == 0)
        m_start = now;
    ++m_report.dwAttempts;
    m_attemptStart = m_dataStart = m_lastChange = now;
    m_dwTotal = m_dwReceived = 0;
    m_bSilenceNoted = false;  // a silence of the attempt before is no news of this one
    UploadOptions options;
    options.dwFixedBaudRate = m_settings.dwBaud;
    if (m_settings.bTrace) {
        options.pfnTrace = OnLinkEvent;
        options.pTraceContext = this;
    }
    m_pUploader = std::make_unique<CMapUploader>(m_report.strPort, options);
    m_pUploader->Start();
}

void CPortRun::OnLinkEvent(void* pContext, int nDirection, const std::uint8_t* pBytes, std::uint32_t count)
{
    TraceLinkEvent(&static_cast<CPortRun*>(pContext)->m_trace, nDirection, pBytes, count);
}

void CPortRun::Poll(Clock::time_point now)
{
    if (m_pRetryWait)
        StepRetryWait(now);
    if (m_bDone || m_pUploader == nullptr)
        return;
    // m_bFinished first: once it is seen, the counters are final.
    const bool bFinished = m_pUploader->m_bFinished.load(std::memory_order_acquire) != 0;
    const std::uint32_t dwTotal = m_pUploader->GetTotalSize();
    const std::uint32_t dwReceived = m_pUploader->GetReceived();
    if (dwTotal != m_dwTotal || dwReceived != m_dwReceived) {
        if (m_dwTotal == 0)
            m_dataStart = now;  // the rate counts from the size response on
        // Only a log notes a silence; it hears of the answer too, once, and
        // before the port's closing line.
        if (m_bSilenceNoted)
            ConsoleLine("tcc-upload: " + m_report.strPort + ": answering again after " +
                        SilenceSeconds(now - m_lastChange));
        m_lastChange = now;
        m_bSilenceNoted = false;
    }
    m_dwTotal = dwTotal;
    m_dwReceived = dwReceived;
    if (bFinished)
        OnFinished(now);
}

// What the attempt under way leaves in the report, when it ends or is
// interrupted: its image bytes, its counts and the rate it used.
void CPortRun::KeepAttemptCounts(std::uint32_t dwBytes)
{
    m_report.dwBytes = dwBytes;
    AddAttemptCounts(&m_report, m_pUploader->GetLinkCounts());
    if (m_pUploader->GetBaudRate() != 0)
        m_report.dwBaud = m_pUploader->GetBaudRate();
}

// An attempt's end: save on success; a failed retrieval is tried
// again with a new uploader while retries are left.
void CPortRun::OnFinished(Clock::time_point now)
{
    m_report.dAttemptSeconds = Seconds(now - m_attemptStart);
    KeepAttemptCounts(m_dwReceived);
    if (m_pUploader->Succeeded()) {
        const RunFailure cause = Save();
        Finish(now, cause, cause == RunFailure::none ? m_strVerdict : m_report.strMessage);
        return;
    }
    const RunFailure cause = m_pUploader->GetFailure();
    if (m_report.dwAttempts > m_settings.dwRetries) {
        Finish(now, cause, FailureMessage(cause, m_pUploader->GetFailureDetail()));
        return;
    }
    m_report.attemptErrors.push_back(cause);
    Drop();
    if (!m_settings.bQuiet)
        ConsoleLine("tcc-upload: " + m_report.strPort + ": attempt " + std::to_string(m_report.dwAttempts) + " of " +
                    std::to_string(m_settings.dwRetries + 1) + " failed; trying again in " +
                    std::to_string(m_settings.dwRetryWaitMs / 1000) + " s");
    m_pRetryWait = std::make_unique<CRetryWait>(Milliseconds(now), m_settings.dwRetryWaitMs);
}

// The pause before a retry, then as long again for a port that is missing
// (an adapter plugged in again comes back under its name).
void CPortRun::StepRetryWait(Clock::time_point now)
{
    const std::string& port = m_report.strPort;
    const RetryWaitEnd nEnd = m_pRetryWait->Step(Milliseconds(now), [&port] { return PortIsPresent(port); });
    if (nEnd == RETRY_WAITING)
        return;
    m_pRetryWait.reset();
    if (nEnd == RETRY_PORT_MISSING && !m_settings.bQuiet)
        ConsoleLine("tcc-upload: " + port + " has not come back; trying it all the same");
    StartAttempt(now);
}

// The digest is of the very bytes handed to the file or standard output.
// An interruption seen before the image takes the target's place leaves the
// target as it was.
RunFailure CPortRun::Save()
{
    const std::uint8_t* pImage = m_pUploader->GetData();
    const std::uint32_t dwCount = m_pUploader->GetReceived();
    m_report.strSha256 = Sha256Hex(pImage, dwCount);
    Verify(pImage, dwCount);
    if (m_bStdout)
        return SaveToStandardOutput(pImage, dwCount);
    const bool bWritten = m_file.Write(pImage, dwCount) != 0;
    // Read before the file is replaced; said only of a file that was.
    const std::optional<bool> changed = bWritten ? DiffersFromFile(pImage, dwCount, m_report.strOutput) : false;
    if (bWritten && WasInterrupted()) {
        m_report.strMessage = FailureMessage(RunFailure::interrupted);
        return RunFailure::interrupted;
    }
    if (bWritten && m_file.Commit()) {
        m_report.changed = changed;
        return RunFailure::none;
    }
    m_report.strMessage = m_file.ErrorText();
    m_report.bLeftOnDisk = m_file.LeftOnDisk();
    return RunFailure::saveFailed;
}

// The image held against --expect-sha256 and --compare; a difference is
// said in the report's message, and the image is saved all the same: it is
// what the station holds.
void CPortRun::Verify(const std::uint8_t* pImage, std::uint32_t dwCount)
{
    std::vector<std::string> differences;
    if (!m_settings.strExpectSha256.empty() && m_report.strSha256 != m_settings.strExpectSha256)
        differences.push_back("its SHA-256 is " + m_report.strSha256 + ", not " + m_settings.strExpectSha256);
    if (m_settings.pCompare != nullptr) {
        const FileBytes& file = *m_settings.pCompare;
        m_report.firstDifference = FirstDifference(pImage, dwCount, file);
        if (m_report.firstDifference)
            differences.push_back("it differs from " + m_settings.strCompare + " at byte " +
                                  std::to_string(*m_report.firstDifference) + " (the image has " +
                                  std::to_string(dwCount) + " bytes, the file " + (file.bLonger ? "more than " : "") +
                                  std::to_string(file.bytes.size()) + ")");
    }
    if (m_settings.strExpectSha256.empty() && m_settings.pCompare == nullptr)
        return;
    m_report.expectedMatches = differences.empty();
    std::string message;
    for (const std::string& difference : differences)
        message += (message.empty() ? "" : "; ") + difference;
    m_strVerdict = message.empty() ? std::string() : "saved, but not what was expected: " + message;
}

// The image waits for a slow reader, but never past an interruption, after
// which the rest of it is let go. The image was whole: what failed is its
// delivery, and the message says how much of it standard output took (which
// a reader may already have used), not "nothing written".
RunFailure CPortRun::SaveToStandardOutput(const std::uint8_t* pImage, std::uint32_t dwCount)
{
    const std::uint64_t qwBefore = OutputWrittenBytes();
    OutputBytes(std::string(reinterpret_cast<const char*>(pImage), dwCount));
    unsigned long dwError = 0;
    if (WaitOutputWritten([] { return WasInterrupted() != 0; }, &dwError))
        return RunFailure::none;
    if (dwError == 0)
        OutputAbandon();
    const std::string written =
        std::to_string(OutputWrittenBytes() - qwBefore) + " of " + std::to_string(dwCount) + " bytes written";
    m_report.bLeftOnDisk = true;  // the message says what the output holds
    if (dwError == 0) {
        m_report.strMessage = "interrupted while writing the image to standard output; " + written;
        return RunFailure::interrupted;
    }
    m_report.strMessage =
        std::string("cannot write standard output: ") + std::strerror(static_cast<int>(dwError)) + "; " + written;
    return RunFailure::saveFailed;
}

void CPortRun::Finish(Clock::time_point now, RunFailure cause, const std::string& message)
{
    if (m_pUploader != nullptr && cause != RunFailure::none)  // an attempt ends with the run
        m_report.attemptErrors.push_back(cause);
    Drop();
    m_pRetryWait.reset();
    m_file.Discard();
    m_report.bSaved = cause == RunFailure::none;
    m_report.nFailure = cause;
    m_report.strMessage = message;
    m_report.dSeconds = Seconds(now - m_start);
    m_bDone = true;
}

// Deleting the uploader waits for its threads; the link events end with it.
void CPortRun::Drop() { m_pUploader.reset(); }

// The report keeps what the attempt under way received, and at what rate.
void CPortRun::Interrupt(Clock::time_point now)
{
    if (m_bDone)
        return;
    if (m_pUploader != nullptr)
        KeepAttemptCounts(m_pUploader->GetReceived());
    Finish(now, RunFailure::interrupted, FailureMessage(RunFailure::interrupted));
}

bool CPortRun::TakeSilenceNotice(Clock::time_point now)
{
    if (m_bDone || m_pRetryWait || m_bSilenceNoted || now - m_lastChange < kSilenceNotice)
        return false;
    m_bSilenceNoted = true;
    return true;
}

std::string CPortRun::ProgressText(Clock::time_point now, bool bAlone) const
{
    const std::string head = bAlone ? std::string() : SafePortName(m_report.strPort) + " ";
    if (m_bDone)
        return head + (m_report.bSaved ? "saved" : "failed");
    if (m_pRetryWait)
        return head + "waiting to try again";
    if (now - m_lastChange >= kSilenceNotice)
        return head + "no reply for " + SilenceSeconds(now - m_lastChange) + ", giving up at " +
               std::to_string(kGiveUpSeconds) + " s";
    if (m_dwTotal == 0)
        return head + "waiting for the station";
    if (!bAlone)
        return head + Percent(m_dwReceived, m_dwTotal);
    const double seconds = Seconds(now - m_dataStart);
    const double rate = seconds > 0.05 ? m_dwReceived / seconds : 0.0;
    const int nLeft = rate > 0 ? static_cast<int>((m_dwTotal - m_dwReceived) / rate) : 0;
    char sz[128];
    std::snprintf(sz, sizeof sz, "%u of %u bytes (%s)  %.1f KiB/s  %d:%02d left", m_dwReceived, m_dwTotal,
                  Percent(m_dwReceived, m_dwTotal).c_str(), rate / 1024.0, nLeft / 60, nLeft % 60);
    return sz;
}

// What each port's end prints: its closing line (none for a saved image
// under --quiet) and its JSON object; and its line in the run log.
class CPortReporter {
public:
    explicit CPortReporter(const BatchSettings& settings)
        : m_settings(settings), m_log(settings.bLog, settings.bVerbose)
    {
    }
    const BatchSettings& Settings() const { return m_settings; }
    void Report(const CPortRun& run);

private:
    const BatchSettings& m_settings;
    CToolRunLog m_log;
};

void CPortReporter::Report(const CPortRun& run)
{
    const RunReport& report = run.Report();
    if (!m_settings.bQuiet || !report.bSaved || !report.strMessage.empty())
        ConsoleLine(FormatSummary(report));
    if (m_settings.bJson)
        OutputBytes(FormatJson(report) + "\n");
    m_log.Write(report);
}

// The progress of every port on one line: redrawn on a terminal, written
// as a line of its own in a log, where a silence is also said when it starts.
class CProgress {
public:
    CProgress(const BatchSettings& settings, Clock::time_point start)
        : m_bTerminal(settings.bTerminal && !settings.bQuiet),
          m_bLog(!settings.bTerminal && !settings.bQuiet),
          m_nextDraw(start + (m_bTerminal ? Clock::duration::zero() : kLogInterval))
    {
    }

    void Show(std::vector<std::unique_ptr<CPortRun>>& runs, Clock::time_point now, bool bEnd);

private:
    bool m_bTerminal, m_bLog;
    bool m_bLogged = false;
    Clock::time_point m_nextDraw;
};

void CProgress::Show(std::vector<std::unique_ptr<CPortRun>>& runs, Clock::time_point now, bool bEnd)
{
    if (m_bLog)
        for (auto& run : runs)
            if (run->TakeSilenceNotice(now))
                ConsoleLine("tcc-upload: " + run->Report().strPort + ": " + run->ProgressText(now, true));
    if (bEnd && m_bTerminal) {
        ConsoleEndProgress();
        return;
    }
    if ((!bEnd && now < m_nextDraw) || (bEnd && !m_bLogged) || (!m_bTerminal && !m_bLog))
        return;
    std::string text;
    for (auto& run : runs)
        text += (text.empty() ? "" : "  ") + run->ProgressText(now, runs.size() == 1);
    if (m_bTerminal)
        ConsoleProgress(text);
    else
        ConsoleLine("tcc-upload: " + text);
    m_bLogged = true;
    m_nextDraw = now + (m_bTerminal ? Clock::duration(kTerminalInterval) : Clock::duration(kLogInterval));
}

// Every output is created before any port is opened; a port whose output
// cannot be ends there, unopened, and the others run.
void PrepareOutputs(std::vector<std::unique_ptr<CPortRun>>& runs, CPortReporter& reporter)
{
    for (auto& run : runs)
        if (!run->PrepareOutput())
            reporter.Report(*run);
}

// Polls until every port has ended or the user interrupts.
void PollAll(std::vector<std::unique_ptr<CPortRun>>& runs, CPortReporter& reporter)
{
    CProgress progress(reporter.Settings(), Clock::now());
    for (;;) {
        const auto now = Clock::now();
        if (WasInterrupted()) {
            ConsoleEndProgress();
            for (auto& run : runs)
                if (!run->IsDone()) {
                    run->Interrupt(now);
                    reporter.Report(*run);
                }
            return;
        }
        bool bAllDone = true;
        for (auto& run : runs) {
            const bool bWasDone = run->IsDone();
            run->Poll(now);
            if (!bWasDone && run->IsDone()) {
                ConsoleEndProgress();
                reporter.Report(*run);
            }
            bAllDone = bAllDone && run->IsDone();
        }
        progress.Show(runs, now, bAllDone);
        if (bAllDone)
            return;
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace

CToolRunLog::CToolRunLog(bool bOn, bool bVerbose) : m_bOn(bOn), m_bVerbose(bVerbose) {}

void CToolRunLog::Write(const RunReport& report)
{
    if (!m_bOn)
        return;
    const unsigned long dwError = WriteRunLog(report, kFrontEndTool, std::time(nullptr));
    if (dwError == 0 || !m_bVerbose || m_bSaid)
        return;
    m_bSaid = true;
    const std::string path = RunLogPath();
    ConsoleLine(
        "tcc-upload: the run log " +
        (path.empty() ? std::string("has no folder") : path + " cannot be written: " + SystemErrorText(dwError)) +
        "; runs are not logged");
}

int RunBatch(const std::vector<PortJob>& jobs, const BatchSettings& settings)
{
    std::vector<std::unique_ptr<CPortRun>> runs;
    for (const PortJob& job : jobs)
        runs.push_back(std::make_unique<CPortRun>(job, settings, jobs.size() > 1));
    // From here on Ctrl-C only sets a flag, so that temporary files go.
    InstallInterruptHandler();
    CPortReporter reporter(settings);
    PrepareOutputs(runs, reporter);
    const auto start = Clock::now();
    for (auto& run : runs)
        if (!run->IsDone())
            run->StartAttempt(start);
    PollAll(runs, reporter);
    int nExit = 0;
    for (auto& run : runs)
        nExit = WorseExitStatus(nExit, ExitStatusOf(run->Report()));
    return nExit;
}
