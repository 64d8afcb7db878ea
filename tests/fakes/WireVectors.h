// Frames as they go on the wire, byte for byte: the host's two requests, and
// the station's answer to the size request for a 1024-byte image.
#pragma once

#include <cstdint>
#include <vector>

inline const std::vector<std::uint8_t> kSizeRequestWire{0x7F, 0x80, 0x03, 0x01, 0x00, 0x10,
                                                        0x91, 0x8C, 0x00, 0x00, 0x7F};
inline const std::vector<std::uint8_t> kDataRequestWire{0x7F, 0x80, 0x03, 0x01, 0x02, 0x10,
                                                        0x21, 0xBF, 0x00, 0x00, 0x7F};
inline const std::vector<std::uint8_t> kSizeResponse1024Wire{0x7F, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00,
                                                             0x04, 0x00, 0xEE, 0x70, 0x00, 0x00, 0x7F};
