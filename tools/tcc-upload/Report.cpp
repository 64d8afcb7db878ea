#include "tools/tcc-upload/Report.h"

#include <cstdio>
#include <initializer_list>
#include <utility>

namespace {

// The length of the well-formed UTF-8 sequence that starts at s[i], 0 when
// there is none (stray continuation bytes, overlong forms, surrogates).
std::size_t Utf8Length(const std::string& s, std::size_t i)
{
    const auto at = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    const unsigned b = at(i);
    unsigned lo = 0x80, hi = 0xBF;
    std::size_t n;
    if (b >= 0xC2 && b <= 0xDF)
        n = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        lo = b == 0xE0 ? 0xA0 : lo;
        hi = b == 0xED ? 0x9F : hi;
    }
    else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        lo = b == 0xF0 ? 0x90 : lo;
        hi = b == 0xF4 ? 0x8F : hi;
    }
    else
        return 0;
    if (at(i + 1) < lo || at(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return n;
}

std::string Number(double value, const char* pszFormat)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, pszFormat, value);
    return sz;
}

std::string NullOr(const std::string& text) { return text.empty() ? std::string("null") : JsonQuote(text); }

// {"a": 1, "b": 2} from names and counts, in that order.
std::string CountsObject(std::initializer_list<std::pair<const char*, std::uint32_t>> counts)
{
    std::string out;
    for (const auto& [pszName, dwCount] : counts)
        out += std::string(out.empty() ? "{" : ", ") + "\"" + pszName + "\": " + std::to_string(dwCount);
    return out + "}";
}

std::string ClassList(const std::vector<RunFailure>& causes)
{
    std::string out;
    for (RunFailure cause : causes)
        out += (out.empty() ? "" : ", ") + NullOr(RunFailureClass(cause) ? RunFailureClass(cause) : "");
    return "[" + out + "]";
}

}  // namespace

const ExitStatusRow kExitStatuses[5] = {
    {0, "every port's image was saved"},
    {1, "a retrieval failed; the JSON key error says why"},
    {2,
     "usage error, or --port auto or usb:... found no matching USB serial adapter (error no_adapter) or several "
     "(several_adapters)"},
    {3, "an output file cannot be written"},
    {130, "interrupted by Ctrl-C or SIGTERM (error interrupted)"},
};

int ExitStatusOf(RunFailure cause)
{
    switch (cause) {
    case RunFailure::none: return 0;
    case RunFailure::saveFailed: return 3;
    case RunFailure::interrupted: return 130;
    case RunFailure::noAdapter:
    case RunFailure::severalAdapters: return 2;
    default: return 1;
    }
}

int WorseExitStatus(int nA, int nB)
{
    for (int nStatus : {130, 2, 3, 1})
        if (nA == nStatus || nB == nStatus)
            return nStatus;
    return 0;
}

std::string FailureMessage(RunFailure cause, const std::string& strDetail)
{
    switch (cause) {
    case RunFailure::portNotFound:
    case RunFailure::portBusy:
    case RunFailure::portDenied:
    case RunFailure::notASerialPort: return "Unable to open serial port. " + RunFailureText(cause, strDetail);
    default: return RunFailureText(cause, strDetail);
    }
}

void AddAttemptCounts(RunReport* pReport, const FrameDrops& drops, const LineErrorCounts& errors)
{
    for (int nReason = 0; nReason < DROP_REASONS; ++nReason)
        pReport->drops.adwCount[nReason] += drops.adwCount[nReason];
    pReport->lineErrors.dwParity += errors.dwParity;
    pReport->lineErrors.dwFraming += errors.dwFraming;
    pReport->lineErrors.dwOverrun += errors.dwOverrun;
}

std::string JsonQuote(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 0x20) {
            char sz[8];
            std::snprintf(sz, sizeof sz, "\\u%04x", c);
            out += sz;
        }
        else if (c < 0x80)
            out += static_cast<char>(c);
        else if (const std::size_t n = Utf8Length(text, i)) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        else
            out += "\\ufffd";
        ++i;
    }
    return out + "\"";
}

std::string FormatJson(const RunReport& r)
{
    std::string out = "{\"result\": ";
    out += r.bSaved ? "\"saved\"" : "\"failed\"";
    out += ", \"port\": " + JsonQuote(r.strPort);
    out += ", \"baud\": " + (r.dwBaud ? std::to_string(r.dwBaud) : std::string("null"));
    out += ", \"baud_source\": " + NullOr(r.strBaudSource);
    out += ", \"bytes\": " + std::to_string(r.dwBytes);
    out += ", \"output\": " + JsonQuote(r.strOutput);
    out += ", \"seconds\": " + Number(r.dSeconds, "%.3f");
    out += ", \"attempts\": " + std::to_string(r.dwAttempts);
    out += ", \"wire_bytes_sent\": " + std::to_string(r.qwWireSent);
    out += ", \"wire_bytes_received\": " + std::to_string(r.qwWireReceived);
    out += ", \"frames_dropped\": " + std::to_string(r.dwFramesDropped);
    out += ", \"drops\": " + CountsObject({{"bad_check", r.drops.adwCount[DROP_BAD_CHECK]},
                                           {"overlong", r.drops.adwCount[DROP_OVERLONG]},
                                           {"unwanted", r.drops.adwCount[DROP_UNWANTED]}});
    out += ", \"line_errors\": " + CountsObject({{"parity", r.lineErrors.dwParity},
                                                 {"framing", r.lineErrors.dwFraming},
                                                 {"overrun", r.lineErrors.dwOverrun}});
    out += ", \"message\": " + (r.bSaved ? std::string("null") : JsonQuote(r.strMessage));
    const char* pszClass = r.bSaved ? nullptr : RunFailureClass(r.nFailure);
    out += ", \"error\": " + NullOr(pszClass ? pszClass : "");
    out += ", \"attempt_errors\": " + ClassList(r.attemptErrors);
    out += ", \"sha256\": " + NullOr(r.bSaved ? r.strSha256 : std::string());
    return out + "}";
}

std::string FormatSummary(const RunReport& r)
{
    const std::string head = "tcc-upload: " + r.strPort + ": ";
    const std::string attempts = std::to_string(r.dwAttempts) + " attempts";
    if (!r.bSaved) {
        // The cause's words may be whole sentences: the note then is one too.
        const std::string after = r.dwAttempts > 1 ? " after " + attempts : std::string();
        if (r.bLeftOnDisk)
            return head + r.strMessage + after;
        if (!r.strMessage.empty() && r.strMessage.back() == '.')
            return head + r.strMessage + " Nothing written" + after + ".";
        return head + r.strMessage + after + "; nothing written";
    }
    const double rate = r.dAttemptSeconds > 0 ? r.dwBytes / r.dAttemptSeconds / 1024.0 : 0.0;
    std::string text = head + "saved " + std::to_string(r.dwBytes) + " bytes to " + r.strOutput + " in " +
                       Number(r.dAttemptSeconds, "%.2f") + " s (" + Number(rate, "%.1f") + " KiB/s)";
    if (r.dwAttempts > 1)
        text += "; " + attempts + ", " + Number(r.dSeconds, "%.1f") + " s in all";
    text += "; " + std::to_string(r.dwBaud) + " baud (" + r.strBaudSource + "); SHA-256 " + r.strSha256;
    return text;
}
