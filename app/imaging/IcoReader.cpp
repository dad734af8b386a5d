// ICO: the largest picture of the file (ties: the one with more colours). Entries are PNG or a
// BMP without its file header; we choose the entry ourselves, since the icon loader picks by
// its own rule, and hand only that one on.
#include "app/imaging/PictureReader.h"
#include "app/imaging/Pixbuf.h"
#include "platform/ByteOrder.h"

namespace
{

constexpr std::size_t kDirectoryEntryBytes = 16;

struct TIconEntry
{
    std::size_t DirectoryOffset = 0;
    std::string_view Data;
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    int Bits = 0; // bits per pixel, to rank entries of equal size
    bool Png = false;
};

bool DescribeEntry(std::string_view file, std::size_t directoryOffset, TIconEntry& entry)
{
    const std::uint32_t size = ReadLe32(file, directoryOffset + 8);
    const std::uint32_t offset = ReadLe32(file, directoryOffset + 12);
    if (offset >= file.size() || size > file.size() - offset || size < 16)
        return false;
    entry.DirectoryOffset = directoryOffset;
    entry.Data = file.substr(offset, size);
    if (entry.Data.substr(0, 8) == "\x89PNG\r\n\x1A\n")
    {
        if (entry.Data.size() < 26)
            return false;
        entry.Png = true;
        entry.Width = ReadBe32(entry.Data, 16);
        entry.Height = ReadBe32(entry.Data, 20);
        const int depth = static_cast<unsigned char>(entry.Data[24]);
        static constexpr int kSamples[] = {1, 0, 3, 1, 2, 0, 4};
        const int colourType = static_cast<unsigned char>(entry.Data[25]);
        entry.Bits = colourType <= 6 ? depth * kSamples[colourType] : depth;
        return true;
    }
    if (entry.Data.size() < 40 || ReadLe32(entry.Data, 0) < 40)
        return false;
    entry.Width = static_cast<std::int32_t>(ReadLe32(entry.Data, 4));
    // The height counts the colour rows and the transparency mask rows together.
    entry.Height = static_cast<std::int32_t>(ReadLe32(entry.Data, 8)) / 2;
    entry.Bits = ReadLe16(entry.Data, 14);
    return entry.Width > 0 && entry.Height > 0;
}

bool WithinLimits(const TIconEntry& entry)
{
    return PictureSizeFits(entry.Width, entry.Height);
}

// The larger picture wins (ties: more colours); one beyond the picture limits loses to any
// within them, so that a damaged entry does not spoil a usable icon. Sides are read as up to
// 32 bits: the area is only formed once both are known to be small.
bool Better(const TIconEntry& a, const TIconEntry& b)
{
    if (WithinLimits(a) != WithinLimits(b))
        return WithinLimits(a);
    if (!WithinLimits(a))
        return false;
    const std::int64_t areaA = a.Width * a.Height;
    const std::int64_t areaB = b.Width * b.Height;
    return areaA != areaB ? areaA > areaB : a.Bits > b.Bits;
}

class TIcoReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "ICO"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 6 && bytes.substr(0, 4) == std::string_view("\0\0\1\0", 4) &&
               ReadLe16(bytes, 4) > 0;
    }

    TRaster Read(std::string_view bytes) const override
    {
        const std::size_t count = ReadLe16(bytes, 4);
        if (bytes.size() < 6 + count * kDirectoryEntryBytes)
            throw EPictureError("truncated ICO");
        bool found = false;
        TIconEntry best;
        for (std::size_t i = 0; i < count; ++i)
        {
            TIconEntry entry;
            if (DescribeEntry(bytes, 6 + i * kDirectoryEntryBytes, entry) &&
                (!found || Better(entry, best)))
            {
                best = entry;
                found = true;
            }
        }
        if (!found)
            throw EPictureError("bad ICO: no usable picture");
        CheckPictureSize(best.Width, best.Height);
        if (best.Png)
            return NewPngReader()->Read(best.Data);

        // A one-entry icon of the chosen picture, for the icon loader.
        std::string single("\0\0\1\0\1\0", 6);
        single.append(bytes.substr(best.DirectoryOffset, 8));
        const auto size = static_cast<std::uint32_t>(best.Data.size());
        const std::uint32_t offset = 6 + kDirectoryEntryBytes;
        for (std::uint32_t value : {size, offset})
            for (int shift = 0; shift < 32; shift += 8)
                single.push_back(static_cast<char>((value >> shift) & 0xFF));
        single.append(best.Data);
        return DecodeWithPixbuf(single, "ico", "ICO");
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewIcoReader()
{
    return std::make_unique<TIcoReader>();
}
