// Fetches the base station's configuration image over one serial line.
//
// One uploader per retrieval: the window constructs it (which fills the frame
// buffer pool and opens the port through the link), calls Start, polls
// m_bFinished with GetTotalSize/GetReceived, reads the image once finished
// and deletes the uploader. Received frames reach OnFrame on the link's worker
// thread; the request/timeout loop (Run) runs on the uploader's own worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "link/FrameSink.h"
#include "link/HDLC.h"
#include "link/WorkerThread.h"
#include "retrieval/RunFailure.h"
#include "retrieval/Timeout.h"

class ITickSource;

// One run's settings of its line (fixed rate, trace), so that several
// uploaders in one process each keep their own. The window passes none.
typedef LinkOptions UploadOptions;

enum UploadState { RequestSize = 0, AwaitSize = 1, RequestData = 2, AwaitData = 3, Complete = 4, Done = 5, Error = 6 };

class CMapUploader : public IFrameSink {
public:
    static constexpr std::uint32_t kMaxImageSize = 0x80000;  // 512 KiB
    static constexpr std::uint32_t kReplyTimeoutMs = 10000;

    // pTicks null: the system clock. Tests pass their own.
    explicit CMapUploader(const std::string& portName, ITickSource* pTicks = nullptr);
    CMapUploader(const std::string& portName, const UploadOptions& options, ITickSource* pTicks = nullptr);
    virtual ~CMapUploader();

    void OnFrame(FrameBuffer* pFrame) override;
    void OnLineLost() override;

    void Start();

    std::uint32_t GetTotalSize();
    std::uint32_t GetReceived();
    const std::uint8_t* GetData();  // m_dwReceived valid bytes; owned by the uploader
    int Succeeded();                // BOOL: the retrieval ended in Done
    int GetState();                 // the current UploadState, for tests and tracing
    // Why the run failed: the port's fault when it did not open; lineLost
    // when the line went away; lineNoisy when frames failed their check or
    // the line counted errors; badReply when the station broke the protocol;
    // else noReply (the reply timeout decided). RunFailure::none until it has
    // ended, and after success. Read once m_bFinished is seen set.
    RunFailure GetFailure();
    // The detail RunFailureText names for that cause: the group that may open
    // a refused port, the rule the station broke, what the noisy line
    // counted; empty otherwise. Read once m_bFinished is seen set.
    std::string GetFailureDetail();
    // For a refused port, the group that may open it; empty otherwise.
    std::string GetAccessGroup();
    // Any thread: the rate set on the line (0 when the port did not open).
    std::uint32_t GetBaudRate();
    // Any thread: this run's line counts so far, all at once, for its report:
    // the frames its link dropped by reason, the line's own error counts and
    // the bytes on the wire.
    LinkCounts GetLinkCounts();

    // Set once the retrieval has ended, with success or without. The window
    // reads it directly: m_bFinished.load(std::memory_order_acquire).
    std::atomic<std::uint32_t> m_bFinished{0};

private:
    friend class CMapUploaderProbe;  // tests: sees the reply timer and the stop flag

    void SendSizeRequest();
    void SendDataRequest();
    void SendRequest(std::uint8_t bType);
    void Run();
    static void UploaderThreadProc(void* pParam);

    bool MoveState(int nFrom, int nTo);
    void Answer(int nFrom, int nTo);
    void OnSizeResponse(const std::uint8_t* pMsg, std::uint32_t dwLength);
    void OnDataChunk(const std::uint8_t* pMsg, std::uint32_t dwLength);
    void Refuse(int nFrom, std::string strRule);
    RunFailure DecideFailure(std::string* pDetail);
    void ReportFailure();
    void ReportNotOpen();
    bool FailOnLineLost(int nState);

    CHdlcLink* m_pLink = nullptr;
    std::uint8_t* m_pImage = nullptr;
    std::uint8_t* m_pWrite = nullptr;
    std::atomic<std::uint32_t> m_dwReceived{0};
    std::atomic<std::uint32_t> m_dwTotal{0};
    CTimeout m_timeout;
    std::atomic<std::int32_t> m_nState{RequestSize};
    // Written before m_bFinished is published (by the worker, or by Start on
    // the window's thread); read after it. Until then m_failure holds the
    // cause the worker decided itself (the timeout, the line's loss), none
    // when the link's worker turned the state to Error.
    std::atomic<RunFailure> m_failure{RunFailure::none};
    std::string m_strDetail;
    // The rule the station broke: written by the link's worker before its
    // move to Error publishes it, read by the worker only when that move won.
    std::string m_strRule;
    std::atomic<std::uint32_t> m_bLineLost{0};  // raised by the link's worker

    ITickSource* m_pTicks;
    // State changes, stop and clock moves wake the worker. Joined through
    // WaitForWorker: a closing window must serve its messages meanwhile.
    CWorkerThread m_worker;

    // Tests: called on the worker at the points below, to force one
    // interleaving of the worker with the closing thread. Set before Start.
    enum { HOOK_SEQUENCE_TAKEN, HOOK_OVERDUE, HOOK_REPORTING };
    std::function<void(int)> m_testHook;
};
