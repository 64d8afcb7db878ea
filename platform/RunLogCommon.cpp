#include "platform/RunLog.h"

std::string RunLogOlderPath(const std::string& path)
{
    const std::string ext = ".jsonl";
    const bool bExt = path.size() >= ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0;
    return bExt ? path.substr(0, path.size() - ext.size()) + ".1" + ext : path + ".1";
}
