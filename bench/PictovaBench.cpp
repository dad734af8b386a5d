// pictova-bench: converts a generated set of large pictures into one PDF with the converter's
// run and prints pictures per second and peak memory; first it times the image preparation
// (ReencodeAsJpeg) alone, per format, since that is where the time goes.
//
// The pictures are written in a child process, so the peak memory reported (ru_maxrss of this
// process) is that of converting alone.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <spng.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert/ConversionRun.h"
#include "app/imaging/ImagePreparation.h"
#include "app/imaging/JpegEncoder.h"
#include "app/imaging/Raster.h"
#include "platform/Stream.h"

namespace
{

constexpr const char* kProgram = "pictova-bench";

enum TFormat
{
    bfPng,
    bfJpeg,
    bfBmp,
    bfTiff,
    bfCount
};

constexpr std::array<const char*, bfCount> kFormatName = {"PNG", "JPEG", "BMP", "TIFF"};
constexpr std::array<const char*, bfCount> kExtension = {".png", ".jpg", ".bmp", ".tif"};

struct TOptions
{
    int Count = 12;
    int Width = 4000;
    int Height = 3000;
    int Quality = 60;
    std::string Dir; // kept afterwards when given
};

class EBench : public std::exception
{
public:
    explicit EBench(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

void Usage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: %s [--count N] [--size WxH] [--quality Q] [--dir DIR]\n"
                 "  Writes N pictures (default 12 of 4000x3000, PNG, JPEG, BMP and TIFF in turn)\n"
                 "  and converts each to JPEG at quality Q (default 60), then all of them into one\n"
                 "  PDF, printing pictures per second and peak memory. With --dir the pictures\n"
                 "  are written to DIR and kept.\n",
                 kProgram);
}

bool ParseInt(std::string_view text, int& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

TOptions ParseArguments(int argc, char** argv)
{
    TOptions options;
    for (int i = 1; i < argc; ++i)
    {
        std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help")
        {
            Usage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc)
            throw EBench("missing value after " + std::string(arg));
        std::string_view value = argv[++i];
        bool ok = true;
        if (arg == "--count")
            ok = ParseInt(value, options.Count) && options.Count > 0;
        else if (arg == "--quality")
            ok = ParseInt(value, options.Quality) && options.Quality >= 1 && options.Quality <= 100;
        else if (arg == "--size")
        {
            std::size_t x = value.find('x');
            ok = x != std::string_view::npos && ParseInt(value.substr(0, x), options.Width) &&
                 ParseInt(value.substr(x + 1), options.Height) && options.Width > 0 &&
                 options.Height > 0 && options.Width <= kMaxPictureSide &&
                 options.Height <= kMaxPictureSide;
        }
        else if (arg == "--dir")
            options.Dir = std::string(value);
        else
            throw EBench("unknown option " + std::string(arg));
        if (!ok)
            throw EBench("bad value for " + std::string(arg) + ": " + std::string(value));
    }
    return options;
}

// ------------------------------------------------------------------ pictures

// A smooth colour field with fine noise: compresses about as a photograph does, so no codec
// gets an unfairly easy picture.
TRaster MakePicture(int width, int height, std::uint32_t seed)
{
    TRaster raster = NewRaster(width, height, 3);
    std::vector<int> column(static_cast<std::size_t>(width) * 3);
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c)
            column[static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(c)] =
                (x * (60 + 40 * c) / width + static_cast<int>(seed) * 37 * (c + 1)) % 128;
    std::uint32_t state = seed * 2654435761u + 1u;
    for (int y = 0; y < height; ++y)
    {
        std::uint8_t* row = raster.Row(y);
        int rowPart = y * 120 / height;
        for (std::size_t i = 0; i < column.size(); ++i)
        {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            int noise = static_cast<int>(state & 15u) - 8;
            row[i] = static_cast<std::uint8_t>(std::clamp(column[i] + rowPart + noise, 0, 255));
        }
    }
    return raster;
}

void WriteFile(const std::string& path, const void* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw EBench(path + ": " + std::strerror(errno));
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        throw EBench(path + ": write failed");
}

void WritePng(const std::string& path, const TRaster& raster)
{
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (!ctx)
        throw EBench(path + ": out of memory");
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(raster.Width);
    ihdr.height = static_cast<std::uint32_t>(raster.Height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    int error = spng_set_ihdr(ctx, &ihdr);
    if (!error)
        error = spng_encode_image(ctx, raster.Pixels.data(), raster.Pixels.size(), SPNG_FMT_PNG,
                                  SPNG_ENCODE_FINALIZE);
    std::size_t size = 0;
    void* png = error ? nullptr : spng_get_png_buffer(ctx, &size, &error);
    spng_ctx_free(ctx);
    if (!png)
        throw EBench(path + ": " + spng_strerror(error));
    try
    {
        WriteFile(path, png, size);
    }
    catch (...)
    {
        std::free(png);
        throw;
    }
    std::free(png);
}

void WriteJpeg(const std::string& path, const TRaster& raster)
{
    std::string jpeg = EncodeJpeg(raster, 90);
    WriteFile(path, jpeg.data(), jpeg.size());
}

void PutLe(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
}

void WriteBmp(const std::string& path, const TRaster& raster)
{
    std::size_t rowBytes = (raster.RowBytes() + 3) / 4 * 4;
    std::size_t imageBytes = rowBytes * static_cast<std::size_t>(raster.Height);
    std::string out;
    out.reserve(54 + imageBytes);
    out += "BM";
    PutLe(out, static_cast<std::uint32_t>(54 + imageBytes), 4);
    PutLe(out, 0, 4);
    PutLe(out, 54, 4);
    PutLe(out, 40, 4);
    PutLe(out, static_cast<std::uint32_t>(raster.Width), 4);
    PutLe(out, static_cast<std::uint32_t>(raster.Height), 4);
    PutLe(out, 1, 2);
    PutLe(out, 24, 2);
    PutLe(out, 0, 4);
    PutLe(out, static_cast<std::uint32_t>(imageBytes), 4);
    PutLe(out, 3780, 4);
    PutLe(out, 3780, 4);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    for (int y = raster.Height - 1; y >= 0; --y)
    {
        const std::uint8_t* row = raster.Row(y);
        for (int x = 0; x < raster.Width; ++x)
        {
            const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
            out.push_back(static_cast<char>(p[2]));
            out.push_back(static_cast<char>(p[1]));
            out.push_back(static_cast<char>(p[0]));
        }
        out.append(rowBytes - raster.RowBytes(), '\0');
    }
    WriteFile(path, out.data(), out.size());
}

void WriteTiff(const std::string& path, const TRaster& raster)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff)
        throw EBench(path + ": cannot create TIFF");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(raster.Width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(raster.Height));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, 2);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    bool ok = true;
    for (int y = 0; y < raster.Height && ok; ++y)
        ok = TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(raster.Row(y)),
                               static_cast<std::uint32_t>(y), 0) == 1;
    TIFFClose(tiff);
    if (!ok)
        throw EBench(path + ": writing TIFF failed");
}

