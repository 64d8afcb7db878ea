#include "record/RunLogLine.h"

#include <cstdio>

#include "Version.h"
#include "platform/RunLog.h"

const char kFrontEndWindow[] = "window";
const char kFrontEndTool[] = "tcc-upload";

std::string FormatUtc(std::time_t when, const char* pszFormat)
{
    const long long nSeconds = static_cast<long long>(when);
    long long nDays = nSeconds / 86400;
    long long nOfDay = nSeconds % 86400;
    if (nOfDay < 0) {
        nOfDay += 86400;
        --nDays;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    const long long z = nDays + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char sz[96];  // room for any long long, as the compiler counts
    std::snprintf(sz, sizeof sz, pszFormat, year, month, day, nOfDay / 3600, nOfDay / 60 % 60, nOfDay % 60);
    return sz;
}

std::string FormatRunLogLine(const RunReport& report, const char* pszFrontEnd, std::time_t when)
{
    const std::string object = FormatJson(report);  // "{" and the report's keys
    return "{\"time\": " + JsonQuote(FormatUtc(when, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ")) +
           ", \"version\": " + JsonQuote(TCC_VERSION) + ", \"front_end\": " + JsonQuote(pszFrontEnd) + ", " +
           object.substr(1);
}

unsigned long WriteRunLog(const RunReport& report, const char* pszFrontEnd, std::time_t when)
{
    return AppendRunLogLine(RunLogPath(), FormatRunLogLine(report, pszFrontEnd, when));
}
