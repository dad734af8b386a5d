// pictova-metafile KIND PARENT-PID MAX-PIXELS: draws one metafile (KIND "wmf" or "emf") read
// from standard input and writes width, height and channel count (32-bit little-endian each)
// followed by RGBA pixels to standard output. A failure prints one line with the reason to
// standard error and exits 1. It runs as its own process, under the limits the converter sets,
// because the metafile libraries crash, loop or exhaust memory on some files.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "app/imaging/metafile/MetafileDrawing.h"

namespace
{

constexpr std::size_t kMaxInput = 256U << 20;

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
        {
            if (errno == EINTR)
                continue;
            return false;
        }
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
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void PutLe32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::string OutOfMemory(const char* kindName)
{
    std::string reason = std::string(kindName) + " renderer ran out of memory";
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        reason += " (limit " + std::to_string(limit.rlim_cur >> 20) + " MB)";
    return reason;
}

int Run(const std::string& kind, std::int64_t maxPixels)
{
    const bool wmf = kind == "wmf";
    const char* kindName = wmf ? "WMF" : "EMF";
    try
    {
        std::string bytes;
        if (!ReadAll(0, bytes))
            return Fail(std::string("cannot read the ") + kindName + " data");
        const TRaster raster =
            wmf ? DrawWmf(std::move(bytes), maxPixels) : DrawEmf(bytes, maxPixels);
        std::string header;
        PutLe32(header, static_cast<std::uint32_t>(raster.Width));
        PutLe32(header, static_cast<std::uint32_t>(raster.Height));
        PutLe32(header, static_cast<std::uint32_t>(raster.Channels));
        if (!WriteAll(1, header.data(), header.size()) ||
            !WriteAll(1, raster.Pixels.data(), raster.Pixels.size()))
            return Fail("cannot write the pixels");
        return 0;
    }
    catch (const std::bad_alloc&)
    {
        return Fail(OutOfMemory(kindName));
    }
    catch (const std::exception& e)
    {
        return Fail(e.what());
    }
}

} // namespace

int main(int argc, char** argv)
{
    // In a process group of its own, Ctrl+C does not reach us; a converter that ends at once
    // (a second Ctrl+C) must not leave us drawing, or looping, on our own. The converter passes
    // its process id, for the case that it ended before we got here.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 4 || (std::string(argv[1]) != "wmf" && std::string(argv[1]) != "emf"))
        return Fail("usage: pictova-metafile wmf|emf PARENT-PID MAX-PIXELS");
    if (std::to_string(::getppid()) != argv[2])
        return Fail("the converter has ended");
    char* end = nullptr;
    const long long maxPixels = std::strtoll(argv[3], &end, 10);
    if (end == argv[3] || *end != '\0' || maxPixels <= 0)
        return Fail("usage: pictova-metafile wmf|emf PARENT-PID MAX-PIXELS");
    return Run(argv[1], maxPixels);
}
