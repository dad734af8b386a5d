#pragma once

// The small object layer the converter and the preview use to load pictures, make thumbnails,
// draw and save them as JPEG. It keeps the shape of the Windows imaging interface the
// application was written against (status codes, class ids, the encoder parameter block), with
// our decoders and our JPEG encoder underneath. No operation throws: each returns or keeps a
// status, and the reason of the last failure is kept beside it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/imaging/Raster.h"

class TStream;

struct GUID
{
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};
    friend bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;

// {1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}
inline constexpr GUID EncoderQuality{
    0x1D5BE4B5, 0xFA4A, 0x452D, {0x9C, 0xDD, 0x5D, 0xB3, 0x51, 0x05, 0xE7, 0xEB}};

// The class id of our JPEG encoder in the real encoder list.
inline constexpr CLSID kJpegEncoderClsid{
    0x6A3D6F1C, 0x52B4, 0x4E0C, {0x9F, 0x27, 0x4B, 0x1E, 0x80, 0xC5, 0x3A, 0x11}};

enum EncoderParameterValueType : std::uint32_t
{
    EncoderParameterValueTypeLong = 4, // 32-bit integers
};

struct EncoderParameter
{
    GUID Guid;
    std::uint32_t NumberOfValues = 0;
    std::uint32_t Type = 0;
    void* Value = nullptr; // borrowed: NumberOfValues values of Type
};

struct EncoderParameters
{
    std::uint32_t Count = 0;
    EncoderParameter Parameter[1];
};

// Status codes; 0 is success.
enum TGPStatus : std::int32_t
{
    gsOk = 0,
    gsGenericError = 1,
    gsInvalidParameter = 2,
    gsOutOfMemory = 3,
    gsWin32Error = 7,
    gsFileNotFound = 10,
    gsValueOverflow = 11,
    gsUnknownImageFormat = 13,
};

// One entry of the encoder list: its class id, MIME type, and what it does. Encode returns the
// complete encoded file or throws EPictureError (bad parameters, a picture it cannot take).
// Transcode, where present, is asked first for a picture that is still the undecoded JPEG file
// it was loaded from: it returns the encoded file made from those bytes directly, or "" when
// the pixels must be decoded and given to Encode.
struct TImageCodecInfo
{
    CLSID Clsid;
    std::string MimeType;
    std::function<std::string(const TRaster&, const EncoderParameters*)> Encode;
    std::function<std::string(std::string_view jpeg, const EncoderParameters*)> Transcode;
};

// The process-wide encoder list; the real one holds our JPEG encoder "image/jpeg".
const std::vector<TImageCodecInfo>& ImageEncoders();
// Replaces the list and returns the previous one (tests put in their own).
std::vector<TImageCodecInfo> SetImageEncoders(std::vector<TImageCodecInfo> encoders);

// The index of the last encoder whose MIME type equals mimeType exactly (letter case counts),
// or -1. clsid is written only on a match.
int FindEncoderClsid(const std::string& mimeType, CLSID& clsid);

// The JPEG encoder: EncoderQuality (one value of type Long) if given, else quality 75.
std::string EncodeJpegWithParameters(const TRaster& raster, const EncoderParameters* parameters);
// Its transcoder: a JPEG requantized to that quality in the DCT domain, or "" when the file is
// not one the DCT path takes (or the path is switched off).
std::string RequantizeJpegWithParameters(std::string_view jpeg,
                                         const EncoderParameters* parameters);

class TGPImage
{
public:
    // Loads the picture; the path is handed to the system unchanged. A picture that does not
    // load leaves Width and Height 0 and its reason in LastReason. A JPEG is only read and its
    // header checked here (its size is the upright one); it is decoded when pixels are first
    // needed, at the size a thumbnail needs, or not at all when Save can requantize it. A JPEG
    // whose data fail later keeps its size and fails those operations with the reason.
    explicit TGPImage(const std::string& fileName);
    // An image of pixels already decoded (RGB or grey).
    explicit TGPImage(TRaster raster);
    ~TGPImage();
    TGPImage(const TGPImage&) = delete;
    TGPImage& operator=(const TGPImage&) = delete;

    std::uint32_t Width() const;
    std::uint32_t Height() const;
    // The last failing status (gsOk while nothing failed) and its reason.
    int LastStatus() const { return m_lastStatus; }
    const std::string& LastReason() const { return m_lastReason; }

    // A new image of exactly width x height pixels, the whole picture scaled into it. On a
    // failure the new image is not loaded and carries the status. A JPEG not yet decoded is
    // decoded at the smallest of libjpeg's eighths that still covers the thumbnail, then
    // resampled to the exact size.
    std::unique_ptr<TGPImage> GetThumbnailImage(std::uint32_t width, std::uint32_t height);
    // Encodes with the encoder of the class id and writes the file at the stream's position.
    // The stream is left untouched unless the encoder succeeded.
    int Save(TStream& stream, const CLSID& clsid, const EncoderParameters* parameters);

    // The decoded pixels (RGB or grey), decoding them now if need be; null when the picture
    // did not load or does not decode. Borrowed.
    const TRaster* Pixels() const;

private:
    int Fail(int status, const std::string& reason) const;

    // Decoding is deferred, so even a const image may decode and fail on first use.
    mutable std::unique_ptr<TRaster> m_raster; // null until decoded
    mutable std::string m_jpeg;                // a JPEG file not yet decoded, else empty
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    mutable int m_lastStatus = gsOk;
    mutable std::string m_lastReason;
};

// Drawing into a raster surface (RGB or grey), borrowed for the object's lifetime.
class TGPGraphics
{
public:
    explicit TGPGraphics(TRaster& surface);
    TGPGraphics(const TGPGraphics&) = delete;
    TGPGraphics& operator=(const TGPGraphics&) = delete;

    // Draws the whole image scaled into the rectangle (surface pixels; may lie partly
    // outside). Transparency was flattened at load, so the image covers what it is drawn on.
    int DrawImage(const TGPImage& image, float x, float y, float width, float height);
    int LastStatus() const { return m_lastStatus; }

private:
    TRaster& m_surface;
    int m_lastStatus = gsOk;
};
