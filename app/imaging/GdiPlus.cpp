#include "app/imaging/GdiPlus.h"

#include <cmath>
#include <new>
#include <typeinfo>

#include "app/imaging/CairoRaster.h"
#include "app/imaging/JpegEncoder.h"
#include "app/imaging/JpegReader.h"
#include "app/imaging/JpegTranscoder.h"
#include "app/imaging/PictureReader.h"
#include "platform/Stream.h"

namespace
{

// GDI+'s own default when no quality is given.
constexpr int kDefaultQuality = 75;

std::vector<TImageCodecInfo>& EncoderList()
{
    static std::vector<TImageCodecInfo> list{
        {kJpegEncoderClsid, "image/jpeg", EncodeJpegWithParameters, RequantizeJpegWithParameters},
    };
    return list;
}

int StatusOf(const EPictureError& e)
{
    switch (e.Fault())
    {
    case fkFileNotFound:
        return gsFileNotFound;
    case fkCannotRead:
        return gsWin32Error;
    case fkUnknownFormat:
        return gsUnknownImageFormat;
    case fkTooLarge:
        return gsValueOverflow;
    case fkBadData:
        break;
    }
    return gsGenericError;
}

// Scales the whole of source into the rectangle of target with cairo's good filter; edges are
// padded rather than faded, so the drawn picture stays opaque to its border.
void DrawScaled(TRaster& target, const TRaster& source, double x, double y, double width,
                double height)
{
    TCairoSurface targetSurface = RasterToSurface(target);
    TCairoSurface sourceSurface = RasterToSurface(source);
    TCairo cr(cairo_create(targetSurface.get()));
    cairo_rectangle(cr.get(), x, y, width, height);
    cairo_clip(cr.get());
    cairo_translate(cr.get(), x, y);
    cairo_scale(cr.get(), width / source.Width, height / source.Height);
    cairo_set_source_surface(cr.get(), sourceSurface.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr.get()), CAIRO_EXTEND_PAD);
    cairo_paint(cr.get());
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
        throw EPictureError(std::string("cannot draw: ") +
                            cairo_status_to_string(cairo_status(cr.get())));
    cr.reset();

    const int channels = target.Channels;
    TRaster drawn = SurfaceToRaster(targetSurface.get());
    FlattenOntoWhite(drawn);
    if (channels == 1)
    {
        for (std::size_t i = 0, n = drawn.Pixels.size() / 3; i < n; ++i)
            target.Pixels[i] = static_cast<std::uint8_t>((drawn.Pixels[i * 3] * 299 +
                                                          drawn.Pixels[i * 3 + 1] * 587 +
                                                          drawn.Pixels[i * 3 + 2] * 114 + 500) /
                                                         1000);
    }
    else
    {
        target = std::move(drawn);
    }
}

int QualityOf(const EncoderParameters* parameters)
{
    int quality = kDefaultQuality;
    if (parameters != nullptr)
    {
        for (std::uint32_t i = 0; i < parameters->Count && i < 1; ++i)
        {
            const EncoderParameter& parameter = parameters->Parameter[i];
            if (!(parameter.Guid == EncoderQuality))
                continue;
            if (parameter.Type != EncoderParameterValueTypeLong || parameter.NumberOfValues != 1 ||
                parameter.Value == nullptr)
                throw EPictureError("bad encoder parameter: quality");
            quality = *static_cast<const std::int32_t*>(parameter.Value);
        }
    }
    return quality;
}

// The smallest scale, in eighths, at which a stored width x height picture still covers a
// thumbnail of the given upright size; 8 when nothing smaller does.
int ThumbnailScale(const TJpegHeader& header, std::uint32_t width, std::uint32_t height)
{
    const bool turned = header.Orientation >= 5;
    const std::uint64_t needX = turned ? height : width;
    const std::uint64_t needY = turned ? width : height;
    for (unsigned eighths = 1; eighths < 8; ++eighths)
    {
        const std::uint64_t x = (static_cast<std::uint64_t>(header.StoredWidth) * eighths + 7) / 8;
        const std::uint64_t y = (static_cast<std::uint64_t>(header.StoredHeight) * eighths + 7) / 8;
        if (x >= needX && y >= needY)
            return static_cast<int>(eighths);
    }
    return 8;
}

} // namespace

