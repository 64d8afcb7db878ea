// The host's two requests as they go on the wire, byte for byte: what every
// test that watches the line compares with.
#pragma once

#include <cstdint>
#include <vector>

inline const std::vector<std::uint8_t> kSizeRequestWire{0x7F, 0x80, 0x03, 0x01, 0x00, 0x10,
                                                        0x91, 0x8C, 0x00, 0x00, 0x7F};
inline const std::vector<std::uint8_t> kDataRequestWire{0x7F, 0x80, 0x03, 0x01, 0x02, 0x10,
                                                        0x21, 0xBF, 0x00, 0x00, 0x7F};
