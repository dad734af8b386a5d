#include "platform/Graphics.h"

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_map>

#include <jpeglib.h>

#include "platform/Exceptions.h"
#include "platform/Stream.h"

namespace
{

int StorageBits(TPixelFormat format)
{
    switch (format)
    {
    case pf1bit:
        return 1;
    case pf4bit:
        return 4;
    case pf8bit:
        return 8;
    case pf15bit:
    case pf16bit:
        return 16;
    case pf24bit:
        return 24;
    default:
        return 32; // pf32bit, and pfDevice and pfCustom, which are held as 32 bits
    }
}

bool IsIndexed(TPixelFormat format)
{
    return format == pf1bit || format == pf4bit || format == pf8bit;
}

std::size_t PaletteCapacity(TPixelFormat format)
{
    return IsIndexed(format) ? std::size_t{1} << StorageBits(format) : 0;
}

TPaletteEntry Entry(std::uint32_t rgb)
{
    return TPaletteEntry{static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                         static_cast<std::uint8_t>(rgb), 0};
}

std::uint32_t Pack(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return (r << 16) | (g << 8) | b;
}

std::uint32_t Pack(const TPaletteEntry& entry)
{
    return Pack(entry.Red, entry.Green, entry.Blue);
}

// The 16 colours of the classic 4-bit display palette.
constexpr std::array<std::uint32_t, 16> kSixteenColours = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

std::vector<TPaletteEntry> DefaultPalette(TPixelFormat format)
{
    std::vector<TPaletteEntry> palette;
    switch (format)
    {
    case pf1bit:
        palette = {Entry(0x000000), Entry(0xFFFFFF)};
        break;
    case pf4bit:
        for (const std::uint32_t rgb : kSixteenColours)
        {
            palette.push_back(Entry(rgb));
        }
        break;
    case pf8bit:
        for (std::uint32_t grey = 0; grey < 256; ++grey)
        {
            palette.push_back(Entry(Pack(grey, grey, grey)));
        }
        break;
    default:
        break;
    }
    return palette;
}

std::uint32_t Squared(int value)
{
    return static_cast<std::uint32_t>(value * value);
}

std::uint32_t Distance(std::uint32_t a, std::uint32_t b)
{
    auto channel = [](std::uint32_t rgb, int shift) {
        return static_cast<int>((rgb >> shift) & 0xFF);
    };
    return Squared(channel(a, 16) - channel(b, 16)) * 3 +
           Squared(channel(a, 8) - channel(b, 8)) * 4 + Squared(channel(a, 0) - channel(b, 0)) * 2;
}

// Scales a channel of `levels` steps (0 .. levels-1) to 0..255 and back, rounding.
std::uint32_t ToLevel(std::uint32_t value, std::uint32_t levels)
{
    return (value * (levels - 1) + 127) / 255;
}

std::uint32_t FromLevel(std::uint32_t level, std::uint32_t levels)
{
    return (level * 255 + (levels - 1) / 2) / (levels - 1);
}

// Expands an n-bit channel to 8 bits by repeating its high bits (31 -> 255, 0 -> 0).
std::uint32_t Expand(std::uint32_t value, int bits)
{
    return (value << (8 - bits)) | (value >> (2 * bits - 8));
}

// Maps colours onto a palette of at most `capacity` entries: the exact colours when they fit,
// otherwise a fixed palette (black and white, the 16 classic colours, or a 6x7x6 colour cube)
// with each colour taking its nearest entry.
void Quantise(const std::vector<std::uint32_t>& colours, std::size_t capacity,
              std::vector<TPaletteEntry>& palette, std::vector<std::uint8_t>& indices)
{
    indices.resize(colours.size());
    palette.clear();
    std::unordered_map<std::uint32_t, std::uint8_t> exact;
    bool fits = true;
    for (std::size_t i = 0; i < colours.size() && fits; ++i)
    {
        const auto found = exact.find(colours[i]);
        if (found != exact.end())
        {
            indices[i] = found->second;
            continue;
        }
        if (exact.size() == capacity)
        {
            fits = false;
            break;
        }
        const auto index = static_cast<std::uint8_t>(exact.size());
        exact.emplace(colours[i], index);
        palette.push_back(Entry(colours[i]));
        indices[i] = index;
    }
    if (fits)
    {
        return;
    }

    palette.clear();
    if (capacity == 2)
    {
        palette = {Entry(0x000000), Entry(0xFFFFFF)};
        for (std::size_t i = 0; i < colours.size(); ++i)
        {
            const std::uint32_t rgb = colours[i];
            const std::uint32_t luma =
                (299 * ((rgb >> 16) & 0xFF) + 587 * ((rgb >> 8) & 0xFF) + 114 * (rgb & 0xFF)) /
                1000;
            indices[i] = luma >= 128 ? 1 : 0;
        }
    }
    else if (capacity == 16)
    {
        for (const std::uint32_t rgb : kSixteenColours)
        {
            palette.push_back(Entry(rgb));
        }
        std::unordered_map<std::uint32_t, std::uint8_t> nearest;
        for (std::size_t i = 0; i < colours.size(); ++i)
        {
            auto found = nearest.find(colours[i]);
            if (found == nearest.end())
            {
                std::uint8_t best = 0;
                for (std::size_t k = 1; k < kSixteenColours.size(); ++k)
                {
                    if (Distance(colours[i], kSixteenColours[k]) <
                        Distance(colours[i], kSixteenColours[best]))
                    {
                        best = static_cast<std::uint8_t>(k);
                    }
                }
                found = nearest.emplace(colours[i], best).first;
            }
            indices[i] = found->second;
        }
    }
    else
    {
        constexpr std::uint32_t kRed = 6;
        constexpr std::uint32_t kGreen = 7;
        constexpr std::uint32_t kBlue = 6;
        for (std::uint32_t r = 0; r < kRed; ++r)
        {
            for (std::uint32_t g = 0; g < kGreen; ++g)
            {
                for (std::uint32_t b = 0; b < kBlue; ++b)
                {
                    palette.push_back(
                        Entry(Pack(FromLevel(r, kRed), FromLevel(g, kGreen), FromLevel(b, kBlue))));
                }
            }
        }
        for (std::size_t i = 0; i < colours.size(); ++i)
        {
            const std::uint32_t rgb = colours[i];
            const std::uint32_t r = ToLevel((rgb >> 16) & 0xFF, kRed);
            const std::uint32_t g = ToLevel((rgb >> 8) & 0xFF, kGreen);
            const std::uint32_t b = ToLevel(rgb & 0xFF, kBlue);
            indices[i] = static_cast<std::uint8_t>((r * kGreen + g) * kBlue + b);
        }
    }
}

} // namespace

