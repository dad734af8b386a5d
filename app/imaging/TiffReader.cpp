// TIFF through libtiff's RGBA interface: the first page, any photometric and compression it
// knows, with its messages kept for the failure reason instead of going to stderr.
#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <tiffio.h>

#include "app/imaging/ColourManagement.h"
#include "app/imaging/PictureReader.h"

namespace
{

struct TTiffSource
{
    const char* Data;
    std::uint64_t Size;
    std::uint64_t Position;
    std::string Errors;   // the last error message
    std::string Warnings; // all warnings, for a failure's reason
};

TTiffSource* SourceOf(thandle_t handle)
{
    return static_cast<TTiffSource*>(handle);
}

tmsize_t ReadTiff(thandle_t handle, void* buffer, tmsize_t size)
{
    TTiffSource* source = SourceOf(handle);
    if (size <= 0 || source->Position >= source->Size)
        return 0;
    const std::uint64_t n =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size), source->Size - source->Position);
    std::memcpy(buffer, source->Data + source->Position, n);
    source->Position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteTiff(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t SeekTiff(thandle_t handle, toff_t offset, int whence)
{
    TTiffSource* source = SourceOf(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = source->Position;
    else if (whence == SEEK_END)
        base = source->Size;
    // Offsets past the end are allowed, as for a file; reads there return nothing.
    source->Position = base + offset;
    return source->Position;
}

int CloseTiff(thandle_t)
{
    return 0;
}

toff_t SizeTiff(thandle_t handle)
{
    return SourceOf(handle)->Size;
}

int MapTiff(thandle_t, void**, toff_t*)
{
    return 0;
}

void UnmapTiff(thandle_t, void*, toff_t) {}

std::string Format(const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (module != nullptr && *module != '\0')
        return std::string(module) + ": " + text;
    return text;
}

int OnTiffError(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    static_cast<TTiffSource*>(user)->Errors = Format(module, format, args);
    return 1;
}

int OnTiffWarning(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    auto* source = static_cast<TTiffSource*>(user);
    if (source->Warnings.size() < 2000)
        source->Warnings += (source->Warnings.empty() ? "" : "; ") + Format(module, format, args);
    return 1;
}

// Messages that reach libtiff's process-wide handlers (none should, with the per-file ones set)
// are dropped rather than printed.
void SilenceGlobalHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

class TTiffOptions
{
public:
    TTiffOptions() : m_options(TIFFOpenOptionsAlloc()) {}
    ~TTiffOptions() { TIFFOpenOptionsFree(m_options); }
    TTiffOptions(const TTiffOptions&) = delete;
    TTiffOptions& operator=(const TTiffOptions&) = delete;
    TIFFOpenOptions* Get() const { return m_options; }

private:
    TIFFOpenOptions* m_options;
};

class TTiffFile
{
public:
    explicit TTiffFile(TIFF* tiff) : m_tiff(tiff) {}
    ~TTiffFile()
    {
        if (m_tiff != nullptr)
            TIFFClose(m_tiff);
    }
    TTiffFile(const TTiffFile&) = delete;
    TTiffFile& operator=(const TTiffFile&) = delete;
    TIFF* Get() const { return m_tiff; }

private:
    TIFF* m_tiff;
};

[[noreturn]] void Fail(const TTiffSource& source, const char* fallback)
{
    std::string reason = "bad TIFF: ";
    reason += source.Errors.empty() ? fallback : source.Errors;
    if (!source.Warnings.empty())
        reason += " (" + source.Warnings + ")";
    throw EPictureError(reason);
}

// The bytes of the strips (or tiles) that lie in the file bound the rows they can give, for the
// codings whose best ratio is known: none, PackBits (128 bytes from 2), LZW (4096 from a 9-bit
// code) and Deflate (258 from 2 bits). Checked before the picture is allocated: a file of a few
// kilobytes claiming 16000 x 16000 took 760 MB before libtiff found its data short.
bool StripsTooShort(TIFF* tiff, std::uint64_t fileBytes, std::uint32_t width, std::uint32_t height)
{
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    std::uint64_t mostPerByte = 0;
    switch (compression)
    {
    case COMPRESSION_NONE:
        mostPerByte = 1;
        break;
    case COMPRESSION_PACKBITS:
        mostPerByte = 64;
        break;
    case COMPRESSION_LZW:
        mostPerByte = 4096 * 8 / 9 + 1;
        break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        mostPerByte = 1032;
        break;
    default:
        return false;
    }
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    // YCbCr may store its colour subsampled: only the lumas are sure to be there in full.
    std::uint16_t photometric = 0;
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 1 &&
        photometric == PHOTOMETRIC_YCBCR)
        samplesPerPixel = 1;
    const std::uint64_t rowBytes = (std::uint64_t{width} * bitsPerSample * samplesPerPixel + 7) / 8;
    const std::uint32_t pieces =
        TIFFIsTiled(tiff) != 0 ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    std::uint64_t stored = 0;
    for (std::uint32_t i = 0; i < pieces; ++i)
    {
        const std::uint64_t offset = TIFFGetStrileOffset(tiff, i);
        if (offset < fileBytes)
            stored += std::min<std::uint64_t>(TIFFGetStrileByteCount(tiff, i), fileBytes - offset);
    }
    return (stored + 1) * mostPerByte < rowBytes * height;
}

// libtiff hands out colour with alpha premultiplied (and alpha 255 where there is none), except
// for grey with unassociated alpha, which it passes on straight.
bool AlphaComesStraight(TIFF* tiff)
{
    std::uint16_t photometric = 0;
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    return TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 1 &&
           (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
           TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 1 && count >= 1 &&
           kinds != nullptr && kinds[0] == EXTRASAMPLE_UNASSALPHA;
}

// Premultiplied colour goes onto white as colour + (255 - alpha); the straight-alpha blend of
// FlattenOntoWhite would darken every partly transparent pixel.
void FlattenPremultiplied(TRaster& raster)
{
    const std::size_t count =
        static_cast<std::size_t>(raster.Width) * static_cast<std::size_t>(raster.Height);
    std::uint8_t* p = raster.Pixels.data();
    for (std::size_t i = 0; i < count; ++i)
    {
        const unsigned clear = 255u - p[4 * i + 3];
        for (std::size_t c = 0; c < 3; ++c)
            p[3 * i + c] = static_cast<std::uint8_t>(std::min(255u, p[4 * i + c] + clear));
    }
    raster.Pixels.resize(count * 3);
    raster.Pixels.shrink_to_fit();
    raster.Channels = 3;
}

// The common plain kinds (8-bit grey or RGB, one plane, strips, no extra samples) read row by
// row as they are stored: a grey scan stays one byte a pixel instead of four, and no RGBA
// conversion runs. Nothing for any other kind, which the RGBA interface reads.
std::optional<TRaster> ReadPlainStrips(TIFF* tiff, const TTiffSource& source, std::uint32_t width,
                                       std::uint32_t height)
{
    std::uint16_t bits = 0;
    std::uint16_t samples = 0;
    std::uint16_t planar = 0;
    std::uint16_t photometric = 0;
    std::uint16_t extra = 0;
    std::uint16_t* extraKinds = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra, &extraKinds);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1 || TIFFIsTiled(tiff) ||
        bits != 8 || planar != PLANARCONFIG_CONTIG || extra != 0)
        return std::nullopt;
    const bool grey =
        (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
        samples == 1;
    if (!grey && !(photometric == PHOTOMETRIC_RGB && samples == 3))
        return std::nullopt;
    TRaster raster = NewRaster(width, height, samples);
    if (static_cast<std::size_t>(TIFFScanlineSize64(tiff)) != raster.RowBytes())
        return std::nullopt;
    for (std::uint32_t y = 0; y < height; ++y)
        if (TIFFReadScanline(tiff, raster.Row(static_cast<int>(y)), y, 0) != 1)
            Fail(source, "cannot read the pixels");
    if (photometric == PHOTOMETRIC_MINISWHITE)
        for (std::uint8_t& value : raster.Pixels)
            value = static_cast<std::uint8_t>(255 - value);
    return raster;
}

// The embedded ICC profile, empty without one.
std::string_view IccProfile(TIFF* tiff)
{
    std::uint32_t size = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &profile) != 1 || profile == nullptr)
        return {};
    return {static_cast<const char*>(profile), size};
}

