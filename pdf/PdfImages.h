#pragma once

#include <memory>
#include <string_view>

#include "pdf/PdfTypes.h"
#include "platform/Graphics.h"
#include "platform/NameRegistry.h"

// Image XObjects made from pictures. A creator, looked up by its registered name, turns one
// kind of picture into a TPdfImage that belongs to no document yet; the caller hands it to the
// document's AddImage.

// The base of all creators; holds no state.
class TPdfImageCreator
{
public:
    virtual ~TPdfImageCreator() = default;
    // The image made from graphic (null for an empty picture), owned by the caller; the base
    // makes none and returns null. On failure nothing is left behind.
    virtual std::unique_ptr<TPdfImage> CreateImage(const TGraphic* graphic);
};

// Bitmaps: 1, 4 and 8 bits become 8-bit indexed samples, every other format 24-bit RGB.
class TPdfBitmapImage : public TPdfImageCreator
{
public:
    // TPdfImageCreator:
    std::unique_ptr<TPdfImage> CreateImage(const TGraphic* graphic) override;

    // [/Indexed /DeviceRGB 255 <lookup>] for an 8-bit bitmap; palette entries the bitmap does
    // not have are listed as black.
    std::unique_ptr<TPdfArray> CreateIndexedColorSpace(const TBitmap& bitmap);
};

// The class object of a creator, entered in the name registry.
class TPdfImageCreatorClass : public TRegisteredClass
{
public:
    virtual std::unique_ptr<TPdfImageCreator> Create() const = 0;
};

// Enters "Pdf-Bitmap" and "Pdf-Jpeg" (and their class names) in the name registry. Runs once;
// CreatePdfImage calls it, an explicit call at start-up is harmless.
void RegisterPdfImageCreators();

// Makes an image of picture with the creator registered under creatorName (ignoring letter
// case). Raises Exception "AddImage --InvalidImageClassName:<name>" for an unknown name;
// returns null when the creator makes no image.
std::unique_ptr<TPdfImage> CreatePdfImage(const TPicture& picture, std::string_view creatorName);
std::unique_ptr<TPdfImage> CreatePdfImage(const TGraphic& graphic, std::string_view creatorName);
