// The map uploader: see MapUploader.h.
#include "retrieval/MapUploader.h"

#include <cstring>
#include <new>
#include <string>

#include "link/FrameBuffer.h"
#include "link/HDLC.h"
#include "retrieval/RetrievalMessage.h"
#include "retrieval/TickSource.h"
#include "retrieval/WorkerWait.h"
#include "platform/AppMessageBox.h"

namespace {

constexpr std::uint32_t kFrameOverhead = 4;  // FCS and trailer behind every message

const char kFailureText[] = "Failed to communicate with system";

// The message is what the frame carries in front of its FCS and trailer.
std::uint32_t MessageLength(const FrameBuffer* pFrame)
{
    std::uint32_t dwLength = pFrame->wLength;
    if (dwLength > kFrameDataSize)
        dwLength = kFrameDataSize;
    return dwLength >= kFrameOverhead ? dwLength - kFrameOverhead : 0;
}

// "1 byte", "200 bytes".
std::string Count(std::uint32_t dwCount, const char* pszOne, const char* pszMany)
{
    return std::to_string(dwCount) + " " + (dwCount == 1 ? pszOne : pszMany);
}

// What a noisy line showed during the run: "5 frames failed their check, 2
// parity errors".
std::string NoiseText(std::uint32_t dwFrames, const LineErrorCounts& errors)
{
    std::string strText;
    auto add = [&strText](std::uint32_t dwCount, const std::string& strWhat) {
        if (dwCount != 0)
            strText += (strText.empty() ? "" : ", ") + strWhat;
    };
    add(dwFrames, Count(dwFrames, "frame failed its check", "frames failed their check"));
    add(errors.dwParity, Count(errors.dwParity, "parity error", "parity errors"));
    add(errors.dwFraming, Count(errors.dwFraming, "framing error", "framing errors"));
    add(errors.dwOverrun, Count(errors.dwOverrun, "overrun", "overruns"));
    return strText;
}

}  // namespace

// The pool must be filled before the link exists: the link's serial reader
// starts decoding, and taking buffers, while the link is being constructed.
CMapUploader::CMapUploader(const std::string& portName, ITickSource* pTicks)
    : CMapUploader(portName, UploadOptions(), pTicks)
{
}

CMapUploader::CMapUploader(const std::string& portName, const UploadOptions& options, ITickSource* pTicks)
    : m_timeout(kReplyTimeoutMs, pTicks),
      m_pTicks(pTicks != nullptr ? pTicks : SystemTickSource()),
      m_worker(WaitForWorker)
{
    m_pTicks->Attach(&m_worker.Wake());
    BufferPoolInit();
    m_pLink = new (std::nothrow) CHdlcLink(portName, this, options);
}

// The worker may be posting through the link, so it ends before the link goes;
// the link's worker may be inside OnFrame writing the image, so the link goes
// before the image; the pool goes last, once every buffer is back on it.
CMapUploader::~CMapUploader()
{
    m_worker.Stop();
    delete m_pLink;
    m_pLink = nullptr;
    m_pTicks->Detach(&m_worker.Wake());
    delete[] m_pImage;
    m_pImage = nullptr;
    BufferPoolDestroy();
}

namespace {

RunFailure FromPortFault(PortFault fault)
{
    switch (fault) {
    case PortFault::busy: return RunFailure::portBusy;
    case PortFault::denied: return RunFailure::portDenied;
    case PortFault::notSerial: return RunFailure::notASerialPort;
    case PortFault::lost: return RunFailure::lineLost;
    case PortFault::none:
    case PortFault::notFound: break;
    }
    return RunFailure::portNotFound;
}

}  // namespace

// One box for a port that did not open: the first line as ever, the second
// the cause in words the technician can act on.
void CMapUploader::ReportNotOpen()
{
    const PortFault fault = m_pLink != nullptr ? m_pLink->Fault() : PortFault::notFound;
    const RunFailure cause = FromPortFault(fault);
    m_failure.store(cause, std::memory_order_relaxed);
    m_strDetail = GetAccessGroup();
    const std::string strText = "Unable to open serial port.\n" + RunFailureText(cause, m_strDetail);
    AppMessageBox(strText.c_str(), MB_OK | MB_ICONEXCLAMATION);
    m_bFinished.store(1, std::memory_order_release);
}