// 16-bit CMYK without a profile, which libtiff's RGBA interface cannot read, by the plain
// formula it uses for 8 bits.
void PlainCmyk16(const std::uint8_t* in, std::uint8_t* rgb, std::size_t pixels,
                 std::size_t pixelBytes)
{
    for (std::size_t i = 0; i < pixels; ++i, in += pixelBytes, rgb += 3)
    {
        std::uint16_t ink[4];
        std::memcpy(ink, in, sizeof ink);
        const std::uint64_t paper = 65535u - ink[3];
        for (std::size_t c = 0; c < 3; ++c)
            rgb[c] = static_cast<std::uint8_t>(((65535u - ink[c]) * paper / 65535u + 128) / 257);
    }
}

// CMYK inks with a CMYK profile go through it, as JPEG's do, row by row as stored (strips or
// tiles, 8 or 16 bits a sample, one plane). Nothing for 8-bit CMYK without a usable profile
// and any other picture, which libtiff's RGBA interface reads (CMYK by the plain formula).
std::optional<TRaster> ReadCmyk(TIFF* tiff, const TTiffSource& source, std::uint32_t width,
                                std::uint32_t height)
{
    std::uint16_t photometric = 0;
    std::uint16_t inks = INKSET_CMYK;
    std::uint16_t bits = 0;
    std::uint16_t samples = 0;
    std::uint16_t planar = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1 ||
        photometric != PHOTOMETRIC_SEPARATED || inks != INKSET_CMYK || samples < 4 || samples > 8 ||
        (bits != 8 && bits != 16) || planar != PLANARCONFIG_CONTIG)
        return std::nullopt;
    const std::unique_ptr<TCmykToSrgb> profile = TCmykToSrgb::Create(
        IccProfile(tiff), {.BytesPerSample = bits / 8, .ExtraSamples = samples - 4});
    if (profile == nullptr && bits == 8)
        return std::nullopt;
    TRaster raster = NewRaster(width, height, 3);
    const std::size_t pixelBytes = std::size_t{samples} * (bits / 8);
    const std::size_t rowBytes = pixelBytes * width;
    // Whole rows of stored samples: one for strips, a row of tiles for tiles.
    std::uint32_t tileWidth = 0;
    std::uint32_t tileHeight = 1;
    const bool tiled = TIFFIsTiled(tiff) != 0;
    // Absurd tile sizes are left to the RGBA interface.
    constexpr std::uint32_t kMaxTileSide = 1 << 16;
    constexpr std::uint64_t kMaxTileBytes = 256 << 20;
    if (tiled && (TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth) != 1 ||
                  TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight) != 1 || tileWidth == 0 ||
                  tileHeight == 0 || tileWidth > kMaxTileSide || tileHeight > kMaxTileSide ||
                  TIFFTileSize64(tiff) > kMaxTileBytes ||
                  TIFFTileSize64(tiff) != std::uint64_t{pixelBytes} * tileWidth * tileHeight))
        return std::nullopt;
    if (!tiled && static_cast<std::size_t>(TIFFScanlineSize64(tiff)) != rowBytes)
        return std::nullopt;
    std::vector<std::uint8_t> band(rowBytes * std::min(tileHeight, height));
    std::vector<std::uint8_t> tile(tiled ? pixelBytes * tileWidth * tileHeight : 0);
    for (std::uint32_t top = 0; top < height; top += tileHeight)
    {
        const std::uint32_t rows = std::min(tileHeight, height - top);
        if (!tiled && TIFFReadScanline(tiff, band.data(), top, 0) != 1)
            Fail(source, "cannot read the pixels");
        for (std::uint32_t left = 0; tiled && left < width; left += tileWidth)
        {
            if (TIFFReadTile(tiff, tile.data(), left, top, 0, 0) < 0)
                Fail(source, "cannot read the pixels");
            const std::size_t columns = std::min(tileWidth, width - left);
            for (std::uint32_t y = 0; y < rows; ++y)
                std::memcpy(band.data() + y * rowBytes + left * pixelBytes,
                            tile.data() + std::size_t{y} * tileWidth * pixelBytes,
                            columns * pixelBytes);
        }
        const std::size_t pixels = std::size_t{rows} * width;
        if (profile != nullptr)
            profile->Convert(band.data(), raster.Row(static_cast<int>(top)), pixels);
        else
            PlainCmyk16(band.data(), raster.Row(static_cast<int>(top)), pixels, pixelBytes);
    }
    return raster;
}

