// SHA-256 (FIPS 180-4) of the bytes a run writes, so that a saved image can be
// checked later with sha256sum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
public:
    CSha256();
    void Update(const std::uint8_t* pBytes, std::size_t count);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string FinishHex();

private:
    void Block(const std::uint8_t* pBlock);

    std::uint32_t m_adwState[8];
    std::uint8_t m_abBuffer[64];
    std::size_t m_nBuffered = 0;
    std::uint64_t m_qwBytes = 0;
};

// The digest of count bytes at once, as FinishHex gives it.
std::string Sha256Hex(const std::uint8_t* pBytes, std::size_t count);
