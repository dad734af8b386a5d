#include "pdf/PdfImages.h"

#include <mutex>
#include <string>

#include "pdf/PdfJpegImage.h"
#include "platform/Exceptions.h"

namespace
{

template <class TCreator>
class TCreatorClass : public TPdfImageCreatorClass
{
public:
    explicit TCreatorClass(const char* className) : m_className(className) {}
    const char* ClassName() const override { return m_className; }
    std::unique_ptr<TPdfImageCreator> Create() const override
    {
        return std::make_unique<TCreator>();
    }

private:
    const char* m_className;
};

const TCreatorClass<TPdfBitmapImage> kBitmapImageClass("TPdfBitmapImage");
const TCreatorClass<TPdfJpegImage> kJpegImageClass("TPdfJpegImage");

void PutName(TPdfDictionary& dictionary, std::string_view key, const char* value)
{
    dictionary.Put(key, std::make_unique<TPdfName>(value));
}

void PutNumber(TPdfDictionary& dictionary, std::string_view key, int value)
{
    dictionary.Put(key, std::make_unique<TPdfNumber>(value));
}

} // namespace

std::unique_ptr<TPdfImage> TPdfImageCreator::CreateImage(const TGraphic*)
{
    return nullptr;
}

std::unique_ptr<TPdfImage> TPdfBitmapImage::CreateImage(const TGraphic* graphic)
{
    // An empty picture is an empty bitmap. Other kinds of picture are not decoded here.
    TBitmap bitmap;
    if (graphic != nullptr)
    {
        const auto* source = dynamic_cast<const TBitmap*>(graphic);
        if (source == nullptr)
        {
            throw EPdfInvalidImageFormat("only bitmap image is allowed.");
        }
        bitmap = *source; // a private copy: the caller's picture is never changed
    }

    auto image = std::make_unique<TPdfImage>(nullptr);
    TPdfDictionary& attributes = image->Attributes();
    PutName(attributes, "Type", "XObject");
    PutName(attributes, "Subtype", "Image");

    const TPixelFormat source = bitmap.PixelFormat();
    const bool indexed = source == pf1bit || source == pf4bit || source == pf8bit;
    bitmap.SetPixelFormat(indexed ? pf8bit : pf24bit);

    const auto width = static_cast<std::size_t>(bitmap.Width());
    TMemoryStream& data = image->Data();
    if (indexed)
    {
        for (int y = 0; y < bitmap.Height(); ++y)
        {
            data.Write(bitmap.ScanLine(y), width); // one index per pixel, no row padding
        }
        attributes.Put("ColorSpace", CreateIndexedColorSpace(bitmap));
    }
    else
    {
        std::string row(width * 3, '\0');
        for (int y = 0; y < bitmap.Height(); ++y)
        {
            const std::uint8_t* pixels = bitmap.ScanLine(y);
            for (std::size_t x = 0; x < width; ++x)
            {
                // Rows hold blue, green, red; the samples go red first.
                row[3 * x] = static_cast<char>(pixels[3 * x + 2]);
                row[3 * x + 1] = static_cast<char>(pixels[3 * x + 1]);
                row[3 * x + 2] = static_cast<char>(pixels[3 * x]);
            }
            data.Write(row);
        }
        // A bitmap without rows declares no colour space.
        if (bitmap.Height() > 0)
        {
            PutName(attributes, "ColorSpace", "DeviceRGB");
        }
    }
    PutNumber(attributes, "Width", bitmap.Width());
    PutNumber(attributes, "Height", bitmap.Height());
    PutNumber(attributes, "BitsPerComponent", 8);
    return image;
}

std::unique_ptr<TPdfArray> TPdfBitmapImage::CreateIndexedColorSpace(const TBitmap& bitmap)
{
    if (bitmap.PixelFormat() != pf8bit)
    {
        throw EPdfInvalidImageFormat("only 8 bit color image is allowed.");
    }
    const std::vector<TPaletteEntry>& palette = bitmap.Palette();
    if (palette.empty())
    {
        throw EPdfInvalidImageFormat("failed to get Palette..");
    }

    // Always all 256 entries, so the highest index written stays 255.
    std::string lookup = "<";
    lookup.reserve(1 + 256 * 7 + 1);
    for (std::size_t index = 0; index < 256; ++index)
    {
        const TPaletteEntry entry = index < palette.size() ? palette[index] : TPaletteEntry{};
        for (const std::uint8_t channel : {entry.Red, entry.Green, entry.Blue})
        {
            AppendHexByte(lookup, channel);
        }
        lookup += ' ';
    }
    lookup += '>';

    auto binary = std::make_unique<TPdfBinary>();
    binary->Data().Write(lookup);
    auto colorSpace = std::make_unique<TPdfArray>(nullptr);
    colorSpace->Append(std::make_unique<TPdfName>("Indexed"));
    colorSpace->Append(std::make_unique<TPdfName>("DeviceRGB"));
    colorSpace->Append(std::make_unique<TPdfNumber>(255));
    colorSpace->Append(std::move(binary));
    return colorSpace;
}

void RegisterPdfImageCreators()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TNameRegistry& registry = TNameRegistry::Instance();
        registry.RegisterClass("Pdf-Bitmap", kBitmapImageClass);
        registry.RegisterClass("Pdf-Jpeg", kJpegImageClass);
    });
}

namespace
{

std::unique_ptr<TPdfImage> CreateWith(const TGraphic* graphic, std::string_view creatorName)
{
    RegisterPdfImageCreators();
    const auto* cls =
        dynamic_cast<const TPdfImageCreatorClass*>(TNameRegistry::Instance().Find(creatorName));
    if (cls == nullptr)
    {
        throw Exception("AddImage --InvalidImageClassName:" + std::string(creatorName));
    }
    return cls->Create()->CreateImage(graphic);
}

} // namespace

std::unique_ptr<TPdfImage> CreatePdfImage(const TPicture& picture, std::string_view creatorName)
{
    return CreateWith(picture.Graphic(), creatorName);
}

std::unique_ptr<TPdfImage> CreatePdfImage(const TGraphic& graphic, std::string_view creatorName)
{
    return CreateWith(&graphic, creatorName);
}
