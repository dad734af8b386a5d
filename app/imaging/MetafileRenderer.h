#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/imaging/Raster.h"

// Metafiles are drawn by libraries that crash, loop or exhaust memory on some files, so they
// are drawn in the helper program pictova-metafile: the file goes in on its standard input,
// and width, height, channel count (32-bit little-endian each) and the pixels come back on its
// standard output. The helper runs in a process group of its own under limits of processor
// time, memory and picture size; a crash, a hang, a limit reached or bad output fails the
// picture with its reason, never the caller.

enum TMetafileKind
{
    mkWmf,
    mkEmf,
};

struct TMetafileLimits
{
    std::chrono::milliseconds WallTime{30000}; // then the helper's group is killed
    std::chrono::seconds CpuTime{10};          // RLIMIT_CPU
    std::uint64_t MemoryBytes = 2ULL << 30;    // RLIMIT_AS
    std::int64_t Pixels = 64LL * 1000 * 1000;  // the largest picture drawn
};

// The limits every later helper run gets; returns the previous ones. Tests lower them.
TMetafileLimits SetMetafileLimits(const TMetafileLimits& limits);

// The helper's path: $PICTOVA_METAFILE_HELPER, else pictova-metafile beside the running
// program or in ../lib/pictova from it (installed), else the build's bin folder.
std::string MetafileHelperPath();

// Runs the helper on a metafile's bytes. Throws EPictureError with the reason.
TRaster RenderMetafileInHelper(TMetafileKind kind, std::string_view bytes);
