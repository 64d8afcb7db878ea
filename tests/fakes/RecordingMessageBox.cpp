#include "tests/fakes/RecordingMessageBox.h"

#include "platform/AppMessageBox.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace msgbox {
namespace {

struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Entry> entries;
    std::deque<int> answers;
    std::function<void(const Entry&)> callback;
    bool hold = false;
    std::size_t dismissals = 0;  // Dismiss() calls not yet used by a held box
    std::size_t generation = 0;  // bumped by Reset to release held boxes
};

Recorder& R()
{
    static Recorder* recorder = new Recorder;  // outlives detached threads at exit
    return *recorder;
}

}  // namespace

void Reset()
{
    Recorder& r = R();
    std::lock_guard lock(r.mutex);
    r.entries.clear();
    r.answers.clear();
    r.callback = nullptr;
    r.hold = false;
    r.dismissals = 0;
    ++r.generation;
    r.changed.notify_all();
}

std::vector<Entry> Entries()
{
    std::lock_guard lock(R().mutex);
    return R().entries;
}

void ScriptAnswers(std::vector<int> answers)
{
    std::lock_guard lock(R().mutex);
    R().answers.assign(answers.begin(), answers.end());
}

void OnShown(std::function<void(const Entry&)> callback)
{
    std::lock_guard lock(R().mutex);
    R().callback = std::move(callback);
}

void Hold(bool bHold)
{
    std::lock_guard lock(R().mutex);
    R().hold = bHold;
    R().changed.notify_all();
}

void Dismiss()
{
    std::lock_guard lock(R().mutex);
    ++R().dismissals;
    R().changed.notify_all();
}

void WaitShown(std::size_t n)
{
    std::unique_lock lock(R().mutex);
    R().changed.wait(lock, [&] { return R().entries.size() >= n; });
}

}  // namespace msgbox

int AppMessageBox(const char* pszText, unsigned int nType)
{
    using namespace msgbox;
    Recorder& r = R();
    std::function<void(const Entry&)> callback;
    Entry entry{pszText ? pszText : "", nType};
    std::unique_lock lock(r.mutex);
    r.entries.push_back(entry);
    callback = r.callback;
    int answer = IDOK;
    if (!r.answers.empty()) {
        answer = r.answers.front();
        r.answers.pop_front();
    }
    r.changed.notify_all();
    if (callback) {
        lock.unlock();
        callback(entry);
        lock.lock();
    }
    const std::size_t generation = r.generation;
    r.changed.wait(lock, [&] { return !r.hold || r.dismissals > 0 || r.generation != generation; });
    if (r.hold && r.dismissals > 0 && r.generation == generation)
        --r.dismissals;
    return answer;
}