// TBitmap

TBitmap::TBitmap(int width, int height, TPixelFormat format) : m_format(format)
{
    SetSize(width, height);
    m_palette = DefaultPalette(format);
}

std::unique_ptr<TGraphic> TBitmap::Clone() const
{
    return std::make_unique<TBitmap>(*this);
}

int TBitmap::BitsPerPixel() const
{
    return StorageBits(m_format);
}

void TBitmap::SetSize(int width, int height)
{
    if (width < 0 || height < 0)
    {
        throw Exception("Invalid bitmap size " + std::to_string(width) + " x " +
                        std::to_string(height));
    }
    const std::uint64_t rowBits =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(StorageBits(m_format));
    const std::uint64_t rowBytes = (rowBits + 31) / 32 * 4;
    const auto rows = static_cast<std::uint64_t>(height);
    if (rows != 0 &&
        rowBytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) / rows)
    {
        throw Exception("Bitmap too large: " + std::to_string(width) + " x " +
                        std::to_string(height));
    }
    m_pixels.assign(static_cast<std::size_t>(rowBytes * rows), 0);
    m_width = width;
    m_height = height;
    m_rowBytes = static_cast<std::size_t>(rowBytes);
}

std::uint8_t* TBitmap::ScanLine(int row)
{
    if (row < 0 || row >= m_height)
    {
        throw std::out_of_range("ScanLine: row " + std::to_string(row) + " out of range");
    }
    return m_pixels.data() + static_cast<std::size_t>(row) * m_rowBytes;
}

const std::uint8_t* TBitmap::ScanLine(int row) const
{
    return const_cast<TBitmap*>(this)->ScanLine(row);
}

