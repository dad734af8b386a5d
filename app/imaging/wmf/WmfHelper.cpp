// pictova-wmf: draws one WMF, read from standard input, with libwmf's gd device, and writes
// width, height and channel count (32-bit little-endian each) followed by RGBA pixels to
// standard output. A failure prints one line with the reason to standard error and exits 1.
// It runs as its own process because libwmf crashes or loops on some files.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <libwmf/api.h>
#include <libwmf/gd.h>

namespace
{

constexpr std::size_t kMaxInput = 256u << 20;
constexpr long long kMaxSide = 65500;
constexpr long long kMaxPixels = 256LL * 1000 * 1000;

int Fail(const std::string& reason)
{
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 1;
}

bool ReadAll(int fd, std::string& bytes)
{
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxInput)
            return false;
    }
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0)
    {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::uint16_t Le16(const std::string& b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}

void PutLe32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

// A placeable header gives the picture's box in its own units per inch: the size at 96 dpi.
bool PlaceableSize(const std::string& bytes, long long& width, long long& height)
{
    if (bytes.size() < 22 || Le16(bytes, 0) != 0xCDD7 || Le16(bytes, 2) != 0x9AC6)
        return false;
    const auto left = static_cast<std::int16_t>(Le16(bytes, 6));
    const auto top = static_cast<std::int16_t>(Le16(bytes, 8));
    const auto right = static_cast<std::int16_t>(Le16(bytes, 10));
    const auto bottom = static_cast<std::int16_t>(Le16(bytes, 12));
    const std::uint16_t inch = Le16(bytes, 14);
    if (inch == 0)
        return false;
    width = std::llround(std::abs(right - left) * 96.0 / inch);
    height = std::llround(std::abs(bottom - top) * 96.0 / inch);
    return width > 0 && height > 0;
}

class TApi
{
public:
    TApi() = default;
    ~TApi()
    {
        if (m_api != nullptr)
            wmf_api_destroy(m_api);
    }
    TApi(const TApi&) = delete;
    TApi& operator=(const TApi&) = delete;
    wmfAPI*& Ref() { return m_api; }
    wmfAPI* Get() const { return m_api; }

private:
    wmfAPI* m_api = nullptr;
};

int Run()
{
    std::string bytes;
    if (!ReadAll(0, bytes))
        return Fail("cannot read the WMF data");

    wmfAPI_Options options{};
    options.function = wmf_gd_function;
    // Messages about records libwmf skips would go to stderr as if the picture had failed.
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_DEBUG;
    TApi api;
    if (wmf_api_create(&api.Ref(), flags, &options) != wmf_E_None || api.Get() == nullptr)
        return Fail("cannot start the WMF library");
    auto* device = static_cast<wmf_gd_t*>(api.Get()->device_data);

    if (wmf_mem_open(api.Get(), reinterpret_cast<unsigned char*>(bytes.data()),
                     static_cast<long>(bytes.size())) != wmf_E_None)
        return Fail("bad WMF: unreadable header");
    wmfD_Rect bounds{};
    if (wmf_scan(api.Get(), 0, &bounds) != wmf_E_None)
        return Fail("bad WMF: unreadable records");

    long long width = 0;
    long long height = 0;
    if (!PlaceableSize(bytes, width, height))
    {
        // Without a placeable header one logical unit is one pixel (the default mapping): the
        // drawn bounds are the size.
        float w = 0;
        float h = 0;
        if (wmf_size(api.Get(), &w, &h) != wmf_E_None || !(w >= 0 && h >= 0 && w < 1e9f && h < 1e9f))
            return Fail("bad WMF: no size");
        width = std::llround(w);
        height = std::llround(h);
    }
    if (width <= 0 || height <= 0)
        return Fail("picture has no pixels");
    if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
        return Fail("picture too large: " + std::to_string(width) + " x " + std::to_string(height));

    device->type = wmf_gd_image;
    device->bbox = bounds;
    device->width = static_cast<unsigned int>(width);
    device->height = static_cast<unsigned int>(height);
    if (wmf_play(api.Get(), 0, &bounds) != wmf_E_None || device->gd_image == nullptr)
        return Fail("bad WMF: cannot draw the records");
    const int* pixels = wmf_gd_image_pixels(device->gd_image);
    if (pixels == nullptr)
        return Fail("bad WMF: no pixels drawn");

    const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::string out;
    out.reserve(12 + count * 4);
    PutLe32(out, static_cast<std::uint32_t>(width));
    PutLe32(out, static_cast<std::uint32_t>(height));
    PutLe32(out, 4);
    for (std::size_t i = 0; i < count; ++i)
    {
        // gd's true-colour pixel: 7-bit alpha (0 opaque, 127 clear) and 8-bit R, G, B.
        const auto p = static_cast<std::uint32_t>(pixels[i]);
        const std::uint32_t clear = (p >> 24) & 0x7F;
        out.push_back(static_cast<char>((p >> 16) & 0xFF));
        out.push_back(static_cast<char>((p >> 8) & 0xFF));
        out.push_back(static_cast<char>(p & 0xFF));
        out.push_back(static_cast<char>(255 - (clear * 255 + 63) / 127));
    }
    if (!WriteAll(1, out.data(), out.size()))
        return Fail("cannot write the pixels");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // In a process group of its own, Ctrl+C does not reach us; a converter that ends at once
    // (a second Ctrl+C) must not leave us drawing, or looping, on our own. The converter passes
    // its process id, for the case that it ended before we got here.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc > 1 && std::to_string(::getppid()) != argv[1])
        return Fail("the converter has ended");
    try
    {
        return Run();
    }
    catch (const std::exception& e)
    {
        return Fail(std::string("WMF renderer: ") + e.what());
    }
}
