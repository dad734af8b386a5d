// GIF through giflib: the first frame, composed on the logical screen as a viewer shows it
// before any animation runs. Pixels no frame covers and transparent ones stay white.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include <gif_lib.h>

#include "app/imaging/PictureReader.h"

namespace
{

struct TGifSource
{
    const unsigned char* Data;
    std::size_t Size;
    std::size_t Position;
};

int ReadGifBytes(GifFileType* gif, GifByteType* buffer, int size)
{
    auto* source = static_cast<TGifSource*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(size), source->Size - source->Position);
    std::memcpy(buffer, source->Data + source->Position, n);
    source->Position += n;
    return static_cast<int>(n);
}

class TGifFile
{
public:
    TGifFile(GifFileType* gif) : m_gif(gif) {}
    ~TGifFile()
    {
        if (m_gif != nullptr)
            DGifCloseFile(m_gif, nullptr);
    }
    TGifFile(const TGifFile&) = delete;
    TGifFile& operator=(const TGifFile&) = delete;
    GifFileType* operator->() const { return m_gif; }
    GifFileType* Get() const { return m_gif; }

private:
    GifFileType* m_gif;
};

[[noreturn]] void Fail(int error)
{
    if (error == D_GIF_ERR_READ_FAILED || error == D_GIF_ERR_EOF_TOO_SOON)
        throw EPictureError("truncated GIF");
    const char* text = GifErrorString(error);
    throw EPictureError(std::string("bad GIF: ") + (text != nullptr ? text : "unknown error"));
}

class TGifReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "GIF"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 6 &&
               (bytes.substr(0, 6) == "GIF87a" || bytes.substr(0, 6) == "GIF89a");
    }

    TRaster Read(std::string_view bytes) const override
    {
        TGifSource source{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0};
        int error = 0;
        TGifFile gif(DGifOpen(&source, ReadGifBytes, &error));
        if (gif.Get() == nullptr)
            Fail(error);

        int transparent = NO_TRANSPARENT_COLOR;
        for (;;)
        {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(gif.Get(), &type) == GIF_ERROR)
                Fail(gif->Error);
            if (type == TERMINATE_RECORD_TYPE)
                throw EPictureError("bad GIF: no image");
            if (type == EXTENSION_RECORD_TYPE)
            {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif.Get(), &code, &block) == GIF_ERROR)
                    Fail(gif->Error);
                if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr)
                {
                    GraphicsControlBlock control{};
                    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                        transparent = control.TransparentColor;
                }
                while (block != nullptr)
                    if (DGifGetExtensionNext(gif.Get(), &block) == GIF_ERROR)
                        Fail(gif->Error);
                continue;
            }
            if (type == IMAGE_DESC_RECORD_TYPE)
                return ReadFrame(gif.Get(), transparent);
        }
    }

private:
    static TRaster ReadFrame(GifFileType* gif, int transparent)
    {
        if (DGifGetImageDesc(gif) == GIF_ERROR)
            Fail(gif->Error);
        const GifImageDesc& frame = gif->Image;
        if (frame.Left < 0 || frame.Top < 0 || frame.Width < 0 || frame.Height < 0)
            throw EPictureError("bad GIF: frame outside the screen");
        // Each code of at least three bits gives at most 4096 pixels: a frame larger than the
        // bytes left can give is cut short, known before the picture is allocated (a 68-byte
        // file claiming 16000 x 16000 took 760 MB before it was found short).
        const auto* source = static_cast<const TGifSource*>(gif->UserData);
        const std::uint64_t most = (source->Size - source->Position) * 8 / 3 * 4096 + 4096;
        if (static_cast<std::uint64_t>(frame.Width) * static_cast<std::uint64_t>(frame.Height) >
            most)
            throw EPictureError("truncated GIF");
        // A frame larger than the logical screen widens it, as viewers do; one without pixels
        // does not (a 62-byte file's empty frame placed far off made a 200-megapixel page).
        const bool drawn = frame.Width > 0 && frame.Height > 0;
        const std::int64_t width =
            std::max<std::int64_t>(gif->SWidth, drawn ? std::int64_t{frame.Left} + frame.Width : 0);
        const std::int64_t height = std::max<std::int64_t>(
            gif->SHeight, drawn ? std::int64_t{frame.Top} + frame.Height : 0);
        TRaster raster = NewRaster(width, height, 3, 255);

        const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
        if (map == nullptr || map->Colors == nullptr)
            throw EPictureError("bad GIF: no colour table");
        std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width) + 1);

        auto putRow = [&](int y) {
            std::uint8_t* out =
                raster.Row(frame.Top + y) + static_cast<std::size_t>(frame.Left) * 3;
            for (int x = 0; x < frame.Width; ++x, out += 3)
            {
                const int index = line[static_cast<std::size_t>(x)];
                if (index == transparent)
                    continue;
                // An index past the table's end is drawn black, as the table's absent entries.
                GifColorType colour{0, 0, 0};
                if (index < map->ColorCount)
                    colour = map->Colors[index];
                out[0] = colour.Red;
                out[1] = colour.Green;
                out[2] = colour.Blue;
            }
        };
        auto readRow = [&](int y) {
            if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR)
                Fail(gif->Error);
            putRow(y);
        };

        if (frame.Width > 0 && frame.Height > 0)
        {
            if (frame.Interlace)
            {
                static constexpr int kStart[] = {0, 4, 2, 1};
                static constexpr int kStep[] = {8, 8, 4, 2};
                for (int pass = 0; pass < 4; ++pass)
                    for (int y = kStart[pass]; y < frame.Height; y += kStep[pass])
                        readRow(y);
            }
            else
            {
                for (int y = 0; y < frame.Height; ++y)
                    readRow(y);
            }
        }
        return raster;
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewGifReader()
{
    return std::make_unique<TGifReader>();
}
