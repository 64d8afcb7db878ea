// AppMessageBox for tests: records every box (text and style), answers from a
// script, and can hold boxes "open" until the test dismisses them, so a test
// can wait for a box that a worker thread shows. Thread safe.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace msgbox {

struct Entry {
    std::string text;
    unsigned int style;

    bool operator==(const Entry& other) const { return text == other.text && style == other.style; }
    friend std::ostream& operator<<(std::ostream& os, const Entry& e)
    {
        return os << '"' << e.text << "\" style " << e.style;
    }
};

// Forgets the boxes, the answers and the callback; releases held boxes.
void Reset();
std::vector<Entry> Entries();

// The answers of the next boxes, in order; IDOK once they run out.
void ScriptAnswers(std::vector<int> answers);
// Called on the showing thread as each box is shown, before it is dismissed.
void OnShown(std::function<void(const Entry&)> callback);

// While held, each AppMessageBox call blocks until Dismiss() closes it.
void Hold(bool bHold);
void Dismiss();  // closes one held box (the oldest); one in advance if none is open
// Blocks until at least n boxes have been shown (held ones included).
void WaitShown(std::size_t n);

}  // namespace msgbox