void CMapUploader::Start()
{
    if (m_pLink == nullptr || !m_pLink->IsOpen()) {
        ReportNotOpen();
        return;
    }
    if (m_worker.IsStarted())
        return;
    m_pLink->Start();
    m_bFinished.store(0, std::memory_order_release);
    if (!m_worker.Start(UploaderThreadProc, this)) {
        m_nState.store(Error, std::memory_order_release);
        m_failure.store(RunFailure::noReply, std::memory_order_relaxed);
        AppMessageBox(kFailureText, MB_OK | MB_ICONEXCLAMATION);
        m_bFinished.store(1, std::memory_order_release);
    }
}

std::uint32_t CMapUploader::GetTotalSize() { return m_dwTotal.load(std::memory_order_acquire); }

std::uint32_t CMapUploader::GetReceived() { return m_dwReceived.load(std::memory_order_acquire); }

const std::uint8_t* CMapUploader::GetData() { return m_pImage; }

RunFailure CMapUploader::GetFailure()
{
    if (m_bFinished.load(std::memory_order_acquire) == 0 || Succeeded())
        return RunFailure::none;
    return m_failure.load(std::memory_order_relaxed);
}

std::string CMapUploader::GetFailureDetail() { return GetFailure() != RunFailure::none ? m_strDetail : std::string(); }

std::string CMapUploader::GetAccessGroup() { return m_pLink != nullptr ? m_pLink->AccessGroup() : std::string(); }

LinkCounts CMapUploader::GetLinkCounts() { return m_pLink != nullptr ? m_pLink->Counts() : LinkCounts(); }

std::uint32_t CMapUploader::GetBaudRate() { return m_pLink != nullptr ? m_pLink->BaudRate() : 0; }

int CMapUploader::Succeeded() { return m_nState.load(std::memory_order_acquire) == Done ? 1 : 0; }

int CMapUploader::GetState() { return m_nState.load(std::memory_order_acquire); }

void CMapUploader::SendSizeRequest() { SendRequest(kMsgSizeRequest); }

void CMapUploader::SendDataRequest() { SendRequest(kMsgDataRequest); }

// An empty pool sends nothing; the reply timeout then ends the retrieval.
void CMapUploader::SendRequest(std::uint8_t bType)
{
    FrameBuffer* p = BufferPoolGet();
    if (p == nullptr)
        return;
    PutMsgRequest(p->abData, bType);
    p->wLength = kMsgRequestLength;
    m_pLink->Send(p);
}

// Each transition is made only from the state it expects: the worker's
// timeout and a reply at the deadline race for the same word, and exactly one
// of them may decide how the run ends. A change made by the link's worker
// wakes the uploader's worker; the uploader's own moves need no wake.
bool CMapUploader::MoveState(int nFrom, int nTo)
{
    std::int32_t nExpected = nFrom;
    return m_nState.compare_exchange_strong(nExpected, nTo, std::memory_order_acq_rel, std::memory_order_acquire);
}

void CMapUploader::Answer(int nFrom, int nTo)
{
    if (MoveState(nFrom, nTo))
        m_worker.Wake().Signal();
}

// Link worker. Reads only the message the frame carries: a frame too short
// for the fields looked at is ignored when it cannot even show its type, and
// ends the retrieval when it is a size response or chunk that is cut short.
void CMapUploader::OnFrame(FrameBuffer* pFrame)
{
    const std::uint8_t* pMsg = pFrame->abData;
    std::uint32_t dwLength = MessageLength(pFrame);
    if (m_bFinished.load(std::memory_order_acquire) == 0 && dwLength >= 2 && pMsg[0] == kMsgStart) {
        int nState = m_nState.load(std::memory_order_acquire);
        if (nState == AwaitSize && pMsg[1] == kMsgSizeResponse)
            OnSizeResponse(pMsg, dwLength);
        else if (nState == AwaitData && pMsg[1] == kMsgDataChunk)
            OnDataChunk(pMsg, dwLength);
    }
    BufferPoolPut(pFrame);
}