std::string PicturePath(const std::string& dir, int index)
{
    char name[32];
    std::snprintf(name, sizeof name, "/picture%02d", index + 1);
    return dir + name + kExtension[static_cast<std::size_t>(index % bfCount)];
}

void Generate(const TOptions& options, const std::string& dir)
{
    for (int i = 0; i < options.Count; ++i)
    {
        TRaster raster =
            MakePicture(options.Width, options.Height, static_cast<std::uint32_t>(i + 1));
        std::string path = PicturePath(dir, i);
        switch (i % bfCount)
        {
        case bfPng:
            WritePng(path, raster);
            break;
        case bfJpeg:
            WriteJpeg(path, raster);
            break;
        case bfBmp:
            WriteBmp(path, raster);
            break;
        default:
            WriteTiff(path, raster);
            break;
        }
    }
}

// Writes the pictures in a child, so this process's peak memory stays that of converting.
void GenerateInChild(const TOptions& options, const std::string& dir)
{
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        throw EBench(std::string("fork: ") + std::strerror(errno));
    if (child == 0)
    {
        int status = 0;
        try
        {
            Generate(options, dir);
        }
        catch (const std::exception& e)
        {
            std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
            status = 1;
        }
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    if (waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw EBench("writing the pictures failed");
}

// ------------------------------------------------------------------ measuring

struct TTally
{
    int Pictures = 0;
    int Failures = 0;
    double Seconds = 0;
    std::int64_t InBytes = 0;
    std::int64_t OutBytes = 0;
};

std::int64_t FileSize(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

double PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

void PrintRow(const char* name, const TTally& t, double megapixels)
{
    double perSecond = t.Seconds > 0 ? t.Pictures / t.Seconds : 0;
    std::printf("  %-5s %8d %9.2f %11.2f %9.1f %9.1f %8.1f\n", name, t.Pictures, t.Seconds,
                perSecond, t.Seconds > 0 ? megapixels * t.Pictures / t.Seconds : 0.0,
                static_cast<double>(t.InBytes) / 1e6, static_cast<double>(t.OutBytes) / 1e6);
}

int Run(const TOptions& options, const std::string& dir)
{
    std::array<TTally, bfCount> byFormat{};
    TTally all;
    double before = PeakMegabytes();
    for (int i = 0; i < options.Count; ++i)
    {
        std::string path = PicturePath(dir, i);
        TMemoryStream stream;
        auto start = std::chrono::steady_clock::now();
        std::string reason = TryReencodeAsJpeg(path, options.Quality, stream);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        TTally& t = byFormat[static_cast<std::size_t>(i % bfCount)];
        for (TTally* tally : {&t, &all})
        {
            tally->Seconds += took.count();
            if (reason.empty())
            {
                ++tally->Pictures;
                tally->InBytes += FileSize(path);
                tally->OutBytes += stream.Size();
            }
            else
                ++tally->Failures;
        }
        if (!reason.empty())
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), reason.c_str());
    }
    double megapixels = static_cast<double>(options.Width) * options.Height / 1e6;
    std::printf("%s: %d pictures of %d x %d, quality %d\n", kProgram, options.Count, options.Width,
                options.Height, options.Quality);
    std::printf("  %-5s %8s %9s %11s %9s %9s %8s\n", "", "pictures", "seconds", "pictures/s",
                "MP/s", "MB in", "MB out");
    for (std::size_t f = 0; f < bfCount; ++f)
        if (byFormat[f].Pictures + byFormat[f].Failures > 0)
            PrintRow(kFormatName[f], byFormat[f], megapixels);
    PrintRow("all", all, megapixels);
    std::printf("peak memory: %.0f MB (before converting: %.0f MB)\n", PeakMegabytes(), before);
    return all.Failures == 0 ? 0 : 1;
}

// The run reports to a window; here nobody watches, but skipped pictures are worth a line.
class TQuietObserver : public IConversionObserver
{
public:
    void SetStatusText(const std::string&) override {}
    void SetPercentText(const std::string&) override {}
    void SetProgressMax(int) override {}
    void SetProgressPosition(int) override {}
    void ProcessMessages() override {}
    bool CancelRequested() override { return false; }
    void PictureSkipped(int, const std::string& path, const std::string& reason) override
    {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), reason.c_str());
    }
};

