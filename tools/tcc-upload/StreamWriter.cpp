#include "tools/tcc-upload/StreamWriter.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr auto kGiveUpPoll = std::chrono::milliseconds(10);
// Text is written in pieces this long, each counted once the stream took it:
// a pipe takes such a write whole or not at all (PIPE_BUF on Linux), so what
// a reader can have had is known to the byte, and an abandoned text ends at
// a piece's end.
constexpr std::size_t kPiece = 4096;

}  // namespace

CStreamWriter::CStreamWriter(int nStream, std::size_t cbDroppableLimit, WriteProc pfnWrite)
    : m_nStream(nStream), m_cbDroppableLimit(cbDroppableLimit), m_pfnWrite(pfnWrite)
{
}

CStreamWriter::~CStreamWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStop = true;
    }
    m_cvQueued.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void CStreamWriter::Put(std::string text) { Queue(std::move(text), false); }

bool CStreamWriter::PutDroppable(std::string text) { return Queue(std::move(text), true); }

bool CStreamWriter::PutIfIdle(std::string text)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_queue.empty() || m_bWriting)
            return false;
    }
    return Queue(std::move(text), false);
}

bool CStreamWriter::Queue(std::string text, bool bDroppable)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_dwError != 0 || m_bAbandoned)
        return false;
    if (bDroppable && m_cbDroppableQueued + text.size() > m_cbDroppableLimit) {
        ++m_qwDroppedTexts;
        m_qwDroppedBytes += text.size();
        return false;
    }
    if (bDroppable)
        m_cbDroppableQueued += text.size();
    m_queue.push_back({std::move(text), bDroppable});
    if (!m_thread.joinable())
        m_thread = std::thread(&CStreamWriter::Run, this);
    m_cvQueued.notify_one();
    return true;
}

// The writer thread: one item at a time, written outside the lock, so that
// those who queue never wait for the stream. A failed write ends the output
// (a reader gone stays gone); what is queued then is let go.
void CStreamWriter::Run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_cvQueued.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        m_bWriting = true;
        const unsigned long dwError = WriteItem(item.text, lock);
        m_bWriting = false;
        if (item.bDroppable)
            m_cbDroppableQueued -= item.text.size();
        if (dwError != 0 && m_dwError == 0) {
            m_dwError = dwError;
            m_queue.clear();
            m_cbDroppableQueued = 0;
        }
        m_cvWritten.notify_all();
    }
}

// Writer thread, with the lock held on entry and on return; each piece is
// written without it. 0 or the write's error.
unsigned long CStreamWriter::WriteItem(const std::string& text, std::unique_lock<std::mutex>& lock)
{
    m_cbItemLeft = text.size();
    for (std::size_t nAt = 0; nAt < text.size() && !m_bAbandoned;) {
        const std::size_t n = std::min(kPiece, text.size() - nAt);
        m_writeStart = std::chrono::steady_clock::now();
        lock.unlock();
        const unsigned long dwError = m_pfnWrite(m_nStream, text.data() + nAt, n);
        lock.lock();
        if (dwError != 0)
            return dwError;
        nAt += n;
        m_qwWritten += n;
        m_cbItemLeft -= n;
    }
    return 0;
}

std::uint64_t CStreamWriter::Abandon()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bAbandoned)
        return 0;
    m_bAbandoned = true;
    std::uint64_t qwLost = m_bWriting ? m_cbItemLeft : 0;
    for (const Item& item : m_queue) {
        qwLost += item.text.size();
        if (item.bDroppable)
            m_cbDroppableQueued -= item.text.size();
    }
    m_queue.clear();
    return qwLost;
}

bool CStreamWriter::StopIfIdle()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bWriting || !m_queue.empty())
            return false;
        m_bStop = true;
    }
    m_cvQueued.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

bool CStreamWriter::WaitWritten(const std::function<bool(Duration stalled)>& giveUp)
{
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_queue.empty() || m_bWriting) {
        if (giveUp(m_bWriting ? std::chrono::steady_clock::now() - m_writeStart : Duration::zero()))
            return false;
        m_cvWritten.wait_for(lock, kGiveUpPoll);
    }
    return m_dwError == 0;
}

unsigned long CStreamWriter::Error()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwError;
}

std::uint64_t CStreamWriter::WrittenBytes()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_qwWritten;
}

std::uint64_t CStreamWriter::DroppedTexts()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_qwDroppedTexts;
}

std::uint64_t CStreamWriter::DroppedBytes()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_qwDroppedBytes;
}
