// Windows console program that the Wine test runs against a pty: opens a port
// through CSerialPortCtrl, exactly as the link engine does, sends the size
// request frame and waits (at most 10 s) until the reader thread has handed
// over the reply of a station that serves 1024 bytes. Prints what it sends
// and receives in hex.
//
// Usage: wine_serial_probe.exe [port]   (port defaults to COM1)
// Exit code 0: the reply arrived; 1: it did not; 2: the port did not open.
#include "platform/AppMessageBox.h"
#include "serial/SerialPortCtrl.h"
#include "tests/fakes/WireVectors.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Received {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::uint8_t> bytes;
};

void OnReceive(const std::uint8_t* pBytes, std::uint32_t count, void* pContext)
{
    auto* received = static_cast<Received*>(pContext);
    {
        std::lock_guard lock(received->mutex);
        received->bytes.insert(received->bytes.end(), pBytes, pBytes + count);
    }
    received->cv.notify_all();
}

std::string Hex(const std::uint8_t* p, std::size_t n)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", p[i]);
        text += byte;
    }
    return text;
}

}  // namespace

// A console program has no window to own a message box: the text goes to stdout.
int AppMessageBox(const char* pszText, unsigned int)
{
    std::printf("message box: %s\n", pszText);
    std::fflush(stdout);
    return IDOK;
}

int main(int argc, char** argv)
{
    const std::string port = argc > 1 ? argv[1] : "COM1";
    const std::vector<std::uint8_t>& expected = kSizeResponse1024Wire;
    Received received;
    auto* ctrl = new CSerialPortCtrl(OnReceive, port, &received);
    if (!ctrl->IsOpen()) {
        std::printf("probe: %s did not open\n", port.c_str());
        delete ctrl;
        return 2;
    }
    std::printf("probe: sent %s\n", Hex(kSizeRequestWire.data(), kSizeRequestWire.size()).c_str());
    std::fflush(stdout);
    ctrl->Write(kSizeRequestWire.data(), int(kSizeRequestWire.size()));

    bool ok = false;
    {
        std::unique_lock lock(received.mutex);
        ok = received.cv.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return received.bytes.size() >= expected.size(); });
        if (ok)
            ok =
                std::vector<std::uint8_t>(received.bytes.begin(), received.bytes.begin() + expected.size()) == expected;
        std::printf("probe: received %s\n", Hex(received.bytes.data(), received.bytes.size()).c_str());
    }
    delete ctrl;  // stops the reader thread: it must end although the line stays quiet
    std::printf("probe: %s\n", ok ? "reply as expected" : "no expected reply within 10 s");
    return ok ? 0 : 1;
}
