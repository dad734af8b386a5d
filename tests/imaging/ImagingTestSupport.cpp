#include "tests/imaging/ImagingTestSupport.h"

#include <cstdlib>
#include <memory>

#include <tiffio.h>
#include <turbojpeg.h>

#include "app/imaging/PictureReader.h"

::testing::AssertionResult PixelNear(const TRaster& raster, int x, int y, TRgb rgb, int tolerance)
{
    if (x < 0 || y < 0 || x >= raster.Width || y >= raster.Height)
        return ::testing::AssertionFailure()
               << "(" << x << "," << y << ") outside " << raster.Width << " x " << raster.Height;
    const std::uint8_t* p =
        raster.Row(y) + static_cast<std::size_t>(x) * static_cast<std::size_t>(raster.Channels);
    const TRgb actual = raster.Channels == 1 ? TRgb{p[0], p[0], p[0]} : TRgb{p[0], p[1], p[2]};
    for (int c = 0; c < 3; ++c)
        if (std::abs(actual[static_cast<std::size_t>(c)] - rgb[static_cast<std::size_t>(c)]) >
            tolerance)
            return ::testing::AssertionFailure()
                   << "pixel (" << x << "," << y << ") is (" << actual[0] << "," << actual[1] << ","
                   << actual[2] << "), expected (" << rgb[0] << "," << rgb[1] << "," << rgb[2]
                   << ") +-" << tolerance;
    return ::testing::AssertionSuccess();
}

std::string Inked(const TRaster& raster, int y, int from, int to)
{
    std::string marks;
    for (int x = from; x < to; ++x)
        marks += PixelNear(raster, x, y, kWhite, 64) ? '.' : '#';
    return marks;
}

int InkedRows(const TRaster& raster, int x, int y)
{
    int rows = 0;
    for (int row = y - 6; row <= y + 6; ++row)
        rows += Inked(raster, row, x, x + 1) == "#" ? 1 : 0;
    return rows;
}

std::string DashesOf(std::initializer_list<int> lengths, int count)
{
    std::string marks;
    for (bool dash = true; marks.size() < static_cast<std::size_t>(count);)
        for (int length : lengths)
        {
            marks.append(static_cast<std::size_t>(length), dash ? '#' : '.');
            dash = !dash;
        }
    return marks.substr(0, static_cast<std::size_t>(count));
}

namespace
{
struct TTjDeleter
{
    void operator()(void* handle) const { tjDestroy(handle); }
};
} // namespace

TJpegFacts InspectJpeg(const std::string& bytes)
{
    TJpegFacts facts;
    facts.StartsWithSoi = bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xD8") == 0;
    facts.EndsWithEoi = bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") == 0;
    std::unique_ptr<void, TTjDeleter> handle(tjInitDecompress());
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                            bytes.size(), &width, &height, &subsampling, &colourspace) != 0)
        return facts;
    facts.Ok = true;
    facts.Width = width;
    facts.Height = height;
    facts.Subsampling = subsampling;
    facts.Components = colourspace == TJCS_GRAY ? 1 : 3;
    return facts;
}

TRaster DecodeJpegForTest(const std::string& bytes)
{
    const TJpegFacts facts = InspectJpeg(bytes);
    if (!facts.Ok)
        return {};
    TRaster raster = NewRaster(facts.Width, facts.Height, 3);
    std::unique_ptr<void, TTjDeleter> handle(tjInitDecompress());
    if (tjDecompress2(handle.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                      bytes.size(), raster.Pixels.data(), facts.Width, 0, facts.Height, TJPF_RGB,
                      0) != 0)
        return {};
    return raster;
}

void WriteTiff(const std::string& path, const TRaster& raster, int orientation, int alphaKind,
               const std::string& icc)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(raster.Width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(raster.Height));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(raster.Channels));
    if (raster.Channels == 2 || raster.Channels == 4)
    {
        const std::uint16_t extra = static_cast<std::uint16_t>(alphaKind);
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 raster.Channels <= 2 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(orientation));
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(raster.Height));
    if (!icc.empty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(icc.size()), icc.data());
    TRaster rows = raster; // libtiff takes writable rows
    for (int y = 0; y < raster.Height; ++y)
        ASSERT_EQ(TIFFWriteScanline(tiff, rows.Row(y), static_cast<std::uint32_t>(y), 0), 1);
    TIFFClose(tiff);
}

TRaster SolidRaster(int width, int height, TRgb rgb)
{
    TRaster raster = NewRaster(width, height, 3);
    for (std::size_t i = 0; i < raster.Pixels.size(); ++i)
        raster.Pixels[i] = static_cast<std::uint8_t>(rgb[i % 3]);
    return raster;
}

TRaster QuadrantRaster(int width, int height)
{
    TRaster raster = NewRaster(width, height, 3);
    for (int y = 0; y < height; ++y)
    {
        for (int x = 0; x < width; ++x)
        {
            const TRgb rgb = y < height / 2 ? (x < width / 2 ? kRed : kGreen)
                                            : (x < width / 2 ? kBlue : kYellow);
            std::uint8_t* p = raster.Row(y) + static_cast<std::size_t>(x) * 3;
            for (std::size_t c = 0; c < 3; ++c)
                p[c] = static_cast<std::uint8_t>(rgb[c]);
        }
    }
    return raster;
}

std::string ReasonFor(const std::string& bytes)
{
    try
    {
        DecodePicture(bytes);
        return "decoded";
    }
    catch (const EPictureError& e)
    {
        return e.what();
    }
}
