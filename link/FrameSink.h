// The receiver of the link's decoded frames.
#pragma once

struct FrameBuffer;

// OnFrame runs on the link's worker thread with no lock held. The sink takes
// the buffer over and returns it to the pool (BufferPoolPut) when done; the
// link never destroys its sink, hence no destructor here.
class IFrameSink {
public:
    virtual void OnFrame(FrameBuffer* pFrame) = 0;
    // The line went away: no frame will come any more. Called once, on the
    // link's worker, after every frame received before the loss.
    virtual void OnLineLost() {}
};
