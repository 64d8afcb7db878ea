// The machine's serial ports as --list-ports shows them and --port auto
// chooses among them. Finding them is per platform (Platform*.cpp); what they
// are called and which one auto takes is decided here, the same everywhere.
#pragma once

#include <string>
#include <vector>

enum PortKind { PORT_USB, PORT_UART, PORT_PTY, PORT_OTHER };

struct SerialPortInfo {
    std::string strName;  // what --port takes: /dev/ttyUSB0, COM3
    PortKind nKind = PORT_OTHER;
    std::string strProduct;  // USB: manufacturer and product, where the system knows them
    std::string strUsbId;    // USB: vendor:product ("0403:6001")
    std::string strSerial;   // USB: the adapter's serial number
    std::string strDetail;   // the driver or kernel device, a stable alias
};

// One line for --list-ports: the name, then what the port is.
std::string DescribePort(const SerialPortInfo& port);

// The USB adapters among ports, which are those --port auto may take.
std::vector<SerialPortInfo> UsbAdapters(const std::vector<SerialPortInfo>& ports);

// Windows: what a SERIALCOMM value name (the kernel device, "\Device\Serial0")
// says about its port. Serial<n> is the machine's own UART; the USB serial
// drivers name theirs after themselves (VCP0, USBSER000, Silabser0).
PortKind KindOfSerialCommDevice(const std::string& device);

// Sorted by name, numbers in names compared as numbers (ttyS2 before ttyS10).
void SortPorts(std::vector<SerialPortInfo>& ports);

#ifndef _WIN32
// The ports found in sysfs and /dev below root ("" is the machine itself;
// tests pass a tree of their own): ttys with a driver, ptys in /dev/pts and
// the USB adapters of /dev/serial/by-id.
std::vector<SerialPortInfo> FindSerialPorts(const std::string& root);
#endif