std::string OutputPath(const std::string& dir)
{
    return dir + "/bench.pdf";
}

// The whole conversion, as pictova-cli runs it: every picture to a page of one PDF.
int RunConversion(const TOptions& options, const std::string& dir)
{
    std::vector<std::string> paths;
    for (int i = 0; i < options.Count; ++i)
        paths.push_back(PicturePath(dir, i));
    TConversionRun run;
    run.SetFileName(OutputPath(dir));
    TQuietObserver observer;
    auto start = std::chrono::steady_clock::now();
    run.Run(paths, options.Quality, TDocumentProperties{}, observer);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("whole conversion: %d pictures in %.2f s, %.2f pictures/s, PDF %.1f MB\n",
                options.Count, took.count(),
                took.count() > 0 ? options.Count / took.count() : 0.0,
                static_cast<double>(FileSize(OutputPath(dir))) / 1e6);
    std::printf("peak memory: %.0f MB\n", PeakMegabytes());
    return run.RunResult() == 1 ? 0 : 1;
}

void RemovePictures(const TOptions& options, const std::string& dir)
{
    for (int i = 0; i < options.Count; ++i)
        std::remove(PicturePath(dir, i).c_str());
    std::remove(OutputPath(dir).c_str());
    rmdir(dir.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    try
    {
        TOptions options = ParseArguments(argc, argv);
        std::string dir = options.Dir;
        bool keep = !dir.empty();
        if (keep)
        {
            if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
                throw EBench(dir + ": " + std::strerror(errno));
        }
        else
        {
            const char* tmp = std::getenv("TMPDIR");
            std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pictova-bench-XXXXXX";
            std::vector<char> buffer(pattern.begin(), pattern.end());
            buffer.push_back('\0');
            if (!mkdtemp(buffer.data()))
                throw EBench(pattern + ": " + std::strerror(errno));
            dir = buffer.data();
        }
        int result = 1;
        try
        {
            GenerateInChild(options, dir);
            result = Run(options, dir);
            if (result == 0)
                result = RunConversion(options, dir);
        }
        catch (...)
        {
            if (!keep)
                RemovePictures(options, dir);
            throw;
        }
        if (!keep)
            RemovePictures(options, dir);
        return result;
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        Usage(stderr);
        return 2;
    }
}
