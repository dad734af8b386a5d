#include <algorithm>
#include <cstdint>

#include <spng.h>

#include "app/imaging/ColourManagement.h"
#include "app/imaging/PictureReader.h"
#include "platform/ByteOrder.h"

namespace
{

class TSpngContext
{
public:
    TSpngContext() : m_ctx(spng_ctx_new(0)) {}
    ~TSpngContext() { spng_ctx_free(m_ctx); }
    TSpngContext(const TSpngContext&) = delete;
    TSpngContext& operator=(const TSpngContext&) = delete;
    spng_ctx* Get() const { return m_ctx; }

private:
    spng_ctx* m_ctx;
};

[[noreturn]] void Fail(int error)
{
    if (error == SPNG_EOF || error == SPNG_IO_EOF || error == SPNG_EIDAT_TOO_SHORT)
        throw EPictureError("truncated PNG");
    throw EPictureError(std::string("bad PNG: ") + spng_strerror(error));
}

void Check(int error)
{
    if (error != 0)
        Fail(error);
}

// Deflate writes at most 1032 bytes for each byte it is given (a 258-byte match in two bits),
// so the image data chunks bound the rows they can hold. Checked before the picture is
// allocated: a few hundred bytes claiming 16000 x 16000 took 760 MB before they were found
// short.
bool ImageDataTooShort(std::string_view bytes, const spng_ihdr& header)
{
    constexpr std::uint64_t kDeflateMostPerByte = 1032;
    std::uint64_t compressed = 0;
    for (std::size_t at = 8; at + 12 <= bytes.size();)
    {
        const std::uint64_t length = ReadBe32(bytes, at);
        if (bytes.substr(at + 4, 4) == "IDAT")
            compressed += std::min<std::uint64_t>(length, bytes.size() - at - 8);
        at += static_cast<std::size_t>(std::min<std::uint64_t>(length + 12, bytes.size()));
    }
    std::uint64_t channels = 1;
    if (header.color_type == SPNG_COLOR_TYPE_TRUECOLOR)
        channels = 3;
    else if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA)
        channels = 2;
    else if (header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA)
        channels = 4;
    const std::uint64_t rowBytes =
        (static_cast<std::uint64_t>(header.width) * header.bit_depth * channels + 7) / 8;
    return (compressed + 1) * kDeflateMostPerByte < rowBytes * header.height;
}

// The picture's colours to sRGB: an embedded profile (iCCP) first; an sRGB chunk says there is
// nothing to do; otherwise gamma (gAMA) with the chromaticities (cHRM) when given.
void ApplyColourChunks(spng_ctx* ctx, TRaster& raster)
{
    spng_iccp iccp{};
    if (spng_get_iccp(ctx, &iccp) == 0 && iccp.profile != nullptr)
    {
        ConvertToSrgb(raster, std::string_view(iccp.profile, iccp.profile_len));
        return;
    }
    std::uint8_t intent = 0;
    std::uint32_t gamma = 0;
    if (spng_get_srgb(ctx, &intent) == 0 || spng_get_gama_int(ctx, &gamma) != 0)
        return;
    spng_chrm_int chrm{};
    const bool hasChrm = spng_get_chrm_int(ctx, &chrm) == 0;
    const std::uint32_t chromaticities[8] = {chrm.white_point_x, chrm.white_point_y, chrm.red_x,
                                             chrm.red_y,         chrm.green_x,       chrm.green_y,
                                             chrm.blue_x,        chrm.blue_y};
    ConvertToSrgb(raster, ProfileFromGamma(gamma, hasChrm ? chromaticities : nullptr));
}

class TPngReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "PNG"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 8 && bytes.substr(0, 8) == "\x89PNG\r\n\x1A\n";
    }

    TRaster Read(std::string_view bytes) const override
    {
        TSpngContext ctx;
        if (ctx.Get() == nullptr)
            throw std::bad_alloc();
        // Ancillary chunks (text, profiles) are not ours to keep; capping them keeps a hostile
        // file from making us hold gigabytes of metadata.
        Check(spng_set_chunk_limits(ctx.Get(), 16u << 20, 64u << 20));
        Check(spng_set_png_buffer(ctx.Get(), bytes.data(), bytes.size()));
        spng_ihdr header{};
        Check(spng_get_ihdr(ctx.Get(), &header));
        CheckPictureSize(header.width, header.height);
        if (ImageDataTooShort(bytes, header))
            throw EPictureError("truncated PNG");

        // RGBA8 takes every depth, palette and tRNS; 16-bit samples keep their high byte. A
        // picture that cannot be transparent decodes straight to RGB8 with the same colours,
        // with no alpha to fill in and flatten away afterwards.
        spng_trns trns{};
        const bool opaque = header.color_type != SPNG_COLOR_TYPE_GRAYSCALE_ALPHA &&
                            header.color_type != SPNG_COLOR_TYPE_TRUECOLOR_ALPHA &&
                            spng_get_trns(ctx.Get(), &trns) == SPNG_ECHUNKAVAIL;
        const int format = opaque ? SPNG_FMT_RGB8 : SPNG_FMT_RGBA8;
        std::size_t size = 0;
        Check(spng_decoded_image_size(ctx.Get(), format, &size));
        TRaster raster = NewRaster(header.width, header.height, opaque ? 3 : 4);
        if (size != raster.Pixels.size())
            throw EPictureError("bad PNG: unexpected decoded size");
        Check(spng_decode_image(ctx.Get(), raster.Pixels.data(), size, format,
                                opaque ? 0 : SPNG_DECODE_TRNS));
        ApplyColourChunks(ctx.Get(), raster);
        return raster;
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewPngReader()
{
    return std::make_unique<TPngReader>();
}
