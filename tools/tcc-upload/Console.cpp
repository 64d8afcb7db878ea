#include "tools/tcc-upload/Console.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_consoleLock;
bool g_bProgress = false;
bool g_bMessages = true;
std::size_t g_nProgressWidth = 0;  // columns the shown progress line takes, 0: none shown

// Carriage return and spaces rather than terminal escapes, which an older
// Windows console would print literally.
void ClearProgressLocked()
{
    if (g_nProgressWidth == 0)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(g_nProgressWidth), "");
    g_nProgressWidth = 0;
}

bool EndsSentence(const std::string& s)
{
    if (s.empty())
        return true;
    const char c = s.back();
    return c == '.' || c == '!' || c == '?' || c == ':' || c == ';' || c == ',';
}

}  // namespace

void ConsoleInit(bool bProgress, bool bMessages)
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    g_bProgress = bProgress;
    g_bMessages = bMessages;
}

void ConsoleLine(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    ClearProgressLocked();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void ConsoleMessage(const char* pszText)
{
    bool bShow;
    {
        std::lock_guard<std::mutex> lock(g_consoleLock);
        bShow = g_bMessages;
    }
    if (bShow)
        ConsoleLine("tcc-upload: " + FlattenMessage(pszText));
}

void ConsoleProgress(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    if (!g_bProgress)
        return;
    const std::size_t nPad = g_nProgressWidth > text.size() ? g_nProgressWidth - text.size() : 0;
    std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(nPad), "");
    if (nPad > 0)
        std::fprintf(stderr, "\r%s", text.c_str());
    g_nProgressWidth = text.size();
    std::fflush(stderr);
}

void ConsoleEndProgress()
{
    std::lock_guard<std::mutex> lock(g_consoleLock);
    ClearProgressLocked();
    std::fflush(stderr);
}

std::string FlattenMessage(const char* pszText)
{
    std::string out;
    std::string line;
    auto flush = [&]() {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        std::size_t nStart = line.find_first_not_of(" \t");
        if (nStart == std::string::npos) {
            line.clear();
            return;
        }
        if (!out.empty())
            out += EndsSentence(out) ? " " : ". ";
        out.append(line, nStart);
        line.clear();
    };
    for (const char* p = pszText ? pszText : ""; *p; ++p) {
        if (*p == '\n' || *p == '\r')
            flush();
        else
            line += *p;
    }
    flush();
    return out;
}
