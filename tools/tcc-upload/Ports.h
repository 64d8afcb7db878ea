// The machine's serial ports as --list-ports shows them and --port auto or
// usb:... chooses among them. Finding them is per platform (Platform*.cpp);
// what they are called and which one a choice takes is decided here, the same
// everywhere.
#pragma once

#include <string>
#include <vector>

#include "retrieval/RunFailure.h"

enum PortKind { PORT_USB, PORT_UART, PORT_PTY, PORT_OTHER };

struct SerialPortInfo {
    std::string strName;  // what --port takes: /dev/ttyUSB0, COM3
    PortKind nKind = PORT_OTHER;
    std::string strManufacturer;  // USB: where the system knows them
    std::string strProduct;
    std::string strVid;           // USB: four hex digits, "0403"
    std::string strPid;           // USB: "6001"
    std::string strSerial;        // USB: the adapter's serial number
    std::string strFriendlyName;  // Windows: "USB Serial Port (COM5)"
    std::string strDetail;        // the driver or kernel device
    std::string strById;          // Linux: the stable /dev/serial/by-id/ alias
};

// What the port is, without its name: Windows' friendly name, else the kind
// with the adapter's maker, product, ids and serial number.
std::string PortDescription(const SerialPortInfo& port);

// One line for --list-ports: the name, then what the port is.
std::string DescribePort(const SerialPortInfo& port);

// The ports --list-ports shows: ptys only when bAll.
std::vector<SerialPortInfo> ListedPorts(const std::vector<SerialPortInfo>& ports, bool bAll);

// --list-ports --json: an array of one object per port; bById adds the
// by_id key (Linux). Unknown facts are null.
std::string FormatPortsJson(const std::vector<SerialPortInfo>& ports, bool bById);

// The USB adapters among ports, which are those --port auto may take.
std::vector<SerialPortInfo> UsbAdapters(const std::vector<SerialPortInfo>& ports);

// What --port names: a port as given, auto (the one USB adapter),
// usb:SERIAL (the adapter with that serial number) or usb:VVVV:PPPP (the one
// adapter with those vendor and product ids). On no match nFailure is
// noAdapter, on several severalAdapters with them in candidates; a bare
// "usb:" is bUsage.
struct PortChoice {
    std::string strPort;
    RunFailure nFailure = RunFailure::none;
    bool bUsage = false;
    std::vector<SerialPortInfo> candidates;
};
PortChoice ChoosePort(const std::string& wanted, const std::vector<SerialPortInfo>& ports);

// BOOL: wanted is auto or usb:..., which ChoosePort resolves from the ports.
int NamesAnAdapter(const std::string& wanted);

// The lines (each "tcc-upload: ..." or an indented port) that say why wanted
// chose no port; empty when it chose one.
std::string PortChoiceMessage(const std::string& wanted, const PortChoice& choice);

// Windows: the USB facts in a device instance id. "USB\VID_0403&PID_6001\A1"
// gives 0403, 6001 and serial A1; an id Windows made up for a device without
// a serial number (it holds '&'), an interface of a composite device (MI_xx)
// and the FTDI bus's ids give the ids only. False when there are no ids.
bool ParseUsbInstanceId(const std::string& id, std::string* pVid, std::string* pPid, std::string* pSerial);

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
