#include <cstdlib>

#include "app/imaging/PictureReader.h"
#include "app/imaging/Pixbuf.h"

namespace
{

class TBmpReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "BMP"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 2 && bytes.substr(0, 2) == "BM";
    }

    TRaster Read(std::string_view bytes) const override
    {
        // The loader allocates by the header's size, so the limit is checked on it first.
        if (bytes.size() < 18)
            throw EPictureError("truncated BMP");
        const std::uint32_t headerSize = ReadLe32(bytes, 14);
        std::int64_t width = 0;
        std::int64_t height = 0;
        if (headerSize == 12)
        {
            if (bytes.size() < 22)
                throw EPictureError("truncated BMP");
            width = ReadLe16(bytes, 18);
            height = ReadLe16(bytes, 20);
        }
        else
        {
            if (bytes.size() < 26)
                throw EPictureError("truncated BMP");
            width = static_cast<std::int32_t>(ReadLe32(bytes, 18));
            // Negative heights mark top-down rows.
            height = std::llabs(static_cast<std::int32_t>(ReadLe32(bytes, 22)));
        }
        CheckPictureSize(width, height);
        return DecodeWithPixbuf(bytes, "bmp", "BMP");
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewBmpReader()
{
    return std::make_unique<TBmpReader>();
}
