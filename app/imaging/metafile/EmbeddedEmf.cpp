#include "app/imaging/metafile/EmbeddedEmf.h"

#include <cstddef>
#include <cstdint>

#include "platform/ByteOrder.h"

namespace
{

constexpr std::uint16_t kMetaEscape = 0x0626;
constexpr std::uint16_t kEnhancedMetafile = 0x000F;
constexpr std::uint32_t kWmfc = 0x43464D57; // "WMFC"
constexpr std::size_t kChunkHeader = 44;    // of the record, before the chunk's bytes

} // namespace

std::string EmbeddedEmf(std::string_view wmf)
{
    std::size_t at =
        wmf.size() >= 22 && ReadLe16(wmf, 0) == 0xCDD7 && ReadLe16(wmf, 2) == 0x9AC6 ? 22 : 0;
    if (wmf.size() < at + 18)
        return "";
    at += static_cast<std::size_t>(ReadLe16(wmf, at + 2)) * 2;
    std::string emf;
    std::uint32_t total = 0;
    std::uint32_t chunks = 0;
    std::uint32_t expectedChunks = 0;
    std::uint16_t checksum = 0;
    while (at + 6 <= wmf.size())
    {
        const std::uint32_t words = ReadLe32(wmf, at);
        const std::uint16_t function = ReadLe16(wmf, at + 4);
        if (words < 3 || function == 0 || words > (wmf.size() - at) / 2)
            break;
        const std::string_view record = wmf.substr(at, std::size_t{words} * 2);
        at += record.size();
        if (function != kMetaEscape || record.size() < kChunkHeader ||
            ReadLe16(record, 6) != kEnhancedMetafile || ReadLe32(record, 10) != kWmfc ||
            ReadLe32(record, 14) != 1 || ReadLe32(record, 18) != 0x00010000)
            continue;
        const std::uint32_t size = ReadLe32(record, 32);
        const std::uint32_t remaining = ReadLe32(record, 36);
        if (chunks == 0)
        {
            total = ReadLe32(record, 40);
            expectedChunks = ReadLe32(record, 28);
            checksum = ReadLe16(record, 22);
        }
        // Chunks in order, each saying how much follows it, inside its record.
        if (ReadLe32(record, 40) != total || size > record.size() - kChunkHeader ||
            std::uint64_t{emf.size()} + size + remaining != total)
            return "";
        emf.append(record.substr(kChunkHeader, size));
        ++chunks;
    }
    if (chunks == 0 || chunks != expectedChunks || emf.size() != total || emf.size() < 88 ||
        emf.size() % 2 != 0 || ReadLe32(emf, 0) != 1 || ReadLe32(emf, 40) != 0x464D4520)
        return "";
    // The checksum makes the XOR of the EMF's 16-bit words, added to it, zero.
    std::uint16_t words = 0;
    for (std::size_t i = 0; i < emf.size(); i += 2)
        words ^= ReadLe16(emf, i);
    if (static_cast<std::uint16_t>(words + checksum) != 0)
        return "";
    return emf;
}
