#include "app/imaging/JpegEncoder.h"

#include <atomic>

#include "app/imaging/JpegLib.h"

namespace
{

std::atomic<bool> g_huffmanOptimised{true};

// The settings every JPEG we write shares, whichever path made its coefficients: the
// standard tables scaled to the quality, one grey component or Y at 2 x 2 with Cb and Cr at
// 1 x 1 (4:2:0), and Huffman tables fitted to the picture, which makes files some 10 %
// smaller for the cost of a second pass over the coefficients in memory.
void SetCommonParameters(jpeg_compress_struct& info, bool grey, int quality)
{
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    info.input_components = grey ? 1 : 3;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, grey ? JCS_GRAYSCALE : JCS_YCbCr);
    jpeg_set_quality(&info, quality, TRUE);
    info.optimize_coding = g_huffmanOptimised.load() ? TRUE : FALSE;
}

bool Compress(TJpegEncoder* encoder, const TRaster* raster, int quality)
{
    if (setjmp(encoder->Trap.Jump) != 0)
        return false;
    jpeg_compress_struct& info = encoder->Info;
    info.image_width = static_cast<JDIMENSION>(raster->Width);
    info.image_height = static_cast<JDIMENSION>(raster->Height);
    SetCommonParameters(info, raster->Channels == 1, quality);
    // The fast integer transform below quality 96 and the accurate one above, as TurboJPEG
    // chooses: at high qualities the fast one's error would show.
    info.dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_IFAST;
    jpeg_start_compress(&info, TRUE);
    const std::size_t rowBytes = raster->RowBytes();
    while (info.next_scanline < info.image_height)
    {
        // libjpeg takes rows as non-const pointers but only reads them.
        auto* row = const_cast<JSAMPLE*>(raster->Pixels.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

} // namespace

void SetJpegHuffmanOptimised(bool optimised)
{
    g_huffmanOptimised.store(optimised);
}

bool JpegHuffmanOptimised()
{
    return g_huffmanOptimised.load();
}

void SetJpegOutputParameters(jpeg_compress_struct& info, bool grey, int quality)
{
    SetCommonParameters(info, grey, quality);
}

std::string EncodeJpeg(const TRaster& source, int quality)
{
    const TRaster* raster = &source;
    TRaster converted;
    if (source.Channels == 4)
    {
        converted = source;
        FlattenOntoWhite(converted);
        ReduceToGreyIfNeutral(converted);
        raster = &converted;
    }
    else if (IsNeutralRgb(source))
    {
        // Only the grey plane is made, not a copy of the colour picture: large pictures
        // would otherwise be held twice.
        converted = NewRaster(source.Width, source.Height, 1);
        for (std::size_t i = 0; i < converted.Pixels.size(); ++i)
            converted.Pixels[i] = source.Pixels[i * 3];
        raster = &converted;
    }
    if (raster->Channels != 1 && raster->Channels != 3)
        throw EPictureError("cannot encode a picture of " + std::to_string(raster->Channels) +
                            " channels");
    CheckPictureSize(raster->Width, raster->Height);
    if (quality < 1 || quality > 100)
        throw EPictureError("JPEG encoder: quality " + std::to_string(quality) +
                            " is outside 1..100");

    std::string out;
    TJpegEncoder encoder;
    if (!StartJpegEncoder(encoder, out) || !Compress(&encoder, raster, quality))
        throw EPictureError("JPEG encoder: " + std::string(encoder.Trap.Message));
    return out;
}
