#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/imaging/Raster.h"

// One decoder per picture format. A reader recognises its format by content, never by the file
// name, and turns the whole file's bytes into a raster (RGB, grey or RGBA). Every failure is an
// EPictureError with the reason; C libraries' errors are turned into it inside the reader.
class IPictureReader
{
public:
    virtual ~IPictureReader() = default;
    virtual const char* FormatName() const = 0;
    virtual bool Recognises(std::string_view bytes) const = 0;
    virtual TRaster Read(std::string_view bytes) const = 0;
};

std::unique_ptr<IPictureReader> NewJpegReader();
std::unique_ptr<IPictureReader> NewPngReader();
std::unique_ptr<IPictureReader> NewGifReader();
std::unique_ptr<IPictureReader> NewTiffReader();
std::unique_ptr<IPictureReader> NewBmpReader();
std::unique_ptr<IPictureReader> NewIcoReader();
std::unique_ptr<IPictureReader> NewEmfReader();
std::unique_ptr<IPictureReader> NewWmfReader();

// Every reader, in the order they are asked.
const std::vector<std::unique_ptr<IPictureReader>>& PictureReaders();

// The reader that recognises the bytes, or null.
const IPictureReader* FindPictureReader(std::string_view bytes);

// Decodes bytes of any accepted format and flattens transparency onto white: the result is RGB
// or grey. Throws EPictureError ("not a picture" when no reader recognises them).
TRaster DecodePicture(std::string_view bytes);

// Reads a whole file; the path is handed to the system unchanged. Throws EPictureError
// "file not found", "not a regular file", "cannot read: <reason>" or "file too large".
std::string ReadPictureFile(const std::string& path);

// ReadPictureFile, then DecodePicture.
TRaster DecodePictureFile(const std::string& path);
