// A stand-in for CMapUploader (same header, linked instead of
// MapUploader.cpp): the test decides what the "station" has done.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "retrieval/RunFailure.h"

class CMapUploader;

struct FakeUploaderControl {
    std::vector<std::string> portNames;  // one per construction
    int nStarts = 0;
    int nDeletes = 0;
    CMapUploader* pLive = nullptr;
    std::uint32_t dwTotal = 0;
    std::uint32_t dwReceived = 0;
    std::vector<std::uint8_t> image;
    int bSucceeded = 0;
    RunFailure nFailure = RunFailure::noReply;  // a failed run's cause
    std::string strFailureDetail;
    int bFinishOnStart = 0;               // as when the port does not open
    std::function<void()> fnDuringStart;  // runs inside Start, as its message box would
    // Each runs once, then clears itself: inside the constructor, as the
    // controller's boxes would; inside the destructor, as the wait for the
    // worker that serves sent messages.
    std::function<void()> fnDuringConstruct;
    std::function<void()> fnDuringDelete;
    int nConstructs = 0;
    int nLive = 0;
    int nMaxLive = 0;
};

FakeUploaderControl& FakeUploader();
void FakeUploaderReset();
// Raises the live uploader's finished flag, as its worker does at the end.
void FakeUploaderFinish(int bSucceeded);
// A finished successful run with this image.
void FakeUploaderComplete(const std::vector<std::uint8_t>& image);
