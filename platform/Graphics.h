#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TStream;

// The least of a picture framework: a picture container, bitmaps with pixel formats and
// palettes, and a JPEG picture that holds its compressed bytes.

class TGraphic
{
public:
    virtual ~TGraphic() = default;
    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual std::unique_ptr<TGraphic> Clone() const = 0;
};

enum TPixelFormat
{
    pfDevice,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom
};

struct TPaletteEntry
{
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    std::uint8_t Flags = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

// A device-independent bitmap. Row 0 is the top row. Row layouts: 1 and 4 bits indexed, most
// significant bits first; 8 bits indexed; 15 bits x-r5-g5-b5 and 16 bits r5-g6-b5, little-endian
// 16-bit words; 24 bits blue, green, red; 32 bits blue, green, red, unused. pfDevice and pfCustom
// are held as 32 bits. Rows are padded to a multiple of 4 bytes.
class TBitmap : public TGraphic
{
public:
    TBitmap() = default;
    TBitmap(int width, int height, TPixelFormat format);

    // TGraphic:
    bool Empty() const override { return m_width == 0 || m_height == 0; }
    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    std::unique_ptr<TGraphic> Clone() const override;

    TPixelFormat PixelFormat() const { return m_format; }
    // Converts the pixels to the new format. To 1, 4 or 8 bits from a direct format the colours
    // are mapped onto a palette (exact when the picture has few enough colours).
    void SetPixelFormat(TPixelFormat format);
    // Resizes; the pixels are undefined (zero) afterwards.
    void SetSize(int width, int height);

    std::uint8_t* ScanLine(int row);
    const std::uint8_t* ScanLine(int row) const;
    std::size_t RowBytes() const { return m_rowBytes; }
    // Bits of storage per pixel: 16 for pf15bit, 32 for pfDevice and pfCustom.
    int BitsPerPixel() const;

    // The palette of an indexed bitmap (at most 2^bits entries); empty for direct formats.
    // A new indexed bitmap starts with black and white (1 bit), the 16 classic colours (4 bits)
    // or a grey ramp (8 bits); pixels whose index is beyond the palette read as black.
    const std::vector<TPaletteEntry>& Palette() const { return m_palette; }
    // Ignored for direct formats; longer palettes are cut to 2^bits entries.
    void SetPalette(std::vector<TPaletteEntry> palette);

private:
    int m_width = 0;
    int m_height = 0;
    TPixelFormat m_format = pf24bit;
    std::size_t m_rowBytes = 0;
    std::vector<std::uint8_t> m_pixels;
    std::vector<TPaletteEntry> m_palette;
};

// A JPEG picture: the complete compressed file bytes, and what its header says. The header is
// read through libjpeg; the data are never decoded here.
class TJPEGImage : public TGraphic
{
public:
    TJPEGImage() = default;

    // TGraphic:
    bool Empty() const override { return m_bytes == nullptr || m_bytes->empty(); }
    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    // Shares the bytes, which are never changed in place.
    std::unique_ptr<TGraphic> Clone() const override;

    // Takes every byte from the stream's position to its end; throws Exception when libjpeg
    // cannot read the header (the bytes are not kept then).
    void LoadFromStream(TStream& stream);
    // Writes exactly the held bytes.
    void SaveToStream(TStream& stream) const;
    // Holds the bytes as they are; a header that cannot be read leaves width, height and
    // components 0.
    void SetData(std::string bytes);
    const std::string& Data() const;
    // The same bytes as Data(), for a holder that must keep them without copying them (a PDF
    // image); null when there are none.
    std::shared_ptr<const std::string> SharedData() const { return m_bytes; }

    // 0 when the header could not be read.
    int Components() const { return m_components; }
    // True when the file has an Adobe APP14 marker (inverted CMYK as Adobe writes it).
    bool HasAdobeMarker() const { return m_adobeMarker; }

private:
    bool ReadHeader();

    // Read-only once set, so that copies of the picture and its PDF image share one buffer.
    std::shared_ptr<const std::string> m_bytes;
    int m_width = 0;
    int m_height = 0;
    int m_components = 0;
    bool m_adobeMarker = false;
};

// A picture container: holds one graphic, or none.
class TPicture
{
public:
    TPicture() = default;
    TPicture(const TPicture& other) { Assign(other); }
    TPicture& operator=(const TPicture& other)
    {
        Assign(other);
        return *this;
    }

    // The held graphic, borrowed; null when empty.
    TGraphic* Graphic() const { return m_graphic.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic) { m_graphic = std::move(graphic); }
    // Copies the other picture's graphic (or clears when it has none).
    void Assign(const TPicture& other);
    void Clear() { m_graphic.reset(); }

private:
    std::unique_ptr<TGraphic> m_graphic;
};
