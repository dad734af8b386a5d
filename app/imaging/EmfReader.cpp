#include "app/imaging/MetafileRenderer.h"
#include "app/imaging/PictureReader.h"
#include "platform/ByteOrder.h"

namespace
{

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmfSignature = 0x464D4520; // " EMF"

class TEmfReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "EMF"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 44 && ReadLe32(bytes, 0) == kEmrHeader &&
               ReadLe32(bytes, 40) == kEmfSignature;
    }

    TRaster Read(std::string_view bytes) const override
    {
        return RenderMetafileInHelper(mkEmf, bytes);
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewEmfReader()
{
    return std::make_unique<TEmfReader>();
}
