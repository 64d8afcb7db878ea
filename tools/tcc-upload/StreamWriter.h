// Output to one stream from a thread of its own, so that no thread of the
// run ever waits for a reader (a pipe nobody drains, a terminal held by
// Ctrl-S, a slow ssh session): they queue text and go on. What must arrive
// (reports, the image) is queued whole; what may be left out (the --trace
// dumps) only while the queue holds less of it than a bound, and what is
// left out is counted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CStreamWriter {
public:
    // Writes to the stream (blocking); 0 or the system's error code.
    typedef unsigned long (*WriteProc)(int nStream, const void* pBytes, std::size_t count);

    // cbDroppableLimit: the most bytes of droppable text queued at a time.
    CStreamWriter(int nStream, std::size_t cbDroppableLimit, WriteProc pfnWrite);
    // Waits for the thread, which must not be blocked in a write for good:
    // the program's writers are never destroyed, their thread may be.
    ~CStreamWriter();
    CStreamWriter(const CStreamWriter&) = delete;
    CStreamWriter& operator=(const CStreamWriter&) = delete;

    // Any thread. Put queues text whole; PutDroppable returns false when it
    // left text out (counted); PutIfIdle queues it only when nothing waits
    // (a redraw that would come late anyway) and returns whether it did.
    // After a write error each drops what it gets.
    void Put(std::string text);
    bool PutDroppable(std::string text);
    bool PutIfIdle(std::string text);

    // Blocks until everything queued is written (true) or a write failed,
    // or until giveUp, asked every few milliseconds with how long the write
    // under way has been waiting for the stream (zero between writes),
    // returns true. giveUp must not call the writer.
    typedef std::chrono::steady_clock::duration Duration;
    bool WaitWritten(const std::function<bool(Duration stalled)>& giveUp);

    // Any thread: lets go of what is queued, ends the text under way after
    // the piece being written, and lets go of what is queued from then on
    // (a run that was interrupted sends its reader no more). Returns the
    // bytes not yet taken that this call let go: queued, and the rest of the
    // text under way, the piece being written included; 0 once abandoned.
    std::uint64_t Abandon();

    // Ends the thread once nothing is queued or under way, and waits for it:
    // a program should not end with threads that write. False, and nothing
    // waited for, while the stream still holds up a write. Nothing may be
    // queued afterwards.
    bool StopIfIdle();

    unsigned long Error();         // the first write error, 0 when none
    std::uint64_t WrittenBytes();  // what the stream has taken so far
    std::uint64_t DroppedTexts();
    std::uint64_t DroppedBytes();

private:
    struct Item {
        std::string text;
        bool bDroppable;
    };
    bool Queue(std::string text, bool bDroppable);
    void Run();
    unsigned long WriteItem(const std::string& text, std::unique_lock<std::mutex>& lock);

    const int m_nStream;
    const std::size_t m_cbDroppableLimit;
    const WriteProc m_pfnWrite;
    std::mutex m_lock;  // guards everything below
    std::condition_variable m_cvQueued, m_cvWritten;
    std::deque<Item> m_queue;
    std::size_t m_cbDroppableQueued = 0;
    bool m_bWriting = false;                             // the thread holds an item it took from the queue
    std::chrono::steady_clock::time_point m_writeStart;  // of the piece under way
    bool m_bStop = false;
    bool m_bAbandoned = false;
    unsigned long m_dwError = 0;
    std::uint64_t m_qwWritten = 0;
    std::size_t m_cbItemLeft = 0;  // of the text under way, what the stream has not taken
    std::uint64_t m_qwDroppedTexts = 0, m_qwDroppedBytes = 0;
    std::thread m_thread;  // started by the first text
};
