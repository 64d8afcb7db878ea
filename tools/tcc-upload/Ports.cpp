#include "tools/tcc-upload/Ports.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Runs of digits compare by value, so that COM10 follows COM9.
bool NaturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(a[ei]))
                ++ei;
            while (ej < b.size() && IsDigit(b[ej]))
                ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            const std::size_t za = na.find_first_not_of('0'), zb = nb.find_first_not_of('0');
            const std::string va = za == std::string::npos ? "" : na.substr(za);
            const std::string vb = zb == std::string::npos ? "" : nb.substr(zb);
            if (va.size() != vb.size())
                return va.size() < vb.size();
            if (va != vb)
                return va < vb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

std::string DescribePort(const SerialPortInfo& port)
{
    std::string text = port.strName + "  ";
    switch (port.nKind) {
    case PORT_USB: {
        text += "USB adapter";
        std::string facts = port.strProduct;
        for (const std::string* p : {&port.strUsbId, &port.strSerial}) {
            if (p->empty())
                continue;
            if (!facts.empty())
                facts += ", ";
            facts += (p == &port.strSerial ? "serial " : "") + *p;
        }
        if (!facts.empty())
            text += ": " + facts;
        break;
    }
    case PORT_UART: text += "built-in UART"; break;
    case PORT_PTY: text += "pty"; break;
    case PORT_OTHER: text += "serial port"; break;
    }
    if (!port.strDetail.empty())
        text += " (" + port.strDetail + ")";
    return text;
}

std::vector<SerialPortInfo> UsbAdapters(const std::vector<SerialPortInfo>& ports)
{
    std::vector<SerialPortInfo> usb;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(usb),
                 [](const SerialPortInfo& p) { return p.nKind == PORT_USB; });
    return usb;
}

PortKind KindOfSerialCommDevice(const std::string& device)
{
    std::string name = Lower(device);
    const std::string prefix = "\\device\\";
    if (name.compare(0, prefix.size(), prefix) == 0)
        name.erase(0, prefix.size());
    if (name.size() > 6 && name.compare(0, 6, "serial") == 0 && std::all_of(name.begin() + 6, name.end(), IsDigit))
        return PORT_UART;
    if (name.compare(0, 8, "bthmodem") == 0)
        return PORT_OTHER;  // a Bluetooth link, not an adapter on a cable
    return name.empty() ? PORT_OTHER : PORT_USB;
}

void SortPorts(std::vector<SerialPortInfo>& ports)
{
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return NaturalLess(a.strName, b.strName); });
}
