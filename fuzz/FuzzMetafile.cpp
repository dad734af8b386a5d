// The metafile helper's work on its input, in-process: DrawWmf or DrawEmf on a byte buffer. In
// the converter this runs in pictova-metafile under limits, so a crash costs one picture; here
// every crash and sanitizer report is a finding to look at.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "app/imaging/metafile/MetafileDrawing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Small pictures only (the seeds are at most 480 x 360): the fuzzer explores records, not
    // the cost of allocating and clearing large surfaces for each input.
    constexpr std::int64_t kMaxPixels = 512 * 512;
    try
    {
        const TRaster raster =
            PICTOVA_FUZZ_DRAW(std::string(reinterpret_cast<const char*>(data), size), kMaxPixels);
        if (raster.Channels != 4 ||
            raster.Width * static_cast<std::int64_t>(raster.Height) > kMaxPixels)
            __builtin_trap();
    }
    catch (const EPictureError&)
    {
    }
    catch (const std::bad_alloc&)
    {
    }
    return 0;
}
