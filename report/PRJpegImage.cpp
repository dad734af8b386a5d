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
        // A new random number for every attempt.
        name = FreeImageName(doc, [] { return Random().Next(65535); });
    }
    EnsureImage(doc, name, *graphic, "Pdf-Jpeg");
    DrawImage(pdfCanvas, pageHeight, rect, name, *graphic);
}
