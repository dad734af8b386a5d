// EMF: converted to SVG in memory, then drawn by the SVG renderer at the size the header's
// frame gives at 96 dpi.
#include <cmath>
#include <cstdlib>

#include <emf2svg.h>
#include <librsvg/rsvg.h>

#include "app/imaging/CairoRaster.h"
#include "app/imaging/PictureReader.h"
#include "app/imaging/Pixbuf.h"

namespace
{

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmfSignature = 0x464D4520; // " EMF"

struct TFreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};

struct TGObjectDeleter
{
    void operator()(RsvgHandle* handle) const { g_object_unref(handle); }
};

struct TGErrorDeleter
{
    void operator()(GError* error) const { g_error_free(error); }
};

std::int64_t FrameToPixels(std::int32_t from, std::int32_t to)
{
    // The frame is in hundredths of a millimetre: 2540 of them make an inch of 96 pixels.
    return std::llround((static_cast<double>(to) - static_cast<double>(from)) * 96.0 / 2540.0);
}

class TEmfReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "EMF"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 44 && ReadLe32(bytes, 0) == kEmrHeader &&
               ReadLe32(bytes, 40) == kEmfSignature;
    }

    TRaster Read(std::string_view bytes) const override
    {
        if (bytes.size() < 88 || ReadLe32(bytes, 4) < 88)
            throw EPictureError("truncated EMF");
        const auto field = [&](std::size_t offset) {
            return static_cast<std::int32_t>(ReadLe32(bytes, offset));
        };
        std::int64_t width = FrameToPixels(field(24), field(32));
        std::int64_t height = FrameToPixels(field(28), field(36));
        if (width <= 0 || height <= 0)
        {
            // Without a usable frame, the bounds in device pixels (inclusive).
            width = std::int64_t{field(16)} - field(8) + 1;
            height = std::int64_t{field(20)} - field(12) + 1;
        }
        CheckPictureSize(width, height);

        std::string input(bytes); // the converter takes a writable buffer
        generatorOptions options{};
        // No namespace prefix: with one, the converter closes clip-path definitions without it
        // (<svg:defs>...</defs>), and every EMF with a clip region failed as bad XML.
        options.nameSpace = nullptr;
        options.verbose = false;
        // EMF+ records are drawn only in part by the converter; files that carry them almost
        // always repeat the drawing in plain EMF records, which are drawn in full.
        options.emfplus = false;
        options.svgDelimiter = true;
        options.imgWidth = static_cast<double>(width);
        options.imgHeight = static_cast<double>(height);
        char* svgText = nullptr;
        std::size_t svgLength = 0;
        const int converted = emf2svg(input.data(), input.size(), &svgText, &svgLength, &options);
        std::unique_ptr<char, TFreeDeleter> svg(svgText);
        if (converted == 0 || svg == nullptr || svgLength == 0)
            throw EPictureError("bad EMF: cannot convert the records");

        GError* rawError = nullptr;
        std::unique_ptr<RsvgHandle, TGObjectDeleter> handle(rsvg_handle_new_from_data(
            reinterpret_cast<const guint8*>(svg.get()), svgLength, &rawError));
        std::unique_ptr<GError, TGErrorDeleter> error(rawError);
        if (handle == nullptr)
            throw EPictureError(std::string("bad EMF: ") +
                                (error != nullptr ? error->message : "unreadable drawing"));

        TCairoSurface surface = NewCairoSurface(static_cast<int>(width), static_cast<int>(height));
        TCairo cr(cairo_create(surface.get()));
        const RsvgRectangle viewport{0, 0, static_cast<double>(width), static_cast<double>(height)};
        rawError = nullptr;
        const bool drawn = rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &rawError);
        error.reset(rawError);
        if (!drawn)
            throw EPictureError(std::string("bad EMF: ") +
                                (error != nullptr ? error->message : "cannot draw"));
        cr.reset();
        return SurfaceToRaster(surface.get());
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewEmfReader()
{
    return std::make_unique<TEmfReader>();
}