void TBitmap::SetPalette(std::vector<TPaletteEntry> palette)
{
    if (!IsIndexed(m_format))
    {
        return; // direct formats carry their colours in the pixels
    }
    if (palette.size() > PaletteCapacity(m_format))
    {
        palette.resize(PaletteCapacity(m_format));
    }
    m_palette = std::move(palette);
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == m_format)
    {
        return;
    }
    const TPixelFormat source = m_format;
    if (StorageBits(source) == 32 && StorageBits(format) == 32)
    {
        m_format = format; // the same memory layout
        return;
    }

    const int width = m_width;
    const int height = m_height;
    const std::size_t sourceRowBytes = m_rowBytes;
    std::vector<std::uint8_t> sourcePixels = std::move(m_pixels);
    auto indexAt = [&](const std::uint8_t* line, int x) -> std::uint32_t {
        const auto ux = static_cast<std::size_t>(x);
        switch (source)
        {
        case pf1bit:
            return (line[ux / 8] >> (7 - ux % 8)) & 1u;
        case pf4bit:
            return (line[ux / 2] >> (ux % 2 == 0 ? 4 : 0)) & 0xFu;
        default:
            return line[ux];
        }
    };
    auto colourAt = [&](const std::uint8_t* line, int x) -> std::uint32_t {
        const auto ux = static_cast<std::size_t>(x);
        switch (source)
        {
        case pf1bit:
        case pf4bit:
        case pf8bit:
        {
            const std::uint32_t index = indexAt(line, x);
            return index < m_palette.size() ? Pack(m_palette[index]) : 0; // unlisted: black
        }
        case pf15bit:
        {
            const std::uint32_t word = line[2 * ux] | std::uint32_t{line[2 * ux + 1]} << 8u;
            return Pack(Expand((word >> 10) & 0x1F, 5), Expand((word >> 5) & 0x1F, 5),
                        Expand(word & 0x1F, 5));
        }
        case pf16bit:
        {
            const std::uint32_t word = line[2 * ux] | std::uint32_t{line[2 * ux + 1]} << 8u;
            return Pack(Expand((word >> 11) & 0x1F, 5), Expand((word >> 5) & 0x3F, 6),
                        Expand(word & 0x1F, 5));
        }
        case pf24bit:
            return Pack(line[3 * ux + 2], line[3 * ux + 1], line[3 * ux]);
        default:
            return Pack(line[4 * ux + 2], line[4 * ux + 1], line[4 * ux]);
        }
    };

    m_format = format;
    try
    {
        SetSize(width, height);
    }
    catch (...)
    {
        // Too large in the new format: the bitmap stays as it was.
        m_format = source;
        m_pixels = std::move(sourcePixels);
        m_rowBytes = sourceRowBytes;
        throw;
    }
    const auto pixelCount = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);

    if (IsIndexed(source) && IsIndexed(format) && StorageBits(format) >= StorageBits(source))
    {
        // Widening indices keeps the palette and every index as it was.
        for (int y = 0; y < height; ++y)
        {
            const std::uint8_t* from =
                sourcePixels.data() + static_cast<std::size_t>(y) * sourceRowBytes;
            std::uint8_t* to = ScanLine(y);
            for (int x = 0; x < width; ++x)
            {
                const std::uint32_t index = indexAt(from, x);
                const auto ux = static_cast<std::size_t>(x);
                if (format == pf4bit)
                {
                    to[ux / 2] =
                        static_cast<std::uint8_t>(to[ux / 2] | (index << (ux % 2 == 0 ? 4 : 0)));
                }
                else
                {
                    to[ux] = static_cast<std::uint8_t>(index);
                }
            }
        }
        return;
    }

    std::vector<std::uint32_t> colours;
    colours.reserve(pixelCount);
    for (int y = 0; y < height; ++y)
    {
        const std::uint8_t* from =
            sourcePixels.data() + static_cast<std::size_t>(y) * sourceRowBytes;
        for (int x = 0; x < width; ++x)
        {
            colours.push_back(colourAt(from, x));
        }
    }

    if (IsIndexed(format))
    {
        std::vector<std::uint8_t> indices;
        std::vector<TPaletteEntry> palette;
        Quantise(colours, PaletteCapacity(format), palette, indices);
        m_palette = std::move(palette);
        for (int y = 0; y < height; ++y)
        {
            std::uint8_t* to = ScanLine(y);
            for (int x = 0; x < width; ++x)
            {
                const auto ux = static_cast<std::size_t>(x);
                const std::uint32_t index =
                    indices[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + ux];
                if (format == pf1bit)
                {
                    to[ux / 8] = static_cast<std::uint8_t>(to[ux / 8] | (index << (7 - ux % 8)));
                }
                else if (format == pf4bit)
                {
                    to[ux / 2] =
                        static_cast<std::uint8_t>(to[ux / 2] | (index << (ux % 2 == 0 ? 4 : 0)));
                }
                else
                {
                    to[ux] = static_cast<std::uint8_t>(index);
                }
            }
        }
        return;
    }

    m_palette.clear();
    for (int y = 0; y < height; ++y)
    {
        std::uint8_t* to = ScanLine(y);
        for (int x = 0; x < width; ++x)
        {
            const auto ux = static_cast<std::size_t>(x);
            const std::uint32_t rgb =
                colours[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + ux];
            const std::uint32_t r = (rgb >> 16) & 0xFF;
            const std::uint32_t g = (rgb >> 8) & 0xFF;
            const std::uint32_t b = rgb & 0xFF;
            switch (format)
            {
            case pf15bit:
            case pf16bit:
            {
                const std::uint32_t word =
                    format == pf15bit
                        ? (ToLevel(r, 32) << 10) | (ToLevel(g, 32) << 5) | ToLevel(b, 32)
                        : (ToLevel(r, 32) << 11) | (ToLevel(g, 64) << 5) | ToLevel(b, 32);
                to[2 * ux] = static_cast<std::uint8_t>(word);
                to[2 * ux + 1] = static_cast<std::uint8_t>(word >> 8);
                break;
            }
            case pf24bit:
                to[3 * ux] = static_cast<std::uint8_t>(b);
                to[3 * ux + 1] = static_cast<std::uint8_t>(g);
                to[3 * ux + 2] = static_cast<std::uint8_t>(r);
                break;
            default:
                to[4 * ux] = static_cast<std::uint8_t>(b);
                to[4 * ux + 1] = static_cast<std::uint8_t>(g);
                to[4 * ux + 2] = static_cast<std::uint8_t>(r);
                to[4 * ux + 3] = 0;
                break;
            }
        }
    }
}

