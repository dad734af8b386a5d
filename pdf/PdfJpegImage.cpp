#include "pdf/PdfJpegImage.h"

#include <array>

#include "platform/Exceptions.h"

std::unique_ptr<TPdfImage> TPdfJpegImage::CreateImage(const TGraphic* graphic)
{
    const auto* jpeg = dynamic_cast<const TJPEGImage*>(graphic);
    if (jpeg == nullptr)
    {
        throw EPdfInvalidValue("only jpeg image is allowed.");
    }
    // The colour space must match the data, or viewers show garbage (a grey JPEG declared RGB
    // makes an invalid file); a header libjpeg cannot read reports 0 components.
    const char* colorSpace = nullptr;
    switch (jpeg->Components())
    {
    case 1:
        colorSpace = "DeviceGray";
        break;
    case 3:
        colorSpace = "DeviceRGB";
        break;
    case 4:
        colorSpace = "DeviceCMYK";
        break;
    default:
        throw EPdfInvalidImageFormat("only 1, 3 or 4 component jpeg is allowed.");
    }

    auto image = std::make_unique<TPdfImage>(nullptr);
    // The picture's bytes are shared, not copied: a page's JPEG is held once, and goes from
    // its buffer to the spool or the file.
    image->ShareData(jpeg->SharedData());
    TPdfDictionary& attributes = image->Attributes();
    attributes.Put("Type", std::make_unique<TPdfName>("XObject"));
    attributes.Put("Subtype", std::make_unique<TPdfName>("Image"));
    attributes.Put("ColorSpace", std::make_unique<TPdfName>(colorSpace));
    attributes.Put("Width", std::make_unique<TPdfNumber>(jpeg->Width()));
    attributes.Put("Height", std::make_unique<TPdfNumber>(jpeg->Height()));
    attributes.Put("BitsPerComponent", std::make_unique<TPdfNumber>(8));
    if (jpeg->Components() == 4 && jpeg->HasAdobeMarker())
    {
        // Adobe writes CMYK JPEGs inverted; the decode array turns them back.
        static constexpr std::array<int, 8> kInverted = {1, 0, 1, 0, 1, 0, 1, 0};
        attributes.Put("Decode", TPdfArray::CreateNumberArray(nullptr, kInverted));
    }
    attributes.LookupArray("Filter")->Append(std::make_unique<TPdfName>("DCTDecode"));
    return image;
}
