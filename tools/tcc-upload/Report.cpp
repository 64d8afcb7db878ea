#include "tools/tcc-upload/Report.h"

const ExitStatusRow kExitStatuses[6] = {
    {0, "every port's image was saved"},
    {1, "a retrieval failed; the JSON key error says why"},
    {2,
     "usage error, or --port auto or usb:... found no matching USB serial adapter (error no_adapter) or several "
     "(several_adapters)"},
    {3, "an output file cannot be written"},
    {4,
     "saved, but not what was expected: an image differs from --expect-sha256 or --compare (the JSON key expected "
     "says differs)"},
    {130, "interrupted by Ctrl-C, SIGTERM, a hang-up or another signal that ends a program (error interrupted)"},
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

int ExitStatusOf(const RunReport& report)
{
    if (report.bSaved && report.expectedMatches == false)
        return 4;
    return ExitStatusOf(report.nFailure);
}

int WorseExitStatus(int nA, int nB)
{
    for (int nStatus : {130, 2, 3, 1, 4})
        if (nA == nStatus || nB == nStatus)
            return nStatus;
    return 0;
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
                       FormatNumber(r.dAttemptSeconds, "%.2f") + " s (" + FormatNumber(rate, "%.1f") + " KiB/s)";
    if (r.dwAttempts > 1)
        text += "; " + attempts + ", " + FormatNumber(r.dSeconds, "%.1f") + " s in all";
    text += "; " + std::to_string(r.dwBaud) + " baud (" + r.strBaudSource + "); SHA-256 " + r.strSha256;
    if (r.changed)
        text += *r.changed ? "; changed" : "; unchanged";
    if (!r.strMessage.empty())
        text += "; " + r.strMessage;
    return text;
}
