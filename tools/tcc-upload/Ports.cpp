#include "tools/tcc-upload/Ports.h"

#include <algorithm>
#include <cctype>

#include "tools/tcc-upload/Report.h"

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

// "a, b, c" of the texts that are not empty.
std::string JoinFacts(const std::vector<std::string>& facts)
{
    std::string text;
    for (const std::string& fact : facts)
        if (!fact.empty())
            text += (text.empty() ? "" : ", ") + fact;
    return text;
}

bool IsHexId(const std::string& s)
{
    return s.size() == 4 &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The adapters that what follows "usb:" names: by ids when it is VVVV:PPPP,
// else by serial number. Windows keeps instance ids in capitals, so case
// does not count.
std::vector<SerialPortInfo> MatchAdapters(const std::string& what, const std::vector<SerialPortInfo>& ports)
{
    const std::size_t colon = what.find(':');
    const bool bIds = colon == 4 && what.size() == 9 && IsHexId(what.substr(0, 4)) && IsHexId(what.substr(5));
    std::vector<SerialPortInfo> matches;
    for (const SerialPortInfo& port : UsbAdapters(ports)) {
        const bool bMatch =
            bIds ? Lower(port.strVid) == Lower(what.substr(0, 4)) && Lower(port.strPid) == Lower(what.substr(5))
                 : !port.strSerial.empty() && Lower(port.strSerial) == Lower(what);
        if (bMatch)
            matches.push_back(port);
    }
    return matches;
}

const char kAuto[] = "auto";
const char kUsbPrefix[] = "usb:";

}  // namespace

std::string PortDescription(const SerialPortInfo& port)
{
    const std::string ids = port.strVid.empty() ? "" : port.strVid + ":" + port.strPid;
    const std::string serial = port.strSerial.empty() ? "" : "serial " + port.strSerial;
    if (!port.strFriendlyName.empty()) {
        const std::string facts = JoinFacts({ids, serial});
        return port.strFriendlyName + (facts.empty() ? "" : ": " + facts);
    }
    switch (port.nKind) {
    case PORT_USB: {
        std::string product = port.strManufacturer;
        if (!port.strProduct.empty())
            product += (product.empty() ? "" : " ") + port.strProduct;
        const std::string facts = JoinFacts({product, ids, serial});
        return "USB adapter" + (facts.empty() ? "" : ": " + facts);
    }
    case PORT_UART: return "built-in UART";
    case PORT_PTY: return "pty";
    case PORT_OTHER: break;
    }
    return "serial port";
}

std::string DescribePort(const SerialPortInfo& port)
{
    // Windows' friendly name already says what the kernel device would.
    const std::string detail = JoinFacts({port.strFriendlyName.empty() ? port.strDetail : "", port.strById});
    return port.strName + "  " + PortDescription(port) + (detail.empty() ? "" : " (" + detail + ")");
}

std::vector<SerialPortInfo> ListedPorts(const std::vector<SerialPortInfo>& ports, bool bAll)
{
    std::vector<SerialPortInfo> listed;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(listed),
                 [bAll](const SerialPortInfo& p) { return bAll || p.nKind != PORT_PTY; });
    return listed;
}

std::string FormatPortsJson(const std::vector<SerialPortInfo>& ports, bool bById)
{
    static const char* const kKinds[] = {"usb", "uart", "pty", "other"};
    const auto text = [](const std::string& s) { return s.empty() ? std::string("null") : JsonQuote(s); };
    std::string json = "[";
    for (const SerialPortInfo& port : ports) {
        json += std::string(json.size() > 1 ? "," : "") + "\n  {\"port\": " + JsonQuote(port.strName) +
                ", \"kind\": \"" + kKinds[port.nKind] + "\", \"description\": " + JsonQuote(PortDescription(port)) +
                ", \"vid\": " + text(port.strVid) + ", \"pid\": " + text(port.strPid) +
                ", \"serial\": " + text(port.strSerial) + ", \"manufacturer\": " + text(port.strManufacturer) +
                ", \"product\": " + text(port.strProduct);
        if (bById)
            json += ", \"by_id\": " + text(port.strById);
        json += "}";
    }
    return json + (ports.empty() ? "]" : "\n]");
}