// Link worker: the station broke a rule of the protocol. The rule is written
// before the move to Error publishes it; when the worker's timeout or the
// line's loss has decided first, the move fails and nobody reads it.
void CMapUploader::Refuse(int nFrom, std::string strRule)
{
    m_strRule = std::move(strRule);
    Answer(nFrom, Error);
}

void CMapUploader::OnSizeResponse(const std::uint8_t* pMsg, std::uint32_t dwLength)
{
    m_timeout.Restart(0);
    if (dwLength < kMsgHeaderLength) {
        Refuse(AwaitSize, "a size response of " + Count(dwLength, "byte", "bytes") + ", too short to hold the size");
        return;
    }
    std::uint32_t dwSize = ReadMsgNumber(pMsg);
    if (dwSize > kMaxImageSize) {
        Refuse(AwaitSize,
               "announced " + std::to_string(dwSize) + " bytes, over the " + std::to_string(kMaxImageSize) + " limit");
        return;
    }
    std::uint8_t* pImage = new (std::nothrow) std::uint8_t[dwSize];
    if (pImage == nullptr) {
        Answer(AwaitSize, Error);
        return;
    }
    delete[] m_pImage;  // null: only one size response is ever taken
    m_pImage = pImage;
    m_pWrite = pImage;
    m_dwTotal.store(dwSize, std::memory_order_release);
    Answer(AwaitSize, RequestData);
}

void CMapUploader::OnDataChunk(const std::uint8_t* pMsg, std::uint32_t dwLength)
{
    m_timeout.Restart(0);
    if (dwLength < kMsgHeaderLength) {
        Refuse(AwaitData, "a chunk of " + Count(dwLength, "byte", "bytes") + ", too short to hold its count");
        return;
    }
    std::uint32_t dwCount = ReadMsgNumber(pMsg);
    std::uint32_t dwReceived = m_dwReceived.load(std::memory_order_acquire);
    std::uint32_t dwMissing = m_dwTotal.load(std::memory_order_acquire) - dwReceived;
    if (dwCount > dwMissing) {
        Refuse(AwaitData, "a chunk of " + Count(dwCount, "byte", "bytes") + " where " + std::to_string(dwMissing) +
                              (dwMissing == 1 ? " was missing" : " were missing"));
        return;
    }
    if (dwCount > dwLength - kMsgHeaderLength) {
        Refuse(AwaitData, "a chunk announced " + Count(dwCount, "byte", "bytes") + " and carried " +
                              std::to_string(dwLength - kMsgHeaderLength));
        return;
    }
    if (dwCount != 0)
        std::memcpy(m_pWrite, pMsg + kMsgHeaderLength, dwCount);
    m_pWrite += dwCount;
    m_dwReceived.store(dwReceived + dwCount, std::memory_order_release);
    if (pMsg[2] != 0)
        return;
    if (dwCount == dwMissing)
        Answer(AwaitData, Complete);
    else
        Refuse(AwaitData, "the last chunk left the image " + Count(dwMissing - dwCount, "byte", "bytes") + " short");
}

// Link worker, after every frame received before the loss: a chunk that
// completed the image has already moved the state on.
void CMapUploader::OnLineLost()
{
    m_bLineLost.store(1, std::memory_order_release);
    m_worker.Wake().Signal();
}

// Uploader worker, in a waiting state. The cause is stored before the state
// turns to Error, and this thread publishes m_bFinished only after that.
bool CMapUploader::FailOnLineLost(int nState)
{
    if (m_bLineLost.load(std::memory_order_acquire) == 0)
        return false;
    if (MoveState(nState, Error))
        m_failure.store(RunFailure::lineLost, std::memory_order_relaxed);
    return true;
}

