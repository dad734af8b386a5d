#include "app/imaging/Pixbuf.h"

#include <cstring>
#include <mutex>

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace
{

void DropLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// The loaders' own warnings about damaged files would go to stderr; the failure's reason says
// what matters.
void SilencePixbufLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_handler("GdkPixbuf",
                          static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                                      G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                          DropLogMessage, nullptr);
    });
}

class TLoader
{
public:
    explicit TLoader(GdkPixbufLoader* loader) : m_loader(loader) {}
    ~TLoader()
    {
        if (m_loader == nullptr)
            return;
        // A loader must be closed before it is released; the error of a second close is moot.
        gdk_pixbuf_loader_close(m_loader, nullptr);
        g_object_unref(m_loader);
    }
    TLoader(const TLoader&) = delete;
    TLoader& operator=(const TLoader&) = delete;
    GdkPixbufLoader* Get() const { return m_loader; }

private:
    GdkPixbufLoader* m_loader;
};

class TError
{
public:
    TError() = default;
    ~TError()
    {
        if (m_error != nullptr)
            g_error_free(m_error);
    }
    TError(const TError&) = delete;
    TError& operator=(const TError&) = delete;
    GError** Out() { return &m_error; }
    std::string Text() const
    {
        return m_error != nullptr && m_error->message != nullptr ? m_error->message
                                                                 : "unknown error";
    }

private:
    GError* m_error = nullptr;
};

} // namespace

TRaster DecodeWithPixbuf(std::string_view bytes, const char* loaderType, const char* formatName)
{
    SilencePixbufLog();
    const std::string prefix = std::string("bad ") + formatName + ": ";
    TError error;
    TLoader loader(gdk_pixbuf_loader_new_with_type(loaderType, error.Out()));
    if (loader.Get() == nullptr)
        throw EPictureError(std::string("no decoder for ") + formatName + ": " + error.Text());
    if (!gdk_pixbuf_loader_write(loader.Get(), reinterpret_cast<const guchar*>(bytes.data()),
                                 bytes.size(), error.Out()))
        throw EPictureError(prefix + error.Text());
    if (!gdk_pixbuf_loader_close(loader.Get(), error.Out()))
        throw EPictureError(prefix + error.Text());
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.Get()); // the loader's
    if (pixbuf == nullptr)
        throw EPictureError(prefix + "no picture");
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || (channels != 3 && channels != 4) ||
        gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB)
        throw EPictureError(prefix + "unexpected pixel layout");
    TRaster raster = NewRaster(width, height, channels);
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
    const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
    for (int y = 0; y < height; ++y)
        std::memcpy(raster.Row(y), pixels + static_cast<std::size_t>(y) * stride,
                    raster.RowBytes());
    return raster;
}