const std::vector<TImageCodecInfo>& ImageEncoders()
{
    return EncoderList();
}

std::vector<TImageCodecInfo> SetImageEncoders(std::vector<TImageCodecInfo> encoders)
{
    std::vector<TImageCodecInfo> previous = std::move(EncoderList());
    EncoderList() = std::move(encoders);
    return previous;
}

int FindEncoderClsid(const std::string& mimeType, CLSID& clsid)
{
    int result = -1;
    const std::vector<TImageCodecInfo>& encoders = ImageEncoders();
    // No early exit: with several matches the last one wins.
    for (std::size_t i = 0; i < encoders.size(); ++i)
    {
        if (encoders[i].MimeType == mimeType)
        {
            clsid = encoders[i].Clsid;
            result = static_cast<int>(i);
        }
    }
    return result;
}

std::string EncodeJpegWithParameters(const TRaster& raster, const EncoderParameters* parameters)
{
    return EncodeJpeg(raster, QualityOf(parameters));
}

std::string RequantizeJpegWithParameters(std::string_view jpeg, const EncoderParameters* parameters)
{
    if (!JpegRequantizing())
        return "";
    return RequantizeJpeg(jpeg, QualityOf(parameters)).Jpeg;
}

TGPImage::TGPImage(const std::string& fileName)
{
    try
    {
        std::string bytes = ReadPictureFile(fileName);
        const IPictureReader* reader = FindPictureReader(bytes);
        if (reader != nullptr && std::string_view(reader->FormatName()) == "JPEG")
        {
            const TJpegHeader header = ReadJpegHeader(bytes);
            m_width = static_cast<std::uint32_t>(header.Width);
            m_height = static_cast<std::uint32_t>(header.Height);
            m_jpeg = std::move(bytes);
            return;
        }
        m_raster = std::make_unique<TRaster>(DecodePicture(bytes));
        m_width = static_cast<std::uint32_t>(m_raster->Width);
        m_height = static_cast<std::uint32_t>(m_raster->Height);
    }
    catch (const EPictureError& e)
    {
        Fail(StatusOf(e), e.what());
    }
    catch (const std::bad_alloc&)
    {
        Fail(gsOutOfMemory, "out of memory");
    }
    catch (const std::exception& e)
    {
        Fail(gsGenericError, e.what());
    }
}

TGPImage::TGPImage(TRaster raster)
    : m_raster(std::make_unique<TRaster>(std::move(raster))),
      m_width(static_cast<std::uint32_t>(m_raster->Width)),
      m_height(static_cast<std::uint32_t>(m_raster->Height))
{
}

TGPImage::~TGPImage() = default;

std::uint32_t TGPImage::Width() const
{
    return m_width;
}

std::uint32_t TGPImage::Height() const
{
    return m_height;
}

const TRaster* TGPImage::Pixels() const
{
    if (m_raster != nullptr || m_jpeg.empty())
        return m_raster.get();
    try
    {
        m_raster = std::make_unique<TRaster>(DecodeJpeg(m_jpeg));
        std::string().swap(m_jpeg); // the pixels stand for it now
    }
    catch (const EPictureError& e)
    {
        Fail(StatusOf(e), e.what());
    }
    catch (const std::bad_alloc&)
    {
        Fail(gsOutOfMemory, "out of memory");
    }
    return m_raster.get();
}

int TGPImage::Fail(int status, const std::string& reason) const
{
    m_lastStatus = status;
    m_lastReason = reason;
    return status;
}

