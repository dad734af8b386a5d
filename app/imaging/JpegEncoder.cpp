#include "app/imaging/JpegEncoder.h"

#include <memory>

#include <turbojpeg.h>

namespace
{

struct TTjDeleter
{
    void operator()(void* handle) const { tjDestroy(handle); }
};

struct TTjBufferDeleter
{
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

} // namespace

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
    const bool grey = raster->Channels == 1;

    std::unique_ptr<void, TTjDeleter> handle(tjInitCompress());
    if (handle == nullptr)
        throw EPictureError(std::string("JPEG encoder: ") + tjGetErrorStr2(nullptr));
    unsigned char* output = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(handle.get(), raster->Pixels.data(), raster->Width, 0,
                                   raster->Height, grey ? TJPF_GRAY : TJPF_RGB, &output, &size,
                                   grey ? TJSAMP_GRAY : TJSAMP_420, quality, 0);
    std::unique_ptr<unsigned char, TTjBufferDeleter> buffer(output);
    if (result != 0 || buffer == nullptr)
        throw EPictureError(std::string("JPEG encoder: ") + tjGetErrorStr2(handle.get()));
    return std::string(reinterpret_cast<const char*>(buffer.get()), size);
}