// TJPEGImage

namespace
{

struct TJpegHeader
{
    int Width = 0;
    int Height = 0;
    int Components = 0;
    bool AdobeMarker = false;
};

struct TJpegErrorManager
{
    jpeg_error_mgr Manager; // first, so libjpeg's pointer is also ours
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr info)
{
    auto* errors = reinterpret_cast<TJpegErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->Message);
    std::longjmp(errors->Jump, 1);
}

extern "C" void JpegQuietMessage(j_common_ptr) {}

// libjpeg reports errors by longjmp; this function holds no C++ object with a destructor, so
// the jump skips nothing that must be unwound. The caller turns the result into an exception.
bool ReadJpegHeader(const unsigned char* data, std::size_t size, TJpegHeader* header,
                    TJpegErrorManager* errors)
{
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&errors->Manager);
    errors->Manager.error_exit = JpegErrorExit;
    errors->Manager.output_message = JpegQuietMessage;
    errors->Message[0] = '\0';
    if (setjmp(errors->Jump) != 0)
    {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&info, JPEG_APP0 + 14, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    header->Width = static_cast<int>(info.image_width);
    header->Height = static_cast<int>(info.image_height);
    header->Components = info.num_components;
    header->AdobeMarker = info.saw_Adobe_marker != 0;
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next)
    {
        if (marker->marker == JPEG_APP0 + 14 && marker->data_length >= 5 &&
            std::memcmp(marker->data, "Adobe", 5) == 0)
        {
            header->AdobeMarker = true;
        }
    }
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

std::unique_ptr<TGraphic> TJPEGImage::Clone() const
{
    return std::make_unique<TJPEGImage>(*this);
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    std::string bytes;
    const std::int64_t remaining = stream.Size() - stream.Position();
    if (remaining > 0)
    {
        bytes.reserve(static_cast<std::size_t>(remaining));
    }
    std::array<char, 65536> chunk{};
    for (std::size_t got = stream.Read(chunk.data(), chunk.size()); got > 0;
         got = stream.Read(chunk.data(), chunk.size()))
    {
        bytes.append(chunk.data(), got);
    }

    TJpegHeader header;
    TJpegErrorManager errors{};
    if (!ReadJpegHeader(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &header,
                        &errors))
    {
        throw Exception(std::string("JPEG error: ") + errors.Message);
    }
    m_bytes = std::make_shared<const std::string>(std::move(bytes));
    m_width = header.Width;
    m_height = header.Height;
    m_components = header.Components;
    m_adobeMarker = header.AdobeMarker;
}

void TJPEGImage::SaveToStream(TStream& stream) const
{
    stream.Write(Data());
}

void TJPEGImage::SetData(std::string bytes)
{
    m_bytes = std::make_shared<const std::string>(std::move(bytes));
    ReadHeader();
}

const std::string& TJPEGImage::Data() const
{
    static const std::string kNone;
    return m_bytes != nullptr ? *m_bytes : kNone;
}

bool TJPEGImage::ReadHeader()
{
    TJpegHeader header;
    TJpegErrorManager errors{};
    const std::string& bytes = Data();
    const bool ok = ReadJpegHeader(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   bytes.size(), &header, &errors);
    m_width = header.Width;
    m_height = header.Height;
    m_components = ok ? header.Components : 0;
    m_adobeMarker = ok && header.AdobeMarker;
    if (!ok)
    {
        m_width = 0;
        m_height = 0;
    }
    return ok;
}

// TPicture

void TPicture::Assign(const TPicture& other)
{
    if (&other == this)
    {
        return;
    }
    m_graphic = other.m_graphic != nullptr ? other.m_graphic->Clone() : nullptr;
}
