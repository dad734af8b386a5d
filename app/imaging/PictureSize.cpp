#include "app/imaging/PictureSize.h"

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include "platform/FileDescriptor.h"

namespace
{

// Enough for the headers of every format here but a TIFF, whose directory may lie anywhere.
constexpr std::size_t kHeadBytes = std::size_t{64} * 1024;

// Bytes held per pixel at the peak of preparing a picture. A 4:2:0 or grey JPEG is requantized
// from its coefficients (2 bytes each, 1.5 per pixel, and the file); anything else is decoded
// to 8-bit pixels, perhaps with alpha, beside the encoder's coefficients. A plain 8-bit grey
// TIFF (a scan) is read as one byte a pixel beside one plane of coefficients.
constexpr std::int64_t kCoefficientBytesPerPixel = 4;
constexpr std::int64_t kPixelBytesPerPixel = 8;
constexpr std::int64_t kGreyTiffBytesPerPixel = 4;

unsigned Byte(std::string_view bytes, std::size_t at)
{
    return at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0u;
}

std::uint32_t Read(std::string_view bytes, std::size_t at, int size, bool bigEndian)
{
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i)
    {
        const std::size_t index = at + static_cast<std::size_t>(bigEndian ? i : size - 1 - i);
        value = value << 8 | Byte(bytes, index);
    }
    return value;
}

struct TJpegFrame
{
    TPictureSize Size;
    bool Coefficients = false; // the DCT path will take it, going by its sampling
};

TJpegFrame JpegFrame(std::string_view bytes)
{
    std::size_t at = 2;
    while (at + 4 <= bytes.size())
    {
        if (Byte(bytes, at) != 0xFF)
            return {};
        const unsigned marker = Byte(bytes, at + 1);
        if (marker == 0xFF)
        {
            ++at; // fill byte
            continue;
        }
        const std::size_t length = Read(bytes, at + 2, 2, true);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && at + 10 <= bytes.size())
        {
            TJpegFrame result;
            result.Size.Height = Read(bytes, at + 5, 2, true);
            result.Size.Width = Read(bytes, at + 7, 2, true);
            const unsigned components = Byte(bytes, at + 9);
            const unsigned lumaSampling = Byte(bytes, at + 11);
            result.Coefficients = marker != 0xC9 && marker != 0xCA && marker != 0xCB &&
                                  (components == 1 || (components == 3 && lumaSampling == 0x22));
            return result;
        }
        if (marker == 0xDA || length < 2)
            return {};
        at += 2 + length;
    }
    return {};
}

struct TTiffHeader
{
    TPictureSize Size;
    bool PlainGrey = false; // 8-bit grey in strips, one sample a pixel
};

TTiffHeader TiffHeader(std::string_view bytes)
{
    const bool big = bytes.substr(0, 2) == "MM";
    if (Read(bytes, 2, 2, big) != 42)
        return {}; // BigTIFF and others: unknown
    const std::size_t directory = Read(bytes, 4, 4, big);
    const std::size_t entries = Read(bytes, directory, 2, big);
    TTiffHeader header;
    std::uint32_t samples = 1; // the defaults where the tags are absent
    std::uint32_t bits = 1;
    std::uint32_t photometric = 0xFFFF;
    bool extraOrTiles = false;
    for (std::size_t i = 0; i < entries && i < 512; ++i)
    {
        const std::size_t entry = directory + 2 + 12 * i;
        if (entry + 12 > bytes.size())
            return {};
        const std::uint32_t tag = Read(bytes, entry, 2, big);
        const std::uint32_t type = Read(bytes, entry + 2, 2, big);
        const std::uint32_t count = Read(bytes, entry + 4, 4, big);
        const std::uint32_t value =
            type == 3 ? Read(bytes, entry + 8, 2, big) : Read(bytes, entry + 8, 4, big);
        if (tag == 256)
            header.Size.Width = value;
        else if (tag == 257)
            header.Size.Height = value;
        else if (tag == 258 && count == 1)
            bits = value;
        else if (tag == 262)
            photometric = value;
        else if (tag == 277)
            samples = value;
        else if (tag == 322 || tag == 338)
            extraOrTiles = true;
    }
    header.PlainGrey =
        samples == 1 && bits == 8 && (photometric == 0 || photometric == 1) && !extraOrTiles;
    return header;
}

} // namespace

TPictureSize PictureSizeFromHeader(std::string_view bytes)
{
    if (bytes.substr(0, 3) == "\xFF\xD8\xFF")
        return JpegFrame(bytes).Size;
    if (bytes.substr(0, 8) == "\x89PNG\r\n\x1A\n")
        return {Read(bytes, 16, 4, true), Read(bytes, 20, 4, true)};
    if (bytes.substr(0, 4) == "GIF8")
        return {Read(bytes, 6, 2, false), Read(bytes, 8, 2, false)};
    if (bytes.substr(0, 2) == "BM" && bytes.size() >= 26)
    {
        if (Read(bytes, 14, 4, false) == 12)
            return {Read(bytes, 18, 2, false), Read(bytes, 20, 2, false)};
        const auto height = static_cast<std::int32_t>(Read(bytes, 22, 4, false));
        return {static_cast<std::int32_t>(Read(bytes, 18, 4, false)),
                height < 0 ? -static_cast<std::int64_t>(height) : height};
    }
    if (bytes.substr(0, 2) == "II" || bytes.substr(0, 2) == "MM")
        return TiffHeader(bytes).Size;
    return {};
}

std::int64_t EstimatePreparationBytes(const std::string& path)
{
    const TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = file.Get();
    if (fd < 0)
        return 0;
    std::string head(kHeadBytes, '\0');
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    // A TIFF written directory last: read its directory where it lies, behind the header.
    if ((head.substr(0, 2) == "II" || head.substr(0, 2) == "MM") && head.size() >= 8)
    {
        const bool big = head.substr(0, 2) == "MM";
        const std::uint32_t directory = Read(head, 4, 4, big);
        if (directory + 2 > head.size())
        {
            std::string tail(2 + 12 * 64, '\0');
            const ssize_t n = ::pread(fd, tail.data(), tail.size(), directory);
            if (n > 0)
            {
                // Rebased so that the directory's offset points into the string read.
                head = head.substr(0, 8);
                head.replace(4, 4,
                             big ? std::string("\0\0\0\x08", 4) : std::string("\x08\0\0\0", 4));
                head += tail.substr(0, static_cast<std::size_t>(n));
            }
        }
    }
    const TPictureSize size = PictureSizeFromHeader(head);
    if (size.Width <= 0 || size.Height <= 0)
        return 0;
    std::int64_t perPixel = kPixelBytesPerPixel;
    if (head.substr(0, 3) == "\xFF\xD8\xFF" && JpegFrame(head).Coefficients)
        perPixel = kCoefficientBytesPerPixel;
    else if ((head.substr(0, 2) == "II" || head.substr(0, 2) == "MM") && TiffHeader(head).PlainGrey)
        perPixel = kGreyTiffBytesPerPixel;
    return size.Width * size.Height * perPixel;
}
