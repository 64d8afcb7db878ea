#include "tests/app/FakeMapUploader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "retrieval/MapUploader.h"

namespace {

void RunOnce(std::function<void()>& fnHook)
{
    std::function<void()> fn = std::move(fnHook);
    fnHook = nullptr;
    if (fn)
        fn();
}

// A null pLive compares equal to a null this: check that one first.
void ExpectLive(const CMapUploader* pUploader)
{
    EXPECT_TRUE(FakeUploader().pLive != nullptr && pUploader == FakeUploader().pLive)
        << "the image read through a deleted uploader";
}

}  // namespace

FakeUploaderControl& FakeUploader()
{
    static FakeUploaderControl control;
    return control;
}

void FakeUploaderReset() { FakeUploader() = FakeUploaderControl(); }

void FakeUploaderFinish(int bSucceeded)
{
    FakeUploader().bSucceeded = bSucceeded;
    FakeUploader().pLive->m_bFinished.store(1, std::memory_order_release);
}

void FakeUploaderComplete(const std::vector<std::uint8_t>& image)
{
    FakeUploaderControl& fake = FakeUploader();
    fake.image = image;
    fake.dwTotal = fake.dwReceived = static_cast<std::uint32_t>(image.size());
    FakeUploaderFinish(1);
}

CMapUploader::CMapUploader(const std::string& portName, ITickSource* pTicks)
    : m_timeout(kReplyTimeoutMs, pTicks), m_pTicks(pTicks)
{
    FakeUploaderControl& fake = FakeUploader();
    fake.portNames.push_back(portName);
    fake.pLive = this;
    fake.dwTotal = fake.dwReceived = 0;
    fake.image.clear();
    fake.bSucceeded = 0;
    ++fake.nConstructs;
    fake.nMaxLive = std::max(fake.nMaxLive, ++fake.nLive);
    RunOnce(fake.fnDuringConstruct);
}

CMapUploader::~CMapUploader()
{
    FakeUploaderControl& fake = FakeUploader();
    ++fake.nDeletes;
    EXPECT_LE(fake.nDeletes, fake.nConstructs) << "an uploader deleted twice";
    // Half deleted from here on: nothing may read it during the wait.
    if (fake.pLive == this)
        fake.pLive = nullptr;
    RunOnce(fake.fnDuringDelete);
    --fake.nLive;
}

void CMapUploader::OnFrame(FrameBuffer*) {}

void CMapUploader::OnLineLost() {}

void CMapUploader::Start()
{
    ++FakeUploader().nStarts;
    if (FakeUploader().fnDuringStart)
        FakeUploader().fnDuringStart();
    if (FakeUploader().bFinishOnStart)
        m_bFinished.store(1, std::memory_order_release);
}

std::uint32_t CMapUploader::GetTotalSize() { return FakeUploader().dwTotal; }

// The real uploader's image is freed with it: reading it afterwards is the
// crash the window must never reach.
std::uint32_t CMapUploader::GetReceived()
{
    ExpectLive(this);
    return FakeUploader().dwReceived;
}

const std::uint8_t* CMapUploader::GetData()
{
    ExpectLive(this);
    return FakeUploader().image.data();
}
int CMapUploader::Succeeded() { return FakeUploader().bSucceeded; }
int CMapUploader::GetState() { return FakeUploader().bSucceeded ? Done : RequestSize; }

RunFailure CMapUploader::GetFailure() { return FakeUploader().bSucceeded ? RunFailure::none : FakeUploader().nFailure; }
std::string CMapUploader::GetFailureDetail() { return FakeUploader().strFailureDetail; }
// The line as a 115200-baud run would count it, so the run log has numbers.
std::uint32_t CMapUploader::GetBaudRate() { return 115200; }
LinkCounts CMapUploader::GetLinkCounts()
{
    return LinkCounts{FrameDrops{{1, 0, 0}}, LineErrorCounts{0, 2, 0}, 22, 3083};
}
