// JPEG through libjpeg's classic interface: it tells the colour space, the Adobe marker and the
// EXIF block, which the TurboJPEG interface hides.
#include "app/imaging/JpegReader.h"

#include <vector>

#include "app/imaging/ColourManagement.h"
#include "app/imaging/JpegLib.h"
#include "app/imaging/PictureReader.h"

namespace
{

// Rows of CMYK (Adobe files store them inverted) to RGB.
void CmykRowToRgb(const JSAMPLE* in, unsigned char* out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3)
    {
        const unsigned k = inverted ? in[3] : 255u - in[3];
        for (int c = 0; c < 3; ++c)
        {
            const unsigned v = inverted ? in[c] : 255u - in[c];
            out[c] = static_cast<unsigned char>((v * k + 127) / 255);
        }
    }
}

// The setjmp functions below hold no C++ objects, so the jump from libjpeg destroys nothing.

bool StartOutput(TJpegDecoder* decoder)
{
    if (setjmp(decoder->Trap.Jump) != 0)
        return false;
    jpeg_start_decompress(&decoder->Info);
    return true;
}

// Decodes into pixels (rowBytes per row); CMYK goes through cmykRow, one row of 4 samples, and
// then through the file's CMYK profile when there is one, else the plain formula.
bool ReadPixels(TJpegDecoder* decoder, unsigned char* pixels, std::size_t rowBytes,
                JSAMPLE* cmykRow, const TCmykToSrgb* profile)
{
    if (setjmp(decoder->Trap.Jump) != 0)
        return false;
    j_decompress_ptr info = &decoder->Info;
    const bool inverted = info->saw_Adobe_marker != 0;
    while (info->output_scanline < info->output_height && !decoder->Trap.HitEnd)
    {
        unsigned char* row = pixels + info->output_scanline * rowBytes;
        JSAMPROW target = cmykRow != nullptr ? cmykRow : row;
        if (jpeg_read_scanlines(info, &target, 1) != 1)
            break;
        if (cmykRow != nullptr && profile != nullptr)
            profile->Convert(cmykRow, row, info->output_width);
        else if (cmykRow != nullptr)
            CmykRowToRgb(cmykRow, row, info->output_width, inverted);
    }
    return true;
}

void Start(TJpegDecoder& decoder, std::string_view bytes)
{
    if (!StartJpegDecoder(decoder, bytes))
        throw EPictureError(JpegFailure(decoder.Trap));
    if (decoder.Trap.HitEnd)
        throw EPictureError("truncated JPEG");
}

class TJpegReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "JPEG"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 3 && bytes.substr(0, 3) == "\xFF\xD8\xFF";
    }

    TRaster Read(std::string_view bytes) const override { return DecodeJpeg(bytes); }
};

} // namespace

TJpegHeader ReadJpegHeader(std::string_view bytes)
{
    TJpegDecoder decoder;
    Start(decoder, bytes);
    const jpeg_decompress_struct& info = decoder.Info;
    TJpegHeader header;
    header.StoredWidth = static_cast<int>(info.image_width);
    header.StoredHeight = static_cast<int>(info.image_height);
    CheckPictureSize(header.StoredWidth, header.StoredHeight);
    header.Components = info.num_components;
    header.Orientation = ExifOrientation(info);
    const bool turned = header.Orientation >= 5;
    header.Width = turned ? header.StoredHeight : header.StoredWidth;
    header.Height = turned ? header.StoredWidth : header.StoredHeight;
    return header;
}

TRaster DecodeJpeg(std::string_view bytes, int scaleEighths)
{
    TJpegDecoder decoder;
    Start(decoder, bytes);
    jpeg_decompress_struct& info = decoder.Info;
    // Checked before jpeg_start_decompress, which allocates whole-picture buffers for
    // progressive files.
    CheckPictureSize(info.image_width, info.image_height);
    if (scaleEighths >= 1 && scaleEighths < 8)
    {
        info.scale_num = static_cast<unsigned>(scaleEighths);
        info.scale_denom = 8;
    }

    std::vector<JSAMPLE> cmykRow;
    int channels = 3;
    switch (info.jpeg_color_space)
    {
    case JCS_GRAYSCALE:
        info.out_color_space = JCS_GRAYSCALE;
        channels = 1;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        info.out_color_space = JCS_CMYK;
        break;
    default:
        info.out_color_space = JCS_RGB;
        break;
    }
    // A file of several scans is read whole here: one that ended early is known now, before
    // its pixels are allocated.
    if (!StartOutput(&decoder) || decoder.Trap.HitEnd)
        throw EPictureError(JpegFailure(decoder.Trap));
    const std::string profile = IccProfile(info);
    std::unique_ptr<TCmykToSrgb> cmykProfile;
    if (info.out_color_space == JCS_CMYK)
    {
        cmykRow.resize(static_cast<std::size_t>(info.output_width) * 4);
        cmykProfile = TCmykToSrgb::Create(profile, {.Inverted = info.saw_Adobe_marker != 0});
    }
    TRaster raster = NewRaster(info.output_width, info.output_height, channels);
    if (!ReadPixels(&decoder, raster.Pixels.data(), raster.RowBytes(),
                    cmykRow.empty() ? nullptr : cmykRow.data(), cmykProfile.get()))
        throw EPictureError(JpegFailure(decoder.Trap));
    if (decoder.Trap.HitEnd)
        throw EPictureError("truncated JPEG");
    if (info.out_color_space != JCS_CMYK)
        ConvertToSrgb(raster, profile);
    ApplyOrientation(raster, ExifOrientation(info));
    return raster;
}

std::unique_ptr<IPictureReader> NewJpegReader()
{
    return std::make_unique<TJpegReader>();
}
