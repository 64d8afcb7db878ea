// Handle table, events, threads and the last-error word for the POSIX build.
#include "serial/posix/Kernel.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <unordered_map>

namespace win32posix {
namespace {

// NT status values kept in OVERLAPPED::Internal while a request runs.
constexpr ULONG_PTR kStatusPending = 0x103;

thread_local DWORD t_lastError = 0;

std::atomic<void (*)(OVERLAPPED*)> g_pfnCompletionHook{nullptr};
std::atomic<void (*)()> g_pfnResetWaitHook{nullptr};

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x100;  // never 0 (NULL) nor -1 (INVALID_HANDLE_VALUE)
};

HandleTable& Table()
{
    static HandleTable* table = new HandleTable;  // outlives detached threads at exit
    return *table;
}

class Thread : public KernelObject {
public:
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
};

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    table.next += 4;
    HANDLE handle = reinterpret_cast<HANDLE>(table.next);
    table.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(handle);
    return it == table.objects.end() ? nullptr : it->second;
}

void Event::Set()
{
    SetAfter([] {});
}

void Event::Reset()
{
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        if (auto pfnHook = g_pfnResetWaitHook.load(std::memory_order_acquire))
            pfnHook();
        lock.lock();
    }
    m_signalled = false;
}

// The waiter is counted before the hook is read, so a hook set meanwhile
// either is seen here or sees the waiter and runs itself.
bool Event::Wait(DWORD ms)
{
    std::unique_lock lock(m_mutex);
    ++m_waiters;
    if (!m_signalled && !m_hooks.empty()) {
        const std::vector<Hook> hooks = m_hooks;
        lock.unlock();
        for (const Hook& hook : hooks)
            if (auto object = hook.owner.lock())
                object->OnEventWait(hook.tag);
        lock.lock();
    }
    bool bSignalled = true;
    if (ms == INFINITE)
        m_cv.wait(lock, [this] { return m_signalled; });
    else
        bSignalled = m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_signalled; });
    --m_waiters;
    if (bSignalled && !m_manual)
        m_signalled = false;
    return bSignalled;
}

void Event::SetWaitHook(const std::weak_ptr<KernelObject>& owner, std::uint64_t tag)
{
    bool bWaitedOn = false;
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_hooks, [&owner](const Hook& hook) {
            return hook.owner.expired() || (!hook.owner.owner_before(owner) && !owner.owner_before(hook.owner));
        });
        m_hooks.push_back(Hook{owner, tag});
        bWaitedOn = m_waiters > 0 && !m_signalled;
    }
    if (bWaitedOn)
        if (auto object = owner.lock())
            object->OnEventWait(tag);
}

std::shared_ptr<Event> EventOf(const OVERLAPPED* ov)
{
    if (!ov || !ov->hEvent)
        return nullptr;
    return std::dynamic_pointer_cast<Event>(LookupHandle(ov->hEvent));
}

// Internal and InternalHigh are written by the completing thread and read by
// the waiting one, so both are accessed atomically; Internal is published last.
void BeginOverlapped(OVERLAPPED* ov)
{
    std::atomic_ref<ULONG_PTR>(ov->InternalHigh).store(0, std::memory_order_relaxed);
    std::atomic_ref<ULONG_PTR>(ov->Internal).store(kStatusPending, std::memory_order_release);
    if (auto ev = EventOf(ov))
        ev->Reset();
}

// A waiter that sees the status may re-arm the record at once, and the re-arm
// resets the event: a signal given after that would reach the new, still
// pending request. So the status is published and the event set in one step
// under the event's lock, which the re-arm's reset has to wait for.
void CompleteOverlapped(OVERLAPPED* ov, DWORD error, DWORD bytes)
{
    // The event is looked up first: once Internal is published a caller
    // polling with GetOverlappedResult(FALSE) may return and free the record.
    auto ev = EventOf(ov);
    auto publish = [ov, error, bytes] {
        std::atomic_ref<ULONG_PTR>(ov->InternalHigh).store(bytes, std::memory_order_relaxed);
        std::atomic_ref<ULONG_PTR>(ov->Internal).store(error, std::memory_order_release);
        // A waiter can see the end from here on, before the signal.
        if (auto pfnHook = g_pfnCompletionHook.load(std::memory_order_acquire))
            pfnHook(ov);
    };
    if (ev)
        ev->SetAfter(publish);
    else
        publish();
}

void SetCompletionHook(void (*pfnHook)(OVERLAPPED* ov))
{
    g_pfnCompletionHook.store(pfnHook, std::memory_order_release);
}

void SetResetWaitHook(void (*pfnHook)()) { g_pfnResetWaitHook.store(pfnHook, std::memory_order_release); }

BOOL FinishOverlapped(OVERLAPPED* ov, LPDWORD bytes, BOOL bWait)
{
    std::atomic_ref<ULONG_PTR> status(ov->Internal);
    auto ev = EventOf(ov);
    while (status.load(std::memory_order_acquire) == kStatusPending) {
        if (!bWait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        if (ev)
            ev->Wait(INFINITE);
        if (status.load(std::memory_order_acquire) == kStatusPending)
            std::this_thread::yield();  // event set by someone else: look again
    }
    const DWORD error = static_cast<DWORD>(status.load(std::memory_order_acquire));
    if (bytes)
        *bytes = static_cast<DWORD>(std::atomic_ref<ULONG_PTR>(ov->InternalHigh).load(std::memory_order_relaxed));
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace win32posix

using namespace win32posix;

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

BOOL KernelCloseHandle(HANDLE hObject)
{
    std::shared_ptr<KernelObject> object;  // released outside the table lock
    {
        HandleTable& table = Table();
        std::lock_guard lock(table.mutex);
        auto it = table.objects.find(hObject);
        if (it == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        table.objects.erase(it);
    }
    object->OnClose();
    return TRUE;
}

HANDLE KernelCreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName)
{
    if (lpName) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return RegisterHandle(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
}

namespace {

BOOL ChangeEvent(HANDLE hEvent, void (Event::*change)())
{
    auto ev = HandleAs<Event>(hEvent);
    if (!ev)
        return FALSE;
    ((*ev).*change)();
    return TRUE;
}

}  // namespace

BOOL SetEvent(HANDLE hEvent) { return ChangeEvent(hEvent, &Event::Set); }
BOOL ResetEvent(HANDLE hEvent) { return ChangeEvent(hEvent, &Event::Reset); }

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    auto ev = HandleAs<Event>(hHandle);
    if (!ev)
        return WAIT_FAILED;
    return ev->Wait(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

HANDLE KernelCreateThread(LPSECURITY_ATTRIBUTES, std::size_t, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                          DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (dwCreationFlags != 0 || !lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<Thread>();
    static std::atomic<DWORD> s_nextId{1};
    const DWORD id = s_nextId.fetch_add(1, std::memory_order_relaxed);
    try {
        // Detached, as a Win32 thread is: it ends on its own and its handle
        // only observes it. The lambda's reference keeps the exit-code word alive.
        std::thread([thread, lpStartAddress, lpParameter] {
            const DWORD code = lpStartAddress(lpParameter);
            thread->exitCode.store(code, std::memory_order_release);
        }).detach();
    }
    catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId)
        *lpThreadId = id;
    return RegisterHandle(thread);
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    auto thread = HandleAs<Thread>(hThread);
    if (!thread || !lpExitCode) {
        if (thread)
            SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpExitCode = thread->exitCode.load(std::memory_order_acquire);
    return TRUE;
}

void Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