// Uploader worker, in Error. A cause this thread did not decide is the
// station's broken rule (none for an image that could not be allocated). A
// noisy line wins over both the station's silence and its broken rule: a
// chunk lost to noise leaves the image short, and so makes either. Noise is
// what failed its check, and the overlong frames a flag lost to noise makes;
// a well-formed frame for another is none. The decision and its words come
// from one reading of the counts, so the number said is the number judged.
RunFailure CMapUploader::DecideFailure(std::string* pDetail)
{
    RunFailure cause = m_failure.load(std::memory_order_relaxed);
    if (cause == RunFailure::none) {
        cause = m_strRule.empty() ? RunFailure::noReply : RunFailure::badReply;
        *pDetail = m_strRule;
    }
    if (cause == RunFailure::lineLost || m_pLink == nullptr)
        return cause;
    const FrameDrops drops = m_pLink->Drops();
    const std::uint32_t dwFrames = drops.adwCount[DROP_BAD_CHECK] + drops.adwCount[DROP_OVERLONG];
    const LineErrorCounts errors = m_pLink->LineErrors();
    if (dwFrames == 0 && errors.Total() == 0)
        return cause;
    *pDetail = NoiseText(dwFrames, errors);
    return RunFailure::lineNoisy;
}

// Uploader worker. The box's second line names the cause, as the box of a
// port that did not open does. Closing the window stops the worker and waits
// for it; a box owned by that window could then never be answered, so none
// is shown.
void CMapUploader::ReportFailure()
{
    const RunFailure cause = DecideFailure(&m_strDetail);
    m_failure.store(cause, std::memory_order_relaxed);
    if (!m_worker.StopRequested()) {
        const std::string strText = std::string(kFailureText) + "\n" + RunFailureText(cause, m_strDetail);
        AppMessageBox(strText.c_str(), MB_OK | MB_ICONEXCLAMATION);
    }
    m_bFinished.store(1, std::memory_order_release);
}

// Uploader worker. Each pass does what the state asks; in the waiting states
// it sleeps until the reply deadline or a change (state, stop, clock). The
// wake sequence is taken before the stop flag and the state are read, so a
// stop or change made after the read still ends the sleep.
void CMapUploader::Run()
{
    for (;;) {
        std::uint32_t dwSeen = m_worker.Wake().Sequence();
        if (m_testHook)
            m_testHook(HOOK_SEQUENCE_TAKEN);
        if (m_worker.StopRequested())
            return;
        int nState = m_nState.load(std::memory_order_acquire);
        switch (nState) {
        // The state moves on before the request is posted: a station that
        // answers before this thread runs again (a preempted worker loses the
        // CPU for a whole scheduling quantum) would otherwise find the
        // uploader still in the request state, and its reply would be dropped.
        case RequestSize:
            MoveState(RequestSize, AwaitSize);
            SendSizeRequest();
            m_timeout.Restart(0);
            break;
        case RequestData:
            MoveState(RequestData, AwaitData);
            SendDataRequest();
            m_timeout.Restart(0);
            break;
        case AwaitSize:
        case AwaitData:
            if (FailOnLineLost(nState))
                break;
            if (std::uint32_t dwLeft = m_timeout.Remaining()) {
                m_worker.Wake().WaitFor(dwSeen, dwLeft);
                break;
            }
            if (m_testHook)
                m_testHook(HOOK_OVERDUE);
            if (MoveState(nState, Error))  // else lost to a reply: the next pass follows it
                m_failure.store(RunFailure::noReply, std::memory_order_relaxed);
            break;
        case Complete: MoveState(Complete, Done); break;
        case Done:
            m_bFinished.store(1, std::memory_order_release);
            m_worker.SetStop();
            break;
        case Error:
            if (m_testHook)
                m_testHook(HOOK_REPORTING);
            ReportFailure();
            return;
        default: m_worker.Wake().Wait(dwSeen); break;
        }
    }
}

void CMapUploader::UploaderThreadProc(void* pParam) { static_cast<CMapUploader*>(pParam)->Run(); }
