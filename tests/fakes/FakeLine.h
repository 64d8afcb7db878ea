// The serial controller's double for the link engine and the map uploader,
// and what the station sends on it.
//
// FakeLine replaces CSerialPortCtrl: the controller the link creates is an
// in-memory line. Bytes "from the station" are fed with FakeLine::Receive on
// the calling thread, which then plays the serial reader thread (so only one
// thread may feed at a time, and never after the link is gone); bytes the
// link writes are recorded and can be waited for.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/LineErrors.h"
#include "serial/PortFault.h"

namespace FakeLine {
// Forget everything; the next controller opens, or fails with fault (and
// names group for a refused port).
void Reset(bool bOpens, PortFault fault = PortFault::notFound, const std::string& group = std::string());
void Receive(const std::vector<std::uint8_t>& bytes);
// Plays the reader thread ending because the line went away, on this thread.
void LoseLine();
// What the open line's driver has counted so far (parity, framing, overrun).
void SetLineErrors(const LineErrorCounts& counts);
std::vector<std::uint8_t> Written();
// Blocks until at least count bytes have been written; false after 5 s.
bool WaitWritten(std::size_t count);
int Constructed();  // controllers constructed since Reset
int Alive();        // controllers not yet destroyed
std::string LastPortName();
}  // namespace FakeLine

// Wire bytes of a frame as the station sends it (address 0x01).
std::vector<std::uint8_t> StationFrame(const std::vector<std::uint8_t>& message);
std::vector<std::uint8_t> SizeResponse(std::uint32_t dwSize);
std::vector<std::uint8_t> DataChunk(std::uint8_t bFlag, std::uint32_t n, const std::vector<std::uint8_t>& data);
// Image bytes used by the tests: a fixed pattern so a misplaced chunk shows.
std::vector<std::uint8_t> TestImage(std::size_t size);

// Polls pred until it holds; false after 5 s. A guard against hangs only.
bool WaitUntil(const std::function<bool()>& pred);
