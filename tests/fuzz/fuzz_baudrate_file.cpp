// Feeds arbitrary "UploadConfig.ini" contents to the baud-rate reading, as a
// user's hand-edited file would reach it: the bytes followed by the zero the
// reader puts behind them, in a buffer of exactly that size so that a read
// past the zero is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial/BaudRateFile.h"
#include "tests/fakes/RecordingMessageBox.h"

namespace {

void Check(bool bOk)
{
    if (!bOk)
        std::abort();
}

bool Supported(DWORD dwRate)
{
    return dwRate == 9600 || dwRate == 19200 || dwRate == 38400 || dwRate == 57600 || dwRate == 115200;
}

bool EndsWith(const std::string& s, const char* pszTail)
{
    const std::size_t n = std::strlen(pszTail);
    return s.size() >= n && s.compare(s.size() - n, n, pszTail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    std::vector<char> text(pData, pData + size);
    text.push_back('\0');
    msgbox::Reset();
    const DWORD dwRate = BaudRateFromText(text.data(), size);
    const std::vector<msgbox::Entry> boxes = msgbox::Entries();

    const bool bKey = size >= 8 && std::memcmp(pData, "BAUDRATE", 8) == 0;
    if (!bKey) {
        Check(dwRate == 115200 && boxes.empty());
        return 0;
    }
    if (boxes.empty()) {
        Check(Supported(dwRate));
        return 0;
    }
    // One box naming the value, and the fallback rate.
    Check(boxes.size() == 1 && dwRate == 57600);
    Check(boxes[0].text.rfind("BaudRate ", 0) == 0);
    Check(EndsWith(boxes[0].text,
                   " Not Supported, Using Defaults\nContact Technical Support if "
                   "communications fail."));
    return 0;
}
