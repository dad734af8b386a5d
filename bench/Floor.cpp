// pictova-floor: the codec floor of a conversion. Every picture is read, decoded by its codec
// library straight into 8-bit RGB or grey and encoded by TurboJPEG at the quality (4:2:0, or
// grey), one picture after the other on one thread, with no PDF and nothing else. What a
// converter spends beyond this is its own overhead.
//
//     pictova-floor [--quality Q] PICTURE...
//
// JPEG, PNG and TIFF only: the formats of the benchmark's set. Prints one line:
// "pictures N jpeg-bytes B seconds S".

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <spng.h>
#include <tiffio.h>
#include <turbojpeg.h>

namespace
{

struct TPixels
{
    int Width = 0;
    int Height = 0;
    int Channels = 0; // 1 grey, 3 RGB
    std::vector<unsigned char> Data;
};

struct TTjDeleter
{
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TTjHandle = std::unique_ptr<void, TTjDeleter>;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": cannot open");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TPixels DecodeJpeg(tjhandle decoder, const std::string& bytes)
{
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (tjDecompressHeader3(decoder, data, bytes.size(), &width, &height, &subsampling,
                            &colourspace) != 0)
        throw std::runtime_error(tjGetErrorStr2(decoder));
    TPixels pixels{width, height, colourspace == TJCS_GRAY ? 1 : 3, {}};
    pixels.Data.resize(static_cast<std::size_t>(width) * height * pixels.Channels);
    if (tjDecompress2(decoder, data, bytes.size(), pixels.Data.data(), width, 0, height,
                      pixels.Channels == 1 ? TJPF_GRAY : TJPF_RGB, 0) != 0)
        throw std::runtime_error(tjGetErrorStr2(decoder));
    return pixels;
}

TPixels DecodePng(const std::string& bytes)
{
    std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
    spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size());
    spng_ihdr header{};
    if (spng_get_ihdr(ctx.get(), &header) != 0)
        throw std::runtime_error("bad PNG");
    const bool grey = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE && header.bit_depth == 8;
    const int format = grey ? SPNG_FMT_G8 : SPNG_FMT_RGB8;
    std::size_t size = 0;
    spng_decoded_image_size(ctx.get(), format, &size);
    TPixels pixels{static_cast<int>(header.width), static_cast<int>(header.height), grey ? 1 : 3,
                   std::vector<unsigned char>(size)};
    if (spng_decode_image(ctx.get(), pixels.Data.data(), size, format, 0) != 0)
        throw std::runtime_error("bad PNG");
    return pixels;
}

TPixels DecodeTiff(const std::string& path)
{
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!tiff)
        throw std::runtime_error(path + ": bad TIFF");
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 8, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PLANARCONFIG, &planar);
    if (bits != 8 || (samples != 1 && samples != 3) || planar != PLANARCONFIG_CONTIG)
        throw std::runtime_error(path + ": only 8-bit grey or RGB TIFF");
    TPixels pixels{static_cast<int>(width), static_cast<int>(height), samples, {}};
    const std::size_t rowBytes = static_cast<std::size_t>(width) * samples;
    pixels.Data.resize(rowBytes * height);
    for (std::uint32_t y = 0; y < height; ++y)
        if (TIFFReadScanline(tiff.get(), pixels.Data.data() + y * rowBytes, y, 0) < 0)
            throw std::runtime_error(path + ": bad TIFF data");
    return pixels;
}

bool EndsWith(const std::string& text, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    int quality = 60;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--quality" && i + 1 < argc)
            quality = std::atoi(argv[++i]);
        else if (arg == "-h" || arg == "--help")
        {
            std::printf("usage: pictova-floor [--quality Q] PICTURE...\n");
            return 0;
        }
        else
            paths.push_back(arg);
    }
    try
    {
        TTjHandle decoder(tjInitDecompress());
        TTjHandle encoder(tjInitCompress());
        if (!decoder || !encoder)
            throw std::runtime_error("TurboJPEG does not start");
        const auto start = std::chrono::steady_clock::now();
        std::uint64_t total = 0;
        for (const std::string& path : paths)
        {
            TPixels pixels;
            if (EndsWith(path, ".tif") || EndsWith(path, ".tiff"))
                pixels = DecodeTiff(path);
            else
            {
                const std::string bytes = ReadFile(path);
                pixels =
                    EndsWith(path, ".png") ? DecodePng(bytes) : DecodeJpeg(decoder.get(), bytes);
            }
            const bool grey = pixels.Channels == 1;
            unsigned char* jpeg = nullptr;
            unsigned long size = 0;
            if (tjCompress2(encoder.get(), pixels.Data.data(), pixels.Width, 0, pixels.Height,
                            grey ? TJPF_GRAY : TJPF_RGB, &jpeg, &size,
                            grey ? TJSAMP_GRAY : TJSAMP_420, quality, 0) != 0)
                throw std::runtime_error(path + ": " + tjGetErrorStr2(encoder.get()));
            tjFree(jpeg);
            total += size;
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("pictures %zu jpeg-bytes %llu seconds %.3f\n", paths.size(),
                    static_cast<unsigned long long>(total), took.count());
        return 0;
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "pictova-floor: %s\n", e.what());
        return 1;
    }
}
