// Kernel objects behind the Win32 handles on POSIX systems: the handle table,
// events and threads. Both the product's termios driver and the tests' fake
// driver build their port objects on this, so CloseHandle, events and threads
// behave the same under either.
#pragma once

#include "platform/Win32Api.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace win32posix {

// Anything a HANDLE can name. Closing the handle drops the table's reference;
// a thread still using the object keeps it alive through its shared_ptr.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Called once by CloseHandle after the handle left the table, outside the
    // table's lock: a port ends its pending requests here, even while other
    // threads still hold references to it.
    virtual void OnClose() {}
    // Called by Event::Wait, outside the event's lock, when a thread is about
    // to wait on an event this object has claimed with SetWaitHook(tag).
    virtual void OnEventWait(std::uint64_t /*tag*/) {}
};

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// The object behind a handle if it is a T; null (and ERROR_INVALID_HANDLE set)
// for a closed, unknown or differently typed handle.
template <class T>
std::shared_ptr<T> HandleAs(HANDLE handle)
{
    auto object = std::dynamic_pointer_cast<T>(LookupHandle(handle));
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

class Event : public KernelObject {
public:
    Event(bool manualReset, bool initialState) : m_manual(manualReset), m_signalled(initialState) {}
    void Set();
    // Runs publish and signals the event as one step under the event's lock:
    // a Reset can then never fall between what publish made visible and the
    // signal, and a thread the signal wakes sees what publish wrote.
    template <class F>
    void SetAfter(F&& publish)
    {
        {
            std::lock_guard lock(m_mutex);
            publish();
            m_signalled = true;
        }
        m_cv.notify_all();
    }
    void Reset();
    // True when signalled within ms (INFINITE waits for ever). An auto-reset
    // event is reset by the wait that sees it.
    bool Wait(DWORD ms);
    // Lets a driver complete a request only once somebody waits on its event:
    // owner->OnEventWait(tag) runs before each wait, and at once when a thread
    // is already waiting. One hook per owner: a later one replaces its earlier.
    void SetWaitHook(const std::weak_ptr<KernelObject>& owner, std::uint64_t tag);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    const bool m_manual;
    bool m_signalled;
    struct Hook {
        std::weak_ptr<KernelObject> owner;
        std::uint64_t tag;
    };
    int m_waiters = 0;
    std::vector<Hook> m_hooks;  // usually none or one: one per port using this event
};

// Returns the Event for an OVERLAPPED's hEvent, or null for none.
std::shared_ptr<Event> EventOf(const OVERLAPPED* ov);

// Completion of an overlapped request: the status and byte count are kept in
// the OVERLAPPED's Internal and InternalHigh fields, as on Windows.
void CompleteOverlapped(OVERLAPPED* ov, DWORD error, DWORD bytes);
// Tests: runs inside CompleteOverlapped between making the end visible and
// signalling the event, the worst moment for a waiter to re-arm the record;
// and when a Reset finds the event's lock taken and is about to wait for it.
void SetCompletionHook(void (*pfnHook)(OVERLAPPED* ov));
void SetResetWaitHook(void (*pfnHook)());
void BeginOverlapped(OVERLAPPED* ov);  // marks it pending, resets its event
// Waits (or not) for completion: TRUE with the byte count, or FALSE with
// ERROR_IO_INCOMPLETE when still pending and bWait is FALSE, or the request's
// own error.
BOOL FinishOverlapped(OVERLAPPED* ov, LPDWORD bytes, BOOL bWait);

}  // namespace win32posix

// CloseHandle, CreateEventA and CreateThread on the kernel objects. The
// product's driver exports them under the Win32 names (KernelCalls.cpp); the
// tests' fake driver puts recording and fault injection in front of them.
BOOL KernelCloseHandle(HANDLE hObject);
HANDLE KernelCreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                          LPCSTR lpName);
HANDLE KernelCreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, std::size_t dwStackSize,
                          LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                          LPDWORD lpThreadId);
