#include "report/PRJpegImage.h"

#include <string>

#include "platform/Exceptions.h"
#include "platform/Services.h"

void TPRJpegImage::SetPicture(const TPicture* value)
{
    if (value == nullptr)
    {
        Picture().Clear();
        return;
    }
    const TGraphic* graphic = value->Graphic();
    if (graphic != nullptr && dynamic_cast<const TJPEGImage*>(graphic) == nullptr)
    {
        throw Exception("only jpeg image is allowed.");
    }
    Picture().Assign(*value);
}

void TPRJpegImage::Print(TPRCanvas& canvas, const TRect& rect)
{
    if (!Printable())
    {
        return;
    }
    const TGraphic* graphic = Picture().Graphic();
    if (graphic == nullptr || graphic->Empty() ||
        dynamic_cast<const TJPEGImage*>(graphic) == nullptr)
    {
        return;
    }
    TPdfCanvas& pdfCanvas = PdfCanvasOf(canvas);
    const int pageHeight = PageHeight();
    TPdfDoc& doc = pdfCanvas.GetDoc();
    std::string name = Name();
    if (!SharedImage())
    {
        bool found = false;
        for (int attempt = 0; attempt < 65535; ++attempt)
        {
            const std::string candidate = Name() + std::to_string(Random().Next(65535));
            if (doc.FindXObject(candidate) == nullptr)
            {
                name = candidate;
                found = true;
                break;
            }
        }
        if (!found)
        {
            throw Exception("image count over max value..");
        }
    }
    EnsureImage(doc, name, *graphic, "Pdf-Jpeg");
    DrawImage(pdfCanvas, pageHeight, rect, name, *graphic);
}
