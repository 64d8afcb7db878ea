#include "record/RunReport.h"

#include "link/HDLC.h"

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

// "saved", "failed", or "not_saved" for an image the window's user chose
// not to save.
const char* ResultWord(const RunReport& r)
{
    if (r.bSaved)
        return "saved";
    return r.nFailure == RunFailure::none ? "not_saved" : "failed";
}

}  // namespace

std::string FormatNumber(double value, const char* pszFormat)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, pszFormat, value);
    return sz;
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

void AddAttemptCounts(RunReport* pReport, const LinkCounts& counts)
{
    for (int nReason = 0; nReason < DROP_REASONS; ++nReason)
        pReport->drops.adwCount[nReason] += counts.drops.adwCount[nReason];
    pReport->lineErrors.dwParity += counts.lineErrors.dwParity;
    pReport->lineErrors.dwFraming += counts.lineErrors.dwFraming;
    pReport->lineErrors.dwOverrun += counts.lineErrors.dwOverrun;
    pReport->qwWireSent += counts.qwWireSent;
    pReport->qwWireReceived += counts.qwWireReceived;
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
    const bool bRetrieved = r.bSaved || r.nFailure == RunFailure::none;
    std::string out = "{\"result\": " + JsonQuote(ResultWord(r));
    out += ", \"port\": " + JsonQuote(r.strPort);
    out += ", \"baud\": " + (r.dwBaud ? std::to_string(r.dwBaud) : std::string("null"));
    out += ", \"baud_source\": " + NullOr(r.strBaudSource);
    out += ", \"bytes\": " + std::to_string(r.dwBytes);
    out += ", \"output\": " + NullOr(r.strOutput);
    out += ", \"seconds\": " + FormatNumber(r.dSeconds, "%.3f");
    out += ", \"attempts\": " + std::to_string(r.dwAttempts);
    out += ", \"wire_bytes_sent\": " + std::to_string(r.qwWireSent);
    out += ", \"wire_bytes_received\": " + std::to_string(r.qwWireReceived);
    out += ", \"frames_dropped\": " + std::to_string(r.drops.Total());
    out += ", \"drops\": " + CountsObject({{"bad_check", r.drops.adwCount[DROP_BAD_CHECK]},
                                           {"overlong", r.drops.adwCount[DROP_OVERLONG]},
                                           {"unwanted", r.drops.adwCount[DROP_UNWANTED]}});
    out += ", \"line_errors\": " + CountsObject({{"parity", r.lineErrors.dwParity},
                                                 {"framing", r.lineErrors.dwFraming},
                                                 {"overrun", r.lineErrors.dwOverrun}});
    // Once saved, only a difference from what was expected is worth a word.
    out += ", \"message\": " + NullOr(!r.bSaved || r.expectedMatches == false ? r.strMessage : std::string());
    const char* pszClass = bRetrieved ? nullptr : RunFailureClass(r.nFailure);
    out += ", \"error\": " + NullOr(pszClass ? pszClass : "");
    out += ", \"attempt_errors\": " + ClassList(r.attemptErrors);
    out += ", \"sha256\": " + NullOr(bRetrieved ? r.strSha256 : std::string());
    out += ", \"expected\": " + std::string(!r.expectedMatches   ? "null"
                                            : *r.expectedMatches ? "\"matches\""
                                                                 : "\"differs\"");
    out += ", \"first_difference\": " + (r.firstDifference ? std::to_string(*r.firstDifference) : std::string("null"));
    out += ", \"changed\": " + std::string(!r.changed ? "null" : *r.changed ? "true" : "false");
    return out + "}";
}
