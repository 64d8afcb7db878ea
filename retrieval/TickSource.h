// The millisecond tick seam of the retrieval layer.
//
// ITickSource lets a test put its own clock under one uploader. A worker that
// sleeps until a deadline sleeps on a CWakeSignal; a clock that does not move
// with real time must Signal every attached wake when it moves, so that the
// sleeper looks at the clock again. The system clock needs no such help.
#pragma once

#include <cstdint>

#include "platform/TickCount.h"

class CWakeSignal;

class ITickSource {
public:
    virtual std::uint32_t GetTicks() = 0;
    virtual void Attach(CWakeSignal* pWake) = 0;
    virtual void Detach(CWakeSignal* pWake) = 0;

protected:
    ~ITickSource() = default;
};

// The process's real clock (TickCountNow); a static object, never deleted.
ITickSource* SystemTickSource();
