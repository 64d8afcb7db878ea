// The station's wire frames: 7F, address, control, the escaped body, 7F,
// where the body is the message, its FCS (complemented, low byte first) and
// the trailer 00 00. The simulator sends these; the tests build the station's
// side of a line with the same encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The body of a frame that carries the message: message + FCS + 00 00.
std::vector<std::uint8_t> StationBody(const std::uint8_t* pMsg, std::size_t n);

// A frame around a body as given, so that a body with a wrong FCS or trailer
// can be sent too. Any address and control byte may be asked for.
std::vector<std::uint8_t> EncodeStationBody(const std::uint8_t* pBody, std::size_t n, std::uint8_t bAddress = 0x01,
                                            std::uint8_t bControl = 0x03);

// The frame that carries the message.
std::vector<std::uint8_t> EncodeStationFrame(const std::uint8_t* pMsg, std::size_t n, std::uint8_t bAddress = 0x01,
                                             std::uint8_t bControl = 0x03);

// A reply message's first kMsgHeaderLength bytes: 01, type, flag, number.
std::vector<std::uint8_t> StationReplyHeader(std::uint8_t bType, std::uint8_t bFlag, std::uint32_t dwNumber);
