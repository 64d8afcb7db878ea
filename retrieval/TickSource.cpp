// The system clock behind ITickSource. It moves with real time, so a sleeper
// wakes at its deadline by itself and nothing needs to be signalled.
#include "retrieval/TickSource.h"

namespace {

class CSystemTickSource final : public ITickSource {
public:
    std::uint32_t GetTicks() override { return TickCountNow(); }
    void Attach(CWakeSignal*) override {}
    void Detach(CWakeSignal*) override {}
};

}  // namespace

ITickSource* SystemTickSource()
{
    static CSystemTickSource s_ticks;
    return &s_ticks;
}