std::vector<SerialPortInfo> UsbAdapters(const std::vector<SerialPortInfo>& ports)
{
    std::vector<SerialPortInfo> usb;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(usb),
                 [](const SerialPortInfo& p) { return p.nKind == PORT_USB; });
    return usb;
}

int NamesAnAdapter(const std::string& wanted) { return wanted == kAuto || wanted.compare(0, 4, kUsbPrefix) == 0; }

PortChoice ChoosePort(const std::string& wanted, const std::vector<SerialPortInfo>& ports)
{
    PortChoice choice;
    if (!NamesAnAdapter(wanted)) {
        choice.strPort = wanted;
        return choice;
    }
    if (wanted == kUsbPrefix) {
        choice.bUsage = true;
        return choice;
    }
    choice.candidates = wanted == kAuto ? UsbAdapters(ports) : MatchAdapters(wanted.substr(4), ports);
    if (choice.candidates.size() == 1)
        choice.strPort = choice.candidates[0].strName;
    else
        choice.nFailure = choice.candidates.empty() ? RunFailure::noAdapter : RunFailure::severalAdapters;
    return choice;
}

std::string PortChoiceMessage(const std::string& wanted, const PortChoice& choice)
{
    if (choice.bUsage)
        return "tcc-upload: --port usb: needs a serial number or VVVV:PPPP (vendor and product ids)\n";
    if (choice.nFailure == RunFailure::none)
        return "";
    const std::string what = wanted == kAuto ? "--port auto needs exactly one USB serial adapter"
                                             : "--port " + wanted + " needs exactly one matching USB serial adapter";
    const std::size_t n = choice.candidates.size();
    std::string text =
        "tcc-upload: " + what + ", and " + (n == 0 ? "there is none" : std::to_string(n) + " are present:") + "\n";
    for (const SerialPortInfo& port : choice.candidates)
        text += "  " + DescribePort(port) + "\n";
    return text;
}

// After the enumerator: VID_vvvv, PID_pppp and maybe MI_nn, joined by '&'
// (USB) or '+' with the serial number in the third field (FTDIBUS); then
// the instance, which is the serial number unless Windows made one up.
bool ParseUsbInstanceId(const std::string& id, std::string* pVid, std::string* pPid, std::string* pSerial)
{
    pVid->clear();
    pPid->clear();
    pSerial->clear();
    const std::size_t first = id.find('\\');
    const std::size_t second = first == std::string::npos ? first : id.find('\\', first + 1);
    if (second == std::string::npos)
        return false;
    const std::string enumerator = Lower(id.substr(0, first));
    std::string hardware = Lower(id.substr(first + 1, second - first - 1));
    std::replace(hardware.begin(), hardware.end(), '+', '&');
    bool bInterface = false;
    for (std::size_t at = 0; at <= hardware.size();) {
        std::size_t end = hardware.find('&', at);
        end = end == std::string::npos ? hardware.size() : end;
        const std::string field = hardware.substr(at, end - at);
        if (field.compare(0, 4, "vid_") == 0 && IsHexId(field.substr(4)))
            *pVid = field.substr(4);
        else if (field.compare(0, 4, "pid_") == 0 && IsHexId(field.substr(4)))
            *pPid = field.substr(4);
        else if (field.compare(0, 3, "mi_") == 0)
            bInterface = true;
        at = end + 1;
    }
    if (pVid->empty() || pPid->empty()) {
        pVid->clear();
        pPid->clear();
        return false;
    }
    const std::string instance = id.substr(second + 1);
    if (enumerator == "usb" && !bInterface && !instance.empty() && instance.find('&') == std::string::npos &&
        instance.find('\\') == std::string::npos)
        *pSerial = instance;
    return true;
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
