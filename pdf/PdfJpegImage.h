#pragma once

#include "pdf/PdfImages.h"

// JPEG pictures: the compressed bytes are embedded unchanged behind /DCTDecode, with the colour
// space their header declares (1 component grey, 3 RGB, 4 CMYK).
class TPdfJpegImage : public TPdfImageCreator
{
public:
    // TPdfImageCreator:
    // Raises EPdfInvalidValue for a picture that is not a JPEG, EPdfInvalidImageFormat for a
    // JPEG with another component count or an unreadable header.
    std::unique_ptr<TPdfImage> CreateImage(const TGraphic* graphic) override;
};