// The embedded ICC profile's colours to sRGB. A profile on inks (CMYK read by the plain formula)
// describes none of the mixed colours: an RGB or grey profile there does not fit, and is ignored.
void ApplyProfile(TIFF* tiff, TRaster& raster)
{
    std::uint16_t photometric = 0;
    const std::string_view profile = IccProfile(tiff);
    if (!profile.empty() && TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 1 &&
        photometric != PHOTOMETRIC_SEPARATED)
        ConvertToSrgb(raster, profile);
}

class TTiffReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "TIFF"; }

    bool Recognises(std::string_view bytes) const override
    {
        if (bytes.size() < 4)
            return false;
        const std::string_view magic = bytes.substr(0, 4);
        // Classic and BigTIFF, both byte orders.
        return magic == std::string_view("II*\0", 4) || magic == std::string_view("MM\0*", 4) ||
               magic == std::string_view("II+\0", 4) || magic == std::string_view("MM\0+", 4);
    }

    TRaster Read(std::string_view bytes) const override
    {
        SilenceGlobalHandlers();
        TTiffSource source{bytes.data(), bytes.size(), 0, {}, {}};
        TTiffOptions options;
        if (options.Get() == nullptr)
            throw std::bad_alloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options.Get(), OnTiffError, &source);
        TIFFOpenOptionsSetWarningHandlerExtR(options.Get(), OnTiffWarning, &source);
        // Bounds libtiff's own buffers (strips, tiles); our pixels are allocated by us.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.Get(), 512 << 20);
        // "m": the data is read through our procedures, never mapped.
        TTiffFile tiff(TIFFClientOpenExt("picture", "rm", &source, ReadTiff, WriteTiff, SeekTiff,
                                         CloseTiff, SizeTiff, MapTiff, UnmapTiff, options.Get()));
        if (tiff.Get() == nullptr)
            Fail(source, "cannot open");

        std::uint32_t width = 0;
        std::uint32_t height = 0;
        if (TIFFGetField(tiff.Get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
            TIFFGetField(tiff.Get(), TIFFTAG_IMAGELENGTH, &height) != 1)
            Fail(source, "no picture size");
        CheckPictureSize(width, height);
        if (StripsTooShort(tiff.Get(), bytes.size(), width, height))
            throw EPictureError("truncated TIFF");
        std::uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(tiff.Get(), TIFFTAG_ORIENTATION, &orientation);

        if (std::optional<TRaster> plain = ReadPlainStrips(tiff.Get(), source, width, height))
        {
            ApplyProfile(tiff.Get(), *plain);
            ApplyOrientation(*plain, orientation);
            return std::move(*plain);
        }

        if (std::optional<TRaster> cmyk = ReadCmyk(tiff.Get(), source, width, height))
        {
            ApplyOrientation(*cmyk, orientation);
            return std::move(*cmyk);
        }

        char message[1024] = {};
        if (TIFFRGBAImageOK(tiff.Get(), message) != 1)
            throw EPictureError(std::string("unsupported TIFF: ") + message);

        TRaster raster = NewRaster(width, height, 4);
        // libtiff packs each pixel as A<<24 | B<<16 | G<<8 | R, which on a little-endian machine
        // is R, G, B, A in memory: our RGBA raster as it stands.
        auto* pixels = reinterpret_cast<std::uint32_t*>(raster.Pixels.data());
        if (TIFFReadRGBAImageOriented(tiff.Get(), width, height, pixels, ORIENTATION_TOPLEFT, 1) !=
            1)
            Fail(source, "cannot read the pixels");
        if constexpr (std::endian::native == std::endian::big)
        {
            for (std::size_t i = 0; i < raster.Pixels.size(); i += 4)
                std::reverse(raster.Pixels.begin() + static_cast<std::ptrdiff_t>(i),
                             raster.Pixels.begin() + static_cast<std::ptrdiff_t>(i + 4));
        }
        if (!AlphaComesStraight(tiff.Get()))
            FlattenPremultiplied(raster);
        ApplyProfile(tiff.Get(), raster);
        // libtiff reads 5..8 as if they were 1..4 (it mirrors, but never turns): undo that
        // mirroring, then turn the stored picture upright ourselves.
        if (orientation >= 5 && orientation <= 8)
        {
            ApplyOrientation(raster, orientation - 4);
            ApplyOrientation(raster, orientation);
        }
        return raster;
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewTiffReader()
{
    return std::make_unique<TTiffReader>();
}
