// The JPEG paths of the converter and the preview on a byte buffer: the header (with the EXIF
// orientation), the DCT-domain requantizer, whose output must be a JPEG of the upright size,
// the pixel path (colour spaces, profiles, orientation) and the preview's scaled decode. The
// last byte chooses the quality and the scale: libjpeg ignores what follows the picture, and
// mutations of it reach every quality. A reason (EPictureError, a refusal) is a fine outcome;
// anything the sanitizers or libFuzzer catch is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/imaging/JpegReader.h"
#include "app/imaging/JpegTranscoder.h"
#include "app/imaging/PictureReader.h"

namespace
{

// Claimed sizes cost time in every row and reach no other code: the fuzzer explores the
// headers, markers and scans of pictures of at most a megapixel.
constexpr std::int64_t kMaxPixels = 1000 * 1000;

// Sides after decoding at scale/8, as libjpeg rounds them.
int Scaled(int side, int eighths)
{
    return (side * eighths + 7) / 8;
}

void CheckRaster(const TRaster& raster, int width, int height)
{
    if (raster.Width != width || raster.Height != height ||
        raster.Pixels.size() != raster.RowBytes() * static_cast<std::size_t>(raster.Height))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (size < 3 || bytes.substr(0, 3) != "\xFF\xD8\xFF")
        return 0;
    const unsigned knob = data[size - 1];
    TJpegHeader header;
    try
    {
        header = ReadJpegHeader(bytes);
    }
    catch (const EPictureError&)
    {
        return 0;
    }
    if (static_cast<std::int64_t>(header.Width) * header.Height > kMaxPixels)
        return 0;

    const TRequantized requantized = RequantizeJpeg(bytes, 1 + static_cast<int>(knob % 100));
    if (!requantized.Jpeg.empty())
    {
        // Taken: it must decode, upright, at the picture's size.
        try
        {
            const TJpegHeader written = ReadJpegHeader(requantized.Jpeg);
            if (written.Orientation != 1)
                __builtin_trap();
            CheckRaster(DecodeJpeg(requantized.Jpeg), header.Width, header.Height);
        }
        catch (const EPictureError&)
        {
            __builtin_trap();
        }
    }
    else if (requantized.Refusal.empty())
        __builtin_trap(); // refused without a reason

    const bool turned = header.Orientation >= 5;
    const int eighths = 1 + static_cast<int>(knob % 7);
    try
    {
        CheckRaster(DecodeJpeg(bytes), header.Width, header.Height);
        const TRaster preview = DecodeJpeg(bytes, eighths);
        CheckRaster(preview, Scaled(turned ? header.StoredHeight : header.StoredWidth, eighths),
                    Scaled(turned ? header.StoredWidth : header.StoredHeight, eighths));
    }
    catch (const EPictureError&)
    {
    }
    return 0;
}
