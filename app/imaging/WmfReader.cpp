#include "app/imaging/MetafileRenderer.h"
#include "app/imaging/PictureReader.h"
#include "platform/ByteOrder.h"

namespace
{

class TWmfReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "WMF"; }

    bool Recognises(std::string_view bytes) const override
    {
        if (bytes.size() >= 4 && ReadLe32(bytes, 0) == 0x9AC6CDD7) // placeable header
            return true;
        // A plain header: type 1 (memory) or 2 (disk), 9 words long, version 1.0 or 3.0.
        return bytes.size() >= 18 && (ReadLe16(bytes, 0) == 1 || ReadLe16(bytes, 0) == 2) &&
               ReadLe16(bytes, 2) == 9 &&
               (ReadLe16(bytes, 4) == 0x0100 || ReadLe16(bytes, 4) == 0x0300);
    }

    TRaster Read(std::string_view bytes) const override
    {
        return RenderMetafileInHelper(mkWmf, bytes);
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewWmfReader()
{
    return std::make_unique<TWmfReader>();
}
