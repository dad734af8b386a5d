// BMP: the header is checked here, since the loader allocates by what it claims; 32-bit BI_RGB
// pictures are read here too, because their fourth bytes may hold alpha, which the loader
// ignores; every other kind goes to gdk-pixbuf's loader.
#include <cstdlib>

#include "app/imaging/PictureReader.h"
#include "app/imaging/Pixbuf.h"
#include "platform/ByteOrder.h"

namespace
{

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;     // OS/2 1.x
constexpr std::uint32_t kLargestHeaderBytes = 124; // BITMAPV5HEADER
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

struct TBmpHeader
{
    std::uint32_t HeaderSize = 0;
    std::uint32_t PixelOffset = 0;
    std::int64_t Width = 0;
    std::int64_t Height = 0; // positive; TopDown tells the row order
    bool TopDown = false;
    unsigned BitCount = 0;
    std::uint32_t Compression = kBiRgb;
};

TBmpHeader ReadHeader(std::string_view bytes)
{
    if (bytes.size() < kFileHeaderBytes + 4)
        throw EPictureError("truncated BMP");
    TBmpHeader header;
    header.PixelOffset = ReadLe32(bytes, 10);
    header.HeaderSize = ReadLe32(bytes, 14);
    // The loader buffers everything up to the pixels before reading them: an offset past the
    // end would have it ask for gigabytes for a file of a few bytes.
    if (header.PixelOffset > bytes.size())
        throw EPictureError("truncated BMP");
    if (header.HeaderSize != kCoreHeaderBytes &&
        (header.HeaderSize < 16 || header.HeaderSize > kLargestHeaderBytes))
        throw EPictureError("bad BMP: unknown header size " + std::to_string(header.HeaderSize));
    if (bytes.size() < kFileHeaderBytes + header.HeaderSize)
        throw EPictureError("truncated BMP");
    if (header.HeaderSize == kCoreHeaderBytes)
    {
        header.Width = ReadLe16(bytes, 18);
        header.Height = ReadLe16(bytes, 20);
        header.BitCount = ReadLe16(bytes, 24);
        return header;
    }
    header.Width = static_cast<std::int32_t>(ReadLe32(bytes, 18));
    const auto height = static_cast<std::int32_t>(ReadLe32(bytes, 22));
    // Negative heights mark top-down rows.
    header.TopDown = height < 0;
    header.Height = std::llabs(static_cast<std::int64_t>(height));
    header.BitCount = ReadLe16(bytes, 28);
    if (header.HeaderSize >= 40)
    {
        header.Compression = ReadLe32(bytes, 30);
        // The loader sizes its palette by this count before reading it: a count the file cannot
        // hold would have it ask for gigabytes.
        const std::uint64_t colours = ReadLe32(bytes, 46);
        if (colours * 4 > bytes.size() - kFileHeaderBytes - header.HeaderSize)
            throw EPictureError("bad BMP: palette larger than the file");
    }
    return header;
}

// 32-bit BI_RGB, as browsers read it: the fourth bytes are alpha unless they are all zero, which
// means opaque (most writers leave them zero).
TRaster ReadBgra32(std::string_view bytes, const TBmpHeader& header)
{
    const auto stride = static_cast<std::size_t>(header.Width) * 4;
    if (header.PixelOffset > bytes.size() ||
        stride * static_cast<std::size_t>(header.Height) > bytes.size() - header.PixelOffset)
        throw EPictureError("truncated BMP");
    TRaster raster = NewRaster(header.Width, header.Height, 4);
    bool hasAlpha = false;
    for (int y = 0; y < raster.Height; ++y)
    {
        const int stored = header.TopDown ? y : raster.Height - 1 - y;
        const char* in =
            bytes.data() + header.PixelOffset + static_cast<std::size_t>(stored) * stride;
        std::uint8_t* out = raster.Row(y);
        for (int x = 0; x < raster.Width; ++x, in += 4, out += 4)
        {
            out[0] = static_cast<std::uint8_t>(in[2]);
            out[1] = static_cast<std::uint8_t>(in[1]);
            out[2] = static_cast<std::uint8_t>(in[0]);
            out[3] = static_cast<std::uint8_t>(in[3]);
            hasAlpha = hasAlpha || out[3] != 0;
        }
    }
    if (!hasAlpha)
    {
        for (std::size_t i = 3; i < raster.Pixels.size(); i += 4)
            raster.Pixels[i] = 255;
    }
    return raster;
}

// Uncompressed rows take a fixed size, so a file too short for them is cut short. The loader
// would pad the missing rows and call it a picture: a 102-byte file claiming 16000 x 16000 became
// a grey page. The last row may lack its padding; some writers leave it out.
void CheckUncompressedRows(std::string_view bytes, const TBmpHeader& header)
{
    const bool uncompressed = header.Compression == kBiRgb || header.Compression == kBiBitfields ||
                              header.Compression == kBiAlphaBitfields;
    if (!uncompressed || header.BitCount == 0 || header.BitCount > 32 || header.Height == 0)
        return;
    const auto bits = static_cast<std::uint64_t>(header.Width) * header.BitCount;
    const std::uint64_t stride = (bits + 31) / 32 * 4;
    const std::uint64_t needed =
        stride * static_cast<std::uint64_t>(header.Height - 1) + (bits + 7) / 8;
    if (needed > bytes.size() - header.PixelOffset)
        throw EPictureError("truncated BMP");
}

class TBmpReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "BMP"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 2 && bytes.substr(0, 2) == "BM";
    }

    TRaster Read(std::string_view bytes) const override
    {
        const TBmpHeader header = ReadHeader(bytes);
        CheckPictureSize(header.Width, header.Height);
        if (header.HeaderSize >= 40 && header.BitCount == 32 && header.Compression == kBiRgb)
            return ReadBgra32(bytes, header);
        CheckUncompressedRows(bytes, header);
        return DecodeWithPixbuf(bytes, "bmp", "BMP");
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewBmpReader()
{
    return std::make_unique<TBmpReader>();
}
