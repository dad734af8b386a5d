#pragma once

#include "report/PReport.h"

// A JPEG picture item: the picture's compressed bytes are embedded as they are.
class TPRJpegImage : public TPRImage
{
public:
    using TPRImage::TPRImage;

    const char* ClassName() const override { return "TPRJpegImage"; }

    // TPRImage: accepts an empty picture or a JPEG picture; anything else raises Exception
    // "only jpeg image is allowed.".
    void SetPicture(const TPicture* value) override;
    // TPRItem: as a bitmap item, but an unshared image takes Name followed by a fresh random
    // number for every attempt.
    void Print(TPRCanvas& canvas, const TRect& rect) override;
};
