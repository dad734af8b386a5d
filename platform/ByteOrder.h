#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Fixed-size fields of file formats. The readers expect the caller to have checked that the
// bytes are there.

inline std::uint16_t ReadLe16(std::string_view bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                      static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

inline std::uint32_t ReadLe32(std::string_view bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 3])) << 24;
}

inline std::uint32_t ReadBe32(std::string_view bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + 3]));
}

// Overwrites the field at offset, which must lie within bytes.
inline void PutLe16(std::string& bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>(value >> 8);
}

inline void PutLe32(std::string& bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
    {
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

inline void AppendLe16(std::string& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>(value >> 8));
}

inline void AppendLe32(std::string& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
    {
        bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}
