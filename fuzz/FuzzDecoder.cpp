// One picture reader on a byte buffer, as the converter calls it: recognised by content, read,
// and flattened onto white. A reason (EPictureError) is a fine outcome; anything the sanitizers
// or libFuzzer catch is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "app/imaging/PictureReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::unique_ptr<IPictureReader> reader = PICTOVA_FUZZ_READER();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!reader->Recognises(bytes))
        return 0;
    try
    {
        TRaster raster = reader->Read(bytes);
        CheckPictureSize(raster.Width, raster.Height);
        if (raster.Pixels.size() != raster.RowBytes() * static_cast<std::size_t>(raster.Height))
            __builtin_trap(); // a reader's raster must hold exactly its pixels
        FlattenOntoWhite(raster);
    }
    catch (const EPictureError&)
    {
    }
    return 0;
}