std::unique_ptr<TGPImage> TGPImage::GetThumbnailImage(std::uint32_t width, std::uint32_t height)
{
    auto failed = [&](int status, const std::string& reason) {
        Fail(status, reason);
        auto thumbnail = std::make_unique<TGPImage>(TRaster{});
        thumbnail->m_raster.reset();
        thumbnail->Fail(status, reason);
        return thumbnail;
    };
    if (m_raster == nullptr && m_jpeg.empty())
        return failed(gsInvalidParameter, "no picture loaded");
    try
    {
        CheckPictureSize(width, height);
    }
    catch (const EPictureError& e)
    {
        return failed(e.Fault() == fkTooLarge ? gsValueOverflow : gsInvalidParameter, e.what());
    }
    try
    {
        const TRaster* source = m_raster.get();
        TRaster reduced;
        if (source == nullptr)
        {
            // Only as many pixels as the thumbnail needs are decoded; a full decode is kept.
            const int eighths = ThumbnailScale(ReadJpegHeader(m_jpeg), width, height);
            if (eighths < 8)
            {
                reduced = DecodeJpeg(m_jpeg, eighths);
                source = &reduced;
            }
            else if ((source = Pixels()) == nullptr)
                return failed(m_lastStatus, m_lastReason);
        }
        TRaster thumbnail = NewRaster(width, height, source->Channels == 1 ? 1 : 3, 255);
        DrawScaled(thumbnail, *source, 0, 0, width, height);
        return std::make_unique<TGPImage>(std::move(thumbnail));
    }
    catch (const EPictureError& e)
    {
        return failed(StatusOf(e), e.what());
    }
    catch (const std::bad_alloc&)
    {
        return failed(gsOutOfMemory, "out of memory");
    }
}

int TGPImage::Save(TStream& stream, const CLSID& clsid, const EncoderParameters* parameters)
{
    if (m_raster == nullptr && m_jpeg.empty())
        return Fail(gsInvalidParameter, m_lastReason.empty() ? "no picture loaded" : m_lastReason);
    const TImageCodecInfo* encoder = nullptr;
    for (const TImageCodecInfo& info : ImageEncoders())
        if (info.Clsid == clsid)
            encoder = &info;
    if (encoder == nullptr || !encoder->Encode)
        return Fail(gsFileNotFound, "no such encoder");
    std::string bytes;
    try
    {
        if (m_raster == nullptr && encoder->Transcode)
            bytes = encoder->Transcode(m_jpeg, parameters);
        if (bytes.empty())
        {
            const TRaster* pixels = Pixels();
            if (pixels == nullptr)
                return m_lastStatus;
            bytes = encoder->Encode(*pixels, parameters);
        }
    }
    catch (const EPictureError& e)
    {
        return Fail(gsInvalidParameter, e.what());
    }
    catch (const std::bad_alloc&)
    {
        return Fail(gsOutOfMemory, "out of memory");
    }
    catch (const std::exception& e)
    {
        return Fail(gsGenericError, e.what());
    }
    try
    {
        // Into an empty memory stream (of that very class, whose writing nothing overrides)
        // the encoder's buffer is handed over whole: a large picture's JPEG is not copied.
        auto* memory = typeid(stream) == typeid(TMemoryStream)
                           ? static_cast<TMemoryStream*>(&stream)
                           : nullptr;
        if (memory != nullptr && memory->Size() == 0)
        {
            const auto size = static_cast<std::int64_t>(bytes.size());
            *memory = TMemoryStream(std::move(bytes));
            memory->SetPosition(size);
        }
        else
            stream.Write(bytes.data(), bytes.size());
    }
    catch (const std::exception& e)
    {
        return Fail(gsWin32Error, std::string("cannot write: ") + e.what());
    }
    return gsOk;
}

TGPGraphics::TGPGraphics(TRaster& surface) : m_surface(surface) {}

int TGPGraphics::DrawImage(const TGPImage& image, float x, float y, float width, float height)
{
    const TRaster* source = image.Pixels();
    if (source == nullptr || m_surface.Pixels.empty() ||
        (m_surface.Channels != 1 && m_surface.Channels != 3) || !std::isfinite(x) ||
        !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height))
        return m_lastStatus = gsInvalidParameter;
    if (width <= 0 || height <= 0)
        return gsOk; // nothing to draw
    try
    {
        DrawScaled(m_surface, *source, x, y, width, height);
    }
    catch (const std::bad_alloc&)
    {
        return m_lastStatus = gsOutOfMemory;
    }
    catch (const std::exception&)
    {
        return m_lastStatus = gsGenericError;
    }
    return gsOk;
}
