// EMF: converted to SVG in memory, then drawn by the SVG renderer at the size the header's
// frame gives at 96 dpi. Runs in the metafile helper only.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <emf2svg.h>
#include <librsvg/rsvg.h>

#include "app/imaging/CairoRaster.h"
#include "app/imaging/MetafileRenderer.h"
#include "app/imaging/RasterOperations.h"
#include "app/imaging/metafile/EmfDashGaps.h"
#include "app/imaging/metafile/EmfFills.h"
#include "app/imaging/metafile/EmfPlusFills.h"
#include "app/imaging/metafile/EmfRecords.h"
#include "app/imaging/metafile/MetafileDrawing.h"
#include "app/imaging/metafile/PenDashes.h"
#include "platform/ByteOrder.h"

namespace
{

constexpr std::uint32_t kEmfSignature = 0x464D4520; // " EMF"
constexpr std::size_t kBitBltFixed = 100;
constexpr std::size_t kStretchBltFixed = 108;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::size_t kStretchDibitsFixed = 80;
// A few bytes of compressed data can claim a huge bitmap: expansion stops at these sizes.
constexpr std::uint64_t kMaxBitmapPixels = 1u << 24;
constexpr std::size_t kMaxPreparedBytes = std::size_t{1} << 28;

// A bitmap of an EMR_STRETCHDIBITS record, decoded top row first as 0xRRGGBB.
struct TDib
{
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::vector<std::uint32_t> Pixels;
};

// The bitmap of a record as it is stored: the header, its palette and the pixel bytes, all
// checked to lie inside the record. Empty when the record carries no bitmap.
struct TDibSource
{
    std::string_view Info;
    std::string_view Bits;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint16_t BitCount = 0;
    std::uint32_t Compression = 0;
};

bool FindDib(std::string_view record, TDibSource& dib)
{
    const std::uint32_t offInfo = ReadLe32(record, 48);
    const std::uint32_t cbInfo = ReadLe32(record, 52);
    const std::uint32_t offBits = ReadLe32(record, 56);
    const std::uint32_t cbBits = ReadLe32(record, 60);
    if (cbInfo < 40 || offInfo > record.size() || cbInfo > record.size() - offInfo ||
        offBits > record.size() || cbBits > record.size() - offBits)
        return false;
    dib.Info = record.substr(offInfo, cbInfo);
    dib.Bits = record.substr(offBits, cbBits);
    if (ReadLe32(dib.Info, 0) < 40 || ReadLe32(dib.Info, 0) > cbInfo)
        return false;
    dib.Width = static_cast<std::int32_t>(ReadLe32(dib.Info, 4));
    dib.Height = static_cast<std::int32_t>(ReadLe32(dib.Info, 8));
    dib.BitCount = static_cast<std::uint16_t>(ReadLe32(dib.Info, 12) >> 16);
    dib.Compression = ReadLe32(dib.Info, 16);
    return true;
}

bool IsRle(const TDibSource& dib)
{
    return (dib.Compression == kBiRle8 && dib.BitCount == 8) ||
           (dib.Compression == kBiRle4 && dib.BitCount == 4);
}

// Expands a BI_RLE8 or BI_RLE4 stream into palette indices, bottom row first. Every read and
// write is checked: a stream that runs past its data, its row or its last row is refused.
std::vector<std::uint8_t> ExpandRle(const TDibSource& dib, std::uint32_t width,
                                    std::uint32_t height)
{
    const bool four = dib.Compression == kBiRle4;
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(width) * height, 0);
    const std::string_view in = dib.Bits;
    std::size_t at = 0;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    const auto next = [&]() -> std::uint8_t {
        if (at >= in.size())
            throw EPictureError("bad EMF: compressed bitmap ends early");
        return static_cast<std::uint8_t>(in[at++]);
    };
    const auto put = [&](std::uint8_t index) {
        if (y >= height || x >= width)
            throw EPictureError("bad EMF: compressed bitmap runs outside the bitmap");
        indices[static_cast<std::size_t>(y) * width + x] = index;
        ++x;
    };
    while (at < in.size())
    {
        const std::uint8_t count = next();
        const std::uint8_t value = next();
        if (count > 0)
        {
            for (unsigned i = 0; i < count; ++i)
                put(four ? static_cast<std::uint8_t>(i % 2 == 0 ? value >> 4 : value & 0x0F)
                         : value);
        }
        else if (value == 0) // end of line
        {
            x = 0;
            ++y;
        }
        else if (value == 1) // end of bitmap
            break;
        else if (value == 2) // move right and up
        {
            x += next();
            y += next();
            if (x > width || y > height)
                throw EPictureError("bad EMF: compressed bitmap moves outside the bitmap");
        }
        else // a literal run, padded to a whole 16-bit word
        {
            const std::size_t bytes = four ? (value + 1u) / 2u : value;
            if (bytes > in.size() - at)
                throw EPictureError("bad EMF: compressed bitmap ends early");
            for (unsigned i = 0; i < value; ++i)
            {
                const auto byte = static_cast<std::uint8_t>(in[at + (four ? i / 2 : i)]);
                put(four ? static_cast<std::uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0x0F) : byte);
            }
            at += bytes + (bytes % 2);
        }
    }
    return indices;
}

// Decodes a bitmap the pair merge understands: palette bitmaps (plain or compressed) and plain
// 24- or 32-bit ones. Returns false for other kinds, which are then left to the converter.
bool DecodeDib(const TDibSource& dib, TDib& out)
{
    if (dib.Width <= 0 || dib.Height == 0 || dib.Height == INT32_MIN)
        return false;
    const bool topDown = dib.Height < 0;
    const auto width = static_cast<std::uint32_t>(dib.Width);
    const auto height = static_cast<std::uint32_t>(topDown ? -dib.Height : dib.Height);
    if (std::uint64_t{width} * height > kMaxBitmapPixels)
        throw EPictureError("bad EMF: bitmap too large");
    const std::uint32_t infoSize = ReadLe32(dib.Info, 0);
    out.Width = width;
    out.Height = height;
    out.Pixels.assign(static_cast<std::size_t>(width) * height, 0);
    const auto row = [&](std::uint32_t stored) { // the output row of a stored row
        return static_cast<std::size_t>(topDown ? stored : height - 1 - stored) * width;
    };
    if (dib.BitCount <= 8)
    {
        if (dib.BitCount != 1 && dib.BitCount != 4 && dib.BitCount != 8)
            return false;
        std::uint32_t colours = ReadLe32(dib.Info, 32);
        if (colours == 0 || colours > (1u << dib.BitCount))
            colours = 1u << dib.BitCount;
        if (std::uint64_t{infoSize} + 4ull * colours > dib.Info.size())
            return false;
        std::vector<std::uint32_t> palette(1u << dib.BitCount, 0);
        for (std::uint32_t i = 0; i < colours; ++i)
            palette[i] = ReadLe32(dib.Info, infoSize + 4 * i) & 0xFFFFFF;
        if (IsRle(dib))
        {
            if (topDown)
                throw EPictureError("bad EMF: compressed bitmap stored top row first");
            const std::vector<std::uint8_t> indices = ExpandRle(dib, width, height);
            for (std::uint32_t y = 0; y < height; ++y)
                for (std::uint32_t x = 0; x < width; ++x)
                    out.Pixels[row(y) + x] =
                        palette[indices[static_cast<std::size_t>(y) * width + x]];
            return true;
        }
        if (dib.Compression != kBiRgb)
            return false;
        const std::uint64_t stride = (std::uint64_t{width} * dib.BitCount + 31) / 32 * 4;
        if (stride * height > dib.Bits.size())
            return false;
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
            {
                const std::uint64_t bit = std::uint64_t{x} * dib.BitCount;
                const auto byte = static_cast<std::uint8_t>(dib.Bits[y * stride + bit / 8]);
                const unsigned shift = 8u - dib.BitCount - static_cast<unsigned>(bit % 8);
                const unsigned index = (byte >> shift) & ((1u << dib.BitCount) - 1u);
                out.Pixels[row(y) + x] = palette[index];
            }
        return true;
    }
    if ((dib.BitCount != 24 && dib.BitCount != 32) || dib.Compression != kBiRgb)
        return false;
    const std::uint32_t bytesPerPixel = dib.BitCount / 8u;
    const std::uint64_t stride = (std::uint64_t{width} * bytesPerPixel + 3) / 4 * 4;
    if (stride * height > dib.Bits.size())
        return false;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
        {
            const std::size_t at = y * stride + std::size_t{x} * bytesPerPixel;
            const auto byte = [&](std::size_t i) {
                return static_cast<std::uint8_t>(dib.Bits[at + i]);
            };
            out.Pixels[row(y) + x] =
                std::uint32_t{byte(2)} << 16 | std::uint32_t{byte(1)} << 8 | byte(0);
        }
    return true;
}

// An EMR_STRETCHDIBITS record like `model` (same place, source and size) carrying `dib` as a
// plain bitmap, 32-bit with alpha when `alpha` is given, otherwise 24-bit.
std::string MakeStretchDibits(std::string_view model, const TDib& dib,
                              const std::vector<std::uint8_t>* alpha, std::uint32_t rop)
{
    const std::uint32_t bitCount = alpha != nullptr ? 32 : 24;
    const std::size_t stride = (std::size_t{dib.Width} * (bitCount / 8) + 3) / 4 * 4;
    const std::size_t bitsSize = stride * dib.Height;
    std::string record(model.substr(0, kStretchDibitsFixed));
    PutLe32(record, 48, static_cast<std::uint32_t>(kStretchDibitsFixed));
    PutLe32(record, 52, 40);
    PutLe32(record, 56, static_cast<std::uint32_t>(kStretchDibitsFixed + 40));
    PutLe32(record, 60, static_cast<std::uint32_t>(bitsSize));
    PutLe32(record, 64, 0); // DIB_RGB_COLORS
    PutLe32(record, 68, rop);
    for (std::uint32_t value : {40u, dib.Width, dib.Height, 1u | bitCount << 16, kBiRgb,
                                static_cast<std::uint32_t>(bitsSize), 0u, 0u, 0u, 0u})
        AppendLe32(record, value);
    const std::size_t bitsAt = record.size();
    record.resize(bitsAt + bitsSize, '\0');
    for (std::uint32_t y = 0; y < dib.Height; ++y) // stored bottom row first
    {
        const std::size_t source = static_cast<std::size_t>(dib.Height - 1 - y) * dib.Width;
        char* out = record.data() + bitsAt + y * stride;
        for (std::uint32_t x = 0; x < dib.Width; ++x)
        {
            const std::uint32_t colour = dib.Pixels[source + x];
            *out++ = static_cast<char>(colour & 0xFF);
            *out++ = static_cast<char>((colour >> 8) & 0xFF);
            *out++ = static_cast<char>((colour >> 16) & 0xFF);
            if (alpha != nullptr)
                *out++ = static_cast<char>((*alpha)[source + x]);
        }
    }
    PutLe32(record, 4, static_cast<std::uint32_t>(record.size()));
    return record;
}

bool SamePlacement(std::string_view a, std::string_view b)
{
    // Bounds, destination, source rectangle and destination size.
    for (std::size_t offset : {8u, 12u, 16u, 20u, 24u, 28u, 32u, 36u, 40u, 44u, 72u, 76u})
        if (ReadLe32(a, offset) != ReadLe32(b, offset))
            return false;
    return true;
}

// A bitmap drawn by EMR_BITBLT or EMR_STRETCHBLT, as the EMR_STRETCHDIBITS record that draws
// the same, so that one kind of record carries every bitmap below; empty for a record without
// a bitmap (a pattern or a plain fill).
std::string BltAsStretchDibits(std::string_view record)
{
    const std::uint32_t type = ReadLe32(record, 0);
    const std::size_t fixed = type == kEmrBitBlt ? kBitBltFixed : kStretchBltFixed;
    if (record.size() < fixed || ReadLe32(record, 88) == 0) // no bitmap
        return "";
    const std::uint32_t offInfo = ReadLe32(record, 84);
    const std::uint32_t cbInfo = ReadLe32(record, 88);
    const std::uint32_t offBits = ReadLe32(record, 92);
    const std::uint32_t cbBits = ReadLe32(record, 96);
    if (offInfo > record.size() || cbInfo > record.size() - offInfo || offBits > record.size() ||
        cbBits > record.size() - offBits)
        return "";
    const std::uint32_t cxDest = ReadLe32(record, 32);
    const std::uint32_t cyDest = ReadLe32(record, 36);
    const std::uint32_t cxSrc = type == kEmrBitBlt ? cxDest : ReadLe32(record, 100);
    const std::uint32_t cySrc = type == kEmrBitBlt ? cyDest : ReadLe32(record, 104);
    std::string out;
    for (std::uint32_t value : {kEmrStretchDibits,
                                0U,
                                ReadLe32(record, 8),
                                ReadLe32(record, 12),
                                ReadLe32(record, 16),
                                ReadLe32(record, 20),
                                ReadLe32(record, 24),
                                ReadLe32(record, 28),
                                ReadLe32(record, 44),
                                ReadLe32(record, 48),
                                cxSrc,
                                cySrc,
                                static_cast<std::uint32_t>(kStretchDibitsFixed),
                                cbInfo,
                                static_cast<std::uint32_t>(kStretchDibitsFixed) + cbInfo,
                                cbBits,
                                ReadLe32(record, 80),
                                ReadLe32(record, 40),
                                cxDest,
                                cyDest})
        AppendLe32(out, value);
    out.append(record.substr(offInfo, cbInfo));
    out.append(record.substr(offBits, cbBits));
    out.resize((out.size() + 3) / 4 * 4, '\0');
    PutLe32(out, 4, static_cast<std::uint32_t>(out.size()));
    return out;
}

// Pens as the converter can be told to draw them. It draws an EMR_CREATEPEN pen a unit wide
// whatever its width, the width of a geometric EMR_EXTCREATEPEN pen in logical units as if they
// were device pixels, and a cosmetic pen (an EMR_CREATEPEN or EMR_EXTCREATEPEN pen of width 0,
// or a cosmetic EMR_EXTCREATEPEN one) a unit wide scaled with the picture and its transforms,
// or not at all, while the platform draws it one device pixel wide. An EMR_CREATEPEN pen
// becomes the EMR_EXTCREATEPEN pen of its width, and geometric widths are given in device
// pixels; the converter draws a dashed one with dashes MendDrawing can tell apart by their
// lengths. A cosmetic pen becomes a geometric one of width 0, which the converter writes with a
// stroke width of 0 that no other pen gives; its dashes are then all of length 0, so its end
// cap tells dots (square) from dashes (flat), as the caps of a one-pixel line do not show.
// Returns the record to use instead, or empty for none.
constexpr std::uint32_t kExtPenStyle = 28; // of EMR_EXTCREATEPEN, then the width
constexpr std::uint32_t kPenGeometric = 0x00010000;
constexpr std::uint32_t kPenTypeMask = 0x000F0000;
constexpr std::uint32_t kPenCapSquare = 0x00000100;
constexpr std::uint32_t kPenCapFlat = 0x00000200;

std::uint32_t CosmeticStyle(unsigned kind)
{
    return kPenGeometric | kind | (kind == kPenDot ? kPenCapSquare : kPenCapFlat);
}

std::string PenAsExtPen(std::string_view record, double scale)
{
    constexpr unsigned kInsideFrame = 6; // drawn as a solid pen
    // The converter scales coordinates by the mapping mode but not pen widths: a geometric
    // pen's width in logical units becomes one in device pixels (at least one).
    const auto scaled = [scale](std::uint32_t width) {
        const double pixels = std::round(static_cast<double>(width) * scale);
        return static_cast<std::uint32_t>(
            std::clamp(std::isfinite(pixels) ? pixels : 1.0, 1.0, 1e6));
    };
    if (ReadLe32(record, 0) == kEmrExtCreatePen)
    {
        if (record.size() < 52)
            return "";
        const std::uint32_t style = ReadLe32(record, kExtPenStyle);
        const std::uint32_t width = ReadLe32(record, kExtPenStyle + 4);
        const unsigned kind = style & kPenStyleMask;
        if (kind == kPenNull)
            return "";
        std::string out(record);
        if ((style & kPenTypeMask) != 0 && width != 0)
        {
            if (scaled(width) == width)
                return "";
            PutLe32(out, kExtPenStyle + 4, scaled(width));
            return out;
        }
        if (kind > kPenDashDotDot)
            return "";
        PutLe32(out, kExtPenStyle, CosmeticStyle(kind));
        PutLe32(out, kExtPenStyle + 4, 0);
        return out;
    }
    if (record.size() < 28)
        return "";
    const std::uint32_t style = ReadLe32(record, 12);
    unsigned kind = style & kPenStyleMask;
    kind = kind == kInsideFrame ? kPenSolid : kind;
    const auto width = static_cast<std::int32_t>(ReadLe32(record, 16));
    if (kind > kPenDashDotDot || kind == kPenNull)
        return "";
    std::string out;
    for (std::uint32_t value : {kEmrExtCreatePen, 52U, ReadLe32(record, 8), 0U, 0U, 0U, 0U,
                                width > 0 ? kPenGeometric | kind : CosmeticStyle(kind),
                                width > 0 ? scaled(static_cast<std::uint32_t>(width)) : 0U,
                                0U /* a solid brush */, ReadLe32(record, 24), 0U, 0U})
        AppendLe32(out, value);
    return out;
}

// A world transform: points are row vectors, p' = p * M.
struct TXform
{
    double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
};

TXform ReadXform(std::string_view record, std::size_t at)
{
    float f[6];
    for (std::size_t i = 0; i < 6; ++i)
    {
        const std::uint32_t bits = ReadLe32(record, at + 4 * i);
        std::memcpy(&f[i], &bits, sizeof bits);
    }
    return {f[0], f[1], f[2], f[3], f[4], f[5]};
}

// a applied first, then b.
TXform Times(const TXform& a, const TXform& b)
{
    return {a.M11 * b.M11 + a.M12 * b.M21,      a.M11 * b.M12 + a.M12 * b.M22,
            a.M21 * b.M11 + a.M22 * b.M21,      a.M21 * b.M12 + a.M22 * b.M22,
            a.Dx * b.M11 + a.Dy * b.M21 + b.Dx, a.Dx * b.M12 + a.Dy * b.M22 + b.Dy};
}

std::string SetWorldTransformRecord(const TXform& x)
{
    std::string out;
    AppendLe32(out, kEmrSetWorldTransform);
    AppendLe32(out, 32);
    for (double value : {x.M11, x.M12, x.M21, x.M22, x.Dx, x.Dy})
    {
        const auto f = static_cast<float>(value);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        AppendLe32(out, bits);
    }
    return out;
}

// The converter keeps the world transform and the mapping across RestoreDC, so everything drawn
// after a transformed part (a logo scaled into a corner, say) came out transformed as well. The
// transform and mapping each SaveDC saves are followed here, and what RestoreDC brings back is
// set again after it. The mapping also gives the device pixels a logical unit makes
// (PenAsExtPen).
class TTransformStack
{
public:
    // pixelsPerMm: the reference device's, from the header.
    explicit TTransformStack(double pixelsPerMm) : m_pixelsPerMm(pixelsPerMm) {}

    // Device pixels per logical unit across, as the converter maps coordinates.
    double PixelsPerUnit() const
    {
        switch (m_mapping.Mode)
        {
        case 2: // MM_LOMETRIC
            return 0.1 * m_pixelsPerMm;
        case 3: // MM_HIMETRIC
            return 0.01 * m_pixelsPerMm;
        case 4: // MM_LOENGLISH
            return 0.254 * m_pixelsPerMm;
        case 5: // MM_HIENGLISH
            return 0.0254 * m_pixelsPerMm;
        case 6: // MM_TWIPS
            return 25.4 / 1440 * m_pixelsPerMm;
        case 7: // MM_ISOTROPIC
        case 8: // MM_ANISOTROPIC
            return m_mapping.Window[0] != 0
                       ? std::fabs(static_cast<double>(m_mapping.Viewport[0]) / m_mapping.Window[0])
                       : 1;
        default:
            return 1;
        }
    }

    // Where logical x and y grow on the page.
    TLogicalAxes Axes() const
    {
        if (m_mapping.Mode >= 2 && m_mapping.Mode <= 6) // the fixed modes: y grows upwards
            return {1, -1};
        if (m_mapping.Mode == 7 || m_mapping.Mode == 8)
        {
            const auto sign = [this](std::size_t i) {
                return (m_mapping.Viewport[i] < 0) != (m_mapping.Window[i] < 0) ? -1 : 1;
            };
            return {sign(0), sign(1)};
        }
        return {};
    }

    // Follows one record; returns the records to add after it.
    std::vector<std::string> After(std::string_view record)
    {
        const std::uint32_t type = ReadLe32(record, 0);
        switch (type)
        {
        case kEmrSetWorldTransform:
            if (record.size() >= 32)
                m_current = ReadXform(record, 8);
            return {};
        case kEmrModifyWorldTransform:
            if (record.size() >= 36)
                Modify(ReadXform(record, 8), ReadLe32(record, 32));
            return {};
        case kEmrSetMapMode:
            if (record.size() >= 12)
                m_mapping.Mode = ReadLe32(record, 8);
            return {};
        case kEmrSetWindowExtEx:
        case kEmrSetViewportExtEx:
        case kEmrSetWindowOrgEx:
        case kEmrSetViewportOrgEx:
            if (record.size() >= 16)
                *m_mapping.Field(type) = {static_cast<std::int32_t>(ReadLe32(record, 8)),
                                          static_cast<std::int32_t>(ReadLe32(record, 12))};
            return {};
        case kEmrSaveDc:
            if (m_saved.size() < kMaxSaved)
                m_saved.push_back({m_current, m_mapping});
            return {};
        case kEmrRestoreDc:
        {
            std::pair<TXform, TMapping> state;
            if (record.size() < 12 || !RestoreSaved(m_saved, ReadLe32(record, 8), state))
                return {};
            m_current = state.first;
            std::vector<std::string> out{SetWorldTransformRecord(m_current)};
            if (state.second.Mode != m_mapping.Mode)
                out.push_back(EmfRecord(kEmrSetMapMode, {state.second.Mode}));
            for (std::uint32_t field : {kEmrSetWindowExtEx, kEmrSetViewportExtEx,
                                        kEmrSetWindowOrgEx, kEmrSetViewportOrgEx})
                if (*state.second.Field(field) != *m_mapping.Field(field))
                    out.push_back(EmfRecord(
                        field, {static_cast<std::uint32_t>(state.second.Field(field)->at(0)),
                                static_cast<std::uint32_t>(state.second.Field(field)->at(1))}));
            m_mapping = state.second;
            return out;
        }
        default:
            return {};
        }
    }

private:
    void Modify(const TXform& x, std::uint32_t mode)
    {
        if (mode == 1) // MWT_IDENTITY
            m_current = TXform{};
        else if (mode == 2) // MWT_LEFTMULTIPLY
            m_current = Times(x, m_current);
        else if (mode == 3) // MWT_RIGHTMULTIPLY
            m_current = Times(m_current, x);
        else if (mode == 4) // MWT_SET
            m_current = x;
    }

    // The mapping mode, and the extents and origins (across, down) as the records give them.
    struct TMapping
    {
        using TPair = std::array<std::int32_t, 2>;
        std::uint32_t Mode = 1; // MM_TEXT
        TPair Window{1, 1};
        TPair Viewport{1, 1};
        TPair WindowOrigin{0, 0};
        TPair ViewportOrigin{0, 0};

        TPair* Field(std::uint32_t type)
        {
            switch (type)
            {
            case kEmrSetWindowExtEx:
                return &Window;
            case kEmrSetViewportExtEx:
                return &Viewport;
            case kEmrSetWindowOrgEx:
                return &WindowOrigin;
            default:
                return &ViewportOrigin;
            }
        }
    };

    static constexpr std::size_t kMaxSaved = 1 << 16;
    double m_pixelsPerMm;
    TXform m_current;
    TMapping m_mapping;
    std::vector<std::pair<TXform, TMapping>> m_saved;
};

// The platform turns a geometric pen's width into pixels when it draws with it, by the mapping
// in force then, while PenAsExtPen converts it by the mapping in force when the pen is made. A
// pen selected, or kept selected, under another mapping than the one it was converted by is
// made again, from its record as the file gave it, and selected again.
class TPenScales
{
public:
    // Follows one record before it is drawn, scale the device pixels a logical unit makes:
    // the records to draw before it.
    std::vector<std::string> Before(std::string_view record, double scale)
    {
        const std::uint32_t type = ReadLe32(record, 0);
        if (record.size() < 12)
            return {};
        const std::uint32_t slot = ReadLe32(record, 8);
        if (type == kEmrCreatePen || type == kEmrExtCreatePen)
            m_pens[slot] = {std::string(record), scale, WidthInLogicalUnits(record)};
        else if (type == kEmrDeleteObject)
            m_pens.erase(slot);
        else if (type == kEmrSelectObject && (m_pens.count(slot) != 0 || IsStockPen(slot)))
        {
            m_selected = slot;
            return Again(scale);
        }
        return {};
    }

    // Follows one record after it is drawn: the records that make the pen in force again.
    std::vector<std::string> After(std::string_view record, double scale)
    {
        switch (ReadLe32(record, 0))
        {
        case kEmrSaveDc:
            if (m_saved.size() < kMaxSaved)
                m_saved.push_back(m_selected);
            return {};
        case kEmrRestoreDc:
            if (record.size() < 12 || !RestoreSaved(m_saved, ReadLe32(record, 8), m_selected))
                return {};
            [[fallthrough]];
        case kEmrSetMapMode:
        case kEmrSetWindowExtEx:
        case kEmrSetViewportExtEx:
        {
            std::vector<std::string> out = Again(scale);
            if (!out.empty())
            {
                out.emplace_back();
                for (std::uint32_t value : {kEmrSelectObject, 12U, *m_selected})
                    AppendLe32(out.back(), value);
            }
            return out;
        }
        default:
            return {};
        }
    }

private:
    // A geometric pen with a width: the one kind whose pixels depend on the mapping.
    static bool WidthInLogicalUnits(std::string_view record)
    {
        if (ReadLe32(record, 0) == kEmrCreatePen)
            return record.size() >= 28 && static_cast<std::int32_t>(ReadLe32(record, 16)) > 0;
        return record.size() >= 52 && (ReadLe32(record, kExtPenStyle) & kPenTypeMask) != 0 &&
               ReadLe32(record, kExtPenStyle + 4) != 0;
    }

    // The selected pen's record as the file gave it, when it was converted at another scale.
    std::vector<std::string> Again(double scale)
    {
        const auto found = m_selected ? m_pens.find(*m_selected) : m_pens.end();
        if (found == m_pens.end() || !found->second.Scaled || found->second.Scale == scale)
            return {};
        found->second.Scale = scale;
        return {found->second.Record};
    }

    struct TPen
    {
        std::string Record;
        double Scale = 1; // the device pixels a logical unit made when it was converted
        bool Scaled = false;
    };
    static constexpr std::size_t kMaxSaved = 1 << 16;
    std::map<std::uint32_t, TPen> m_pens; // by slot
    std::optional<std::uint32_t> m_selected;
    std::vector<std::optional<std::uint32_t>> m_saved;
};

// What MendDrawing needs to know of the records.
struct TDrawingNotes
{
    TTranslucentFills Fills;
    TDashGaps Gaps;
    TEmfFills Brushes;
    // Filled by the winding rule throughout: where the file asks for it somewhere but no slot
    // is left for TEmfFills to fill shape by shape.
    bool Winding = false;
};

constexpr std::uint32_t kWhiteBrush = 0x80000000;
constexpr std::uint32_t kWhitePen = 0x80000006;
constexpr std::uint32_t kBlackPen = 0x80000007;

// A fresh device context draws with the white brush and the black pen, a cosmetic one. The
// converter starts with a black brush, and draws the stock pens a unit wide scaled with the
// picture: the white brush is selected first, and the stock pens become cosmetic pens of their
// colours in the two slots from `slot` on (see PenAsExtPen).
std::vector<std::string> DefaultObjects(std::uint32_t slot)
{
    std::vector<std::string> out;
    for (std::uint32_t colour : {0x000000U, 0xFFFFFFU})
    {
        out.emplace_back();
        for (std::uint32_t value : {kEmrExtCreatePen, 52U, slot + (colour != 0 ? 1 : 0), 0U, 0U, 0U,
                                    0U, CosmeticStyle(kPenSolid), 0U, 0U, colour, 0U, 0U})
            AppendLe32(out.back(), value);
    }
    for (std::uint32_t object : {slot, kWhiteBrush})
    {
        out.emplace_back();
        for (std::uint32_t value : {kEmrSelectObject, 12U, object})
            AppendLe32(out.back(), value);
    }
    return out;
}

// The converter cannot draw compressed bitmaps, and draws the pair a transparent bitmap is
// written as (its opacity as grey ORed onto the page, then its colours ANDed) by neither
// operation. Bitmaps of EMR_BITBLT and EMR_STRETCHBLT become EMR_STRETCHDIBITS, compressed
// bitmaps are expanded, and each such pair becomes one bitmap with alpha, since the background
// it lands on is only known when drawing. World transforms are set again after RestoreDC.
// The plain records of translucent EMF+ fills are marked in the notes. The objects of a fresh
// device context are set first (DefaultObjects).
std::string PrepareRecords(std::string_view bytes, TDrawingNotes& notes)
{
    // The header's count of object slots, at least the index 0 every file reserves (producers
    // that create no object write 0 there, and the converter then refused the whole file), and
    // four more of our own: the stock pens', TDashGaps' and TEmfFills'.
    const std::uint32_t handles = std::max<std::uint32_t>(ReadLe16(bytes, 56), 1);
    const bool ownSlots = handles + 4 <= UINT16_MAX;
    std::vector<std::string_view> records;
    std::deque<std::string> converted; // stable storage for records made here
    std::size_t at = 0;
    bool ended = false;
    while (at + 8 <= bytes.size())
    {
        const std::uint32_t size = ReadLe32(bytes, at + 4);
        if (size < 8 || size % 4 != 0 || size > bytes.size() - at)
        {
            // Before the end record, the converter was left to refuse a broken stream itself,
            // and on some it wrote gigabytes of drawing first. What follows the end is kept.
            if (!ended)
                throw EPictureError("bad EMF: broken record at byte " + std::to_string(at));
            return std::string(bytes);
        }
        std::string_view record = bytes.substr(at, size);
        const std::uint32_t type = ReadLe32(record, 0);
        ended = ended || type == kEmrEof;
        std::string replacement;
        if (type == kEmrBitBlt || type == kEmrStretchBlt)
            replacement = BltAsStretchDibits(record);
        else if (type == kEmrSelectObject && ownSlots && record.size() >= 12 &&
                 (ReadLe32(record, 8) == kBlackPen || ReadLe32(record, 8) == kWhitePen))
        {
            replacement = std::string(record);
            PutLe32(replacement, 8, handles + (ReadLe32(record, 8) == kWhitePen ? 1 : 0));
        }
        else if (type == kEmrAbortPath)
        {
            // The converter knows no abandoned path: it went on writing everything after it
            // into the path's tag, left open, and the whole picture was refused as bad XML. An
            // ended path it writes as a path drawn with neither pen nor brush.
            replacement.clear();
            AppendLe32(replacement, kEmrEndPath);
            AppendLe32(replacement, 8);
        }
        else if (type == kEmrSetPolyFillMode && record.size() >= 12)
            notes.Winding = !ownSlots && (notes.Winding || ReadLe32(record, 8) == 2);
        if (!replacement.empty())
        {
            converted.push_back(std::move(replacement));
            record = converted.back();
        }
        records.push_back(record);
        at += size;
    }
    if (records.empty() || at != bytes.size())
        return std::string(bytes);
    notes.Fills.Mark(records, converted);
    TStandInColours standIns(records);
    notes.Gaps = TDashGaps(handles + 2);
    notes.Brushes = TEmfFills(handles + 3);

    std::string out;
    std::size_t count = 0;
    // The reference device's pixels per millimetre, for the fixed mapping modes.
    const double deviceMm = static_cast<std::int32_t>(ReadLe32(bytes, 80));
    const double devicePixels = static_cast<std::int32_t>(ReadLe32(bytes, 72));
    TTransformStack transforms(deviceMm > 0 && devicePixels > 0 ? devicePixels / deviceMm
                                                                : 96 / 25.4);
    const auto put = [&](std::string_view record) {
        out.append(record);
        ++count;
        if (out.size() > kMaxPreparedBytes)
            throw EPictureError("bad EMF: bitmaps too large");
        for (const std::string& extra : transforms.After(record))
        {
            out.append(extra);
            ++count;
        }
    };
    const auto dash = [&](std::string_view record) {
        const std::vector<std::string> drawn =
            ownSlots ? notes.Gaps.Follow(record, standIns) : std::vector<std::string>{};
        if (drawn.empty())
            put(record);
        for (const std::string& part : drawn)
            put(part);
    };
    const auto convert = [&](std::string_view record) {
        const std::uint32_t type = ReadLe32(record, 0);
        const std::string pen = type == kEmrCreatePen || type == kEmrExtCreatePen
                                    ? PenAsExtPen(record, transforms.PixelsPerUnit())
                                    : std::string();
        if (!pen.empty())
            record = pen;
        const std::vector<std::string> filled =
            ownSlots ? notes.Brushes.Follow(record, standIns, transforms.Axes())
                     : std::vector<std::string>{};
        if (filled.empty())
            dash(record);
        for (const std::string& part : filled)
            dash(part);
    };
    TPenScales penScales;
    const auto emit = [&](std::string_view record) {
        for (const std::string& pen : penScales.Before(record, transforms.PixelsPerUnit()))
            convert(pen);
        convert(record);
        for (const std::string& again : penScales.After(record, transforms.PixelsPerUnit()))
            convert(again);
    };
    for (std::size_t i = 0; i < records.size(); ++i)
    {
        const std::string_view record = records[i];
        TDibSource dib;
        if (i == 0 || ReadLe32(record, 0) != kEmrStretchDibits ||
            record.size() < kStretchDibitsFixed || !FindDib(record, dib))
        {
            emit(record);
            if (i == 0 && ownSlots)
                for (const std::string& object : DefaultObjects(handles))
                    emit(object);
            continue;
        }
        if (ReadLe32(record, 68) == kSrcPaint && i + 1 < records.size())
        {
            const std::string_view colours = records[i + 1];
            TDibSource colourDib;
            TDib mask;
            TDib image;
            if (ReadLe32(colours, 0) == kEmrStretchDibits &&
                colours.size() >= kStretchDibitsFixed && ReadLe32(colours, 68) == kSrcAnd &&
                SamePlacement(record, colours) && FindDib(colours, colourDib) &&
                DecodeDib(dib, mask) && DecodeDib(colourDib, image) && mask.Width == image.Width &&
                mask.Height == image.Height)
            {
                std::vector<std::uint8_t> alpha(mask.Pixels.size());
                for (std::size_t p = 0; p < alpha.size(); ++p)
                {
                    const std::uint32_t grey = mask.Pixels[p];
                    alpha[p] = static_cast<std::uint8_t>(
                        ((grey >> 16 & 0xFF) + (grey >> 8 & 0xFF) + (grey & 0xFF) + 1) / 3);
                }
                emit(MakeStretchDibits(colours, image, &alpha, kSrcCopy));
                ++i;
                continue;
            }
        }
        TDib expanded;
        if (IsRle(dib) && DecodeDib(dib, expanded))
            emit(MakeStretchDibits(record, expanded, nullptr, ReadLe32(record, 68)));
        else
            emit(record);
    }
    if (out.size() > UINT32_MAX)
        throw EPictureError("bad EMF: bitmaps too large");
    PutLe32(out, 48, static_cast<std::uint32_t>(out.size()));
    PutLe32(out, 52, static_cast<std::uint32_t>(count));
    PutLe16(out, 56, static_cast<std::uint16_t>(ownSlots ? handles + 4 : handles));
    return out;
}

// Nothing but the header and the end: what producers write when they drop what they cannot
// store (libEMF drops bitmaps). The converter refuses such a file; it is a blank page.
bool DrawsNothing(std::string_view bytes)
{
    const std::uint32_t headerSize = ReadLe32(bytes, 4);
    return headerSize <= bytes.size() && bytes.size() - headerSize >= 8 &&
           ReadLe32(bytes, headerSize) == kEmrEof &&
           ReadLe32(bytes, headerSize + 4) == bytes.size() - headerSize;
}

// Drawn in EMF+ records alone: the plain records of such a file hold nothing but its frame, and
// the converter does not draw EMF+, so it would come out as a blank page. The first record after
// the header is then a comment holding an EMF+ header whose "dual" flag is clear.
bool DrawnInEmfPlusOnly(std::string_view bytes)
{
    constexpr std::uint16_t kEmfPlusHeader = 0x4001;
    constexpr std::uint16_t kEmfPlusDual = 0x0001;
    const std::uint32_t headerSize = ReadLe32(bytes, 4);
    if (headerSize > bytes.size() || bytes.size() - headerSize < 20)
        return false;
    const std::string_view first = bytes.substr(headerSize);
    return ReadLe32(first, 0) == kEmrComment && ReadLe32(first, 12) == kEmfPlusIdentifier &&
           ReadLe16(first, 16) == kEmfPlusHeader && (ReadLe16(first, 18) & kEmfPlusDual) == 0;
}

// The converter reads the header's description as UTF-16 up to a NUL where it is given no
// length, and never checks where it points: a description that does not lie whole inside the
// header record (or the file) is dropped, since nothing is drawn from it.
void DropStrayDescription(std::string& emf)
{
    const std::uint32_t headerSize = ReadLe32(emf, 4);
    const std::uint32_t count = ReadLe32(emf, 60);
    const std::uint32_t offset = ReadLe32(emf, 64);
    const std::uint64_t end = std::uint64_t{offset} + 2 * std::uint64_t{count};
    if (count == 0 || offset < 88 || end > headerSize || end > emf.size())
    {
        PutLe32(emf, 60, 0);
        PutLe32(emf, 64, 0);
    }
}

// The value of attribute name="..." within a tag: its start and length, or npos.
std::pair<std::size_t, std::size_t> Attribute(const std::string& tag, std::string_view name)
{
    const std::string key = " " + std::string(name) + "=\"";
    const std::size_t at = tag.find(key);
    if (at == std::string::npos)
        return {std::string::npos, 0};
    const std::size_t start = at + key.size();
    const std::size_t end = tag.find('"', start);
    if (end == std::string::npos)
        return {std::string::npos, 0};
    return {start, end - start};
}

std::vector<double> Numbers(std::string_view text)
{
    std::vector<double> numbers;
    const char* at = text.data();
    const char* end = text.data() + text.size();
    while (at < end)
    {
        double value = 0;
        const auto [next, error] = std::from_chars(at, end, value);
        if (error != std::errc() || !std::isfinite(value))
            return {};
        numbers.push_back(value);
        at = next;
        if (at < end && (*at == ',' || *at == ' '))
            ++at;
    }
    return numbers;
}

std::string Length(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// The transform a group's tag gives (matrix, translate or scale); none for one it does not give
// or that cannot be read.
TSvgMatrix TransformOf(const std::string& tag)
{
    const auto [at, length] = Attribute(tag, "transform");
    if (at == std::string::npos)
        return {};
    const std::string_view value = std::string_view(tag).substr(at, length);
    const std::size_t open = value.find('(');
    const std::size_t close = value.find(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return {};
    std::vector<double> n;
    const char* p = value.data() + open + 1;
    const char* end = value.data() + close;
    while (p < end && n.size() < 6)
    {
        if (*p == ' ' || *p == ',')
        {
            ++p;
            continue;
        }
        double number = 0;
        const auto [next, error] = std::from_chars(p, end, number);
        if (error != std::errc() || !std::isfinite(number))
            return {};
        n.push_back(number);
        p = next;
    }
    const std::string_view name = value.substr(0, open);
    if (name == "matrix" && n.size() == 6)
        return {n[0], n[1], n[2], n[3], n[4], n[5]};
    if (name == "scale" && !n.empty())
        return {n[0], 0, 0, n.back(), 0, 0};
    if (name == "translate" && !n.empty())
        return {1, 0, 0, 1, n[0], n.size() > 1 ? n[1] : 0};
    return {};
}

// outer applied after inner: the transform of a group within a group.
TSvgMatrix Within(const TSvgMatrix& outer, const TSvgMatrix& inner)
{
    return {outer.A * inner.A + outer.C * inner.B,
            outer.B * inner.A + outer.D * inner.B,
            outer.A * inner.C + outer.C * inner.D,
            outer.B * inner.C + outer.D * inner.D,
            outer.A * inner.E + outer.C * inner.F + outer.E,
            outer.B * inner.E + outer.D * inner.F + outer.F};
}

// One tag of the converter's SVG with its pen mended (see MendDrawing); pixel is the length of
// a page pixel in the tag's units. Returns the stroke's width in page pixels, or -1 for none.
double MendPen(std::string& tag, double pixel)
{
    // A null pen: the converter writes this, and only this, where no pen is in force.
    static constexpr std::string_view kNullPen = " stroke-width=\"1px\" stroke=\"#";
    const std::size_t null = tag.find(kNullPen);
    if (null != std::string::npos && null + kNullPen.size() + 7 <= tag.size())
    {
        tag.replace(null, kNullPen.size() + 7, " stroke=\"none\""); // "#" RRGGBB and the quote
        return -1;
    }
    const auto [widthAt, widthLength] = Attribute(tag, "stroke-width");
    if (widthAt == std::string::npos)
        return -1;
    std::vector<double> width = Numbers(std::string_view(tag).substr(widthAt, widthLength));
    if (width.size() != 1 || !(width[0] >= 0))
        return -1;
    // A cosmetic pen (see PenAsExtPen): one pixel of the page, whatever the picture's scale
    // and transforms. Dashes are those of the width on the page.
    const bool cosmetic = width[0] == 0;
    if (cosmetic)
        tag.replace(widthAt, widthLength, Length(pixel));
    const double pixels = cosmetic ? 1 : width[0] / pixel;
    const auto [listAt, listLength] = Attribute(tag, "stroke-dasharray");
    if (listAt == std::string::npos)
        return pixels;
    const std::vector<double> list = Numbers(std::string_view(tag).substr(listAt, listLength));
    if (list.empty())
        return pixels;
    // The converter's lengths tell the style: dash 5, 5 widths, dot 1, 1 (with the width an
    // extended pen is drawn at, see PenAsExtPen), dash-dot four lengths, dash-dot-dot six. A
    // cosmetic pen's dashes are all of length 0: its caps tell dots from dashes.
    unsigned style = 0;
    if (list.size() == 2 && cosmetic)
    {
        const auto [capAt, capLength] = Attribute(tag, "stroke-linecap");
        const bool square =
            capAt != std::string::npos && tag.compare(capAt, capLength, "square") == 0;
        style = square ? kPenDot : kPenDash;
    }
    else if (list.size() == 2)
        style = list[0] > 3 * width[0] ? kPenDash : kPenDot;
    else if (list.size() == 4)
        style = kPenDashDot;
    else if (list.size() == 6)
        style = kPenDashDotDot;
    std::string lengths;
    for (double length : PenDashes(style, pixels))
        lengths += (lengths.empty() ? "" : ",") + Length(length * pixel);
    if (lengths.empty())
        return pixels;
    tag.replace(listAt, listLength, lengths);
    const auto [capAt, capLength] = Attribute(tag, "stroke-linecap");
    if (capAt != std::string::npos)
        tag.replace(capAt, capLength, "butt");
    return pixels;
}

// The SVG renderer's text layout fails an assertion, and ends the process, on glyphs millions of
// pixels high (a font height of 2^24 units does it), and from about 65 536 pixels across or high
// the fonts fail to load (drawn as nothing, or leaking in the renderer when stretched one way
// only); fonts of a ten-thousandth of a unit, or squeezed flat, fail to load too, and leak in
// the renderer. Text in a font larger than this on the page, in either direction, could show
// no more than part of one glyph on any picture, and text smaller than a tenth of a pixel shows
// nothing; text beyond the range of its own units the renderer's text layout counts in is left
// out as well.
constexpr double kMaxTextSize = 65536;
constexpr double kMinTextSize = 0.1;
constexpr double kMaxTextUnits = 1 << 20;
constexpr double kMinTextUnits = 0.01;

// Page pixels per unit under a transform: the square root of the size of its determinant.
double PageScale(const TSvgMatrix& ctm)
{
    return std::sqrt(std::fabs(ctm.A * ctm.D - ctm.B * ctm.C));
}

// The larger of the page lengths a unit across and a unit down make under a transform.
double LargestStretch(const TSvgMatrix& ctm)
{
    return std::max(std::hypot(ctm.A, ctm.B), std::hypot(ctm.C, ctm.D));
}

bool TextBeyondFonts(const std::string& tag, const TSvgMatrix& ctm)
{
    const auto [at, length] = Attribute(tag, "font-size");
    if (at == std::string::npos)
        return false;
    const std::vector<double> size = Numbers(std::string_view(tag).substr(at, length));
    const double largest = LargestStretch(ctm);
    const double smallest = largest > 0 ? std::fabs(ctm.A * ctm.D - ctm.B * ctm.C) / largest : 0;
    const double units = size.size() == 1 ? std::fabs(size[0]) : 0;
    return !(units <= kMaxTextUnits && units >= kMinTextUnits && units * largest <= kMaxTextSize &&
             units * smallest >= kMinTextSize);
}

// Cairo flattens a curve into straight pieces a tenth of a pixel off it, so a curve millions of
// pixels across took gigabytes (found by fuzzing: an ellipse of 15 units under a world transform
// stretching it 5 * 10^14 times), and its coordinates reach only 2^23 pixels either way. A
// curved shape (an ellipse, a circle, a rounded rectangle, a path with curves or arcs) that
// reaches further from the page's corner could not be drawn where it belongs: it is left out.
constexpr double kMaxCurveReach = 1 << 23;

bool CurveBeyondReach(const std::string& tag, const TSvgMatrix& ctm)
{
    std::vector<std::string_view> names;
    if (tag.compare(0, 9, "<ellipse ") == 0)
        names = {"cx", "cy", "rx", "ry"};
    else if (tag.compare(0, 8, "<circle ") == 0)
        names = {"cx", "cy", "r"};
    else if (tag.compare(0, 6, "<rect ") == 0 && Attribute(tag, "rx").first != std::string::npos)
        names = {"x", "y", "width", "height", "rx", "ry"};
    else if (tag.compare(0, 6, "<path ") == 0)
    {
        const auto [at, length] = Attribute(tag, "d");
        if (at == std::string::npos ||
            tag.substr(at, length).find_first_of("CcQqSsTtAa") == std::string::npos)
            return false;
        names = {"d"};
    }
    else
        return false;
    double largest = 0;
    for (std::string_view name : names)
    {
        const auto [at, length] = Attribute(tag, name);
        const char* p = tag.data() + (at == std::string::npos ? 0 : at);
        const char* end = at == std::string::npos ? p : p + length;
        while (p < end)
        {
            double number = 0;
            const auto [next, error] = std::from_chars(p, end, number);
            if (error != std::errc())
            {
                ++p; // a command letter, a comma or a space
                continue;
            }
            largest = std::max(largest, std::fabs(number));
            p = next;
        }
    }
    const double reach =
        LargestStretch(ctm) * largest + std::max(std::fabs(ctm.E), std::fabs(ctm.F));
    return !(reach <= kMaxCurveReach);
}

// The converter draws pens its own way: dashes five widths long with gaps as long, dots one
// width long with round ends (solid for a thin pen), and lines of a null pen as black lines a
// pixel wide. Its SVG is mended: a null pen draws nothing, and dashes take the platform's
// lengths (PenDashes) with flat ends, as in WMF pictures, and their gaps the background colour
// where they show it (TDashGaps). Translucent EMF+ fills and outlines take their colour and
// opacity (TTranslucentFills); hatches, fill rules (TEmfFills). Text beyond what fonts load at is
// left out (TextBeyondFonts), and so are curves beyond cairo's reach (CurveBeyondReach).
void MendDrawing(std::string& svg, TDrawingNotes& notes)
{
    std::string out;
    out.reserve(svg.size());
    std::size_t at = 0;
    // The transform to the page within each group the tags are in, the outermost first: world
    // transforms come as groups.
    std::vector<TSvgMatrix> transforms{TSvgMatrix{}};
    std::string leftOutTill; // the closing tag of an element left out, while within it
    while (at < svg.size())
    {
        const std::size_t open = svg.find('<', at);
        if (open == std::string::npos)
            break;
        std::size_t close =
            svg.compare(open, 9, "<![CDATA[") == 0 ? svg.find("]]>", open) : svg.find('>', open);
        if (close == std::string::npos)
            break;
        close += svg[close] == ']' ? 3 : 1;
        std::string tag = svg.substr(open, close - open);
        // Text beyond what fonts load at, curves beyond reach: their tags, and what lies between
        // them, are left out.
        if (!leftOutTill.empty())
        {
            if (tag == leftOutTill)
                leftOutTill.clear();
            at = close;
            continue;
        }
        out.append(svg, at, open - at);
        if ((tag.compare(0, 6, "<text ") == 0 && TextBeyondFonts(tag, transforms.back())) ||
            CurveBeyondReach(tag, transforms.back()))
        {
            if (tag.compare(tag.size() - 2, 2, "/>") != 0)
                leftOutTill = "</" + tag.substr(1, tag.find(' ') - 1) + ">";
            at = close;
            continue;
        }
        if (tag.compare(0, 3, "<g ") == 0 && tag.compare(tag.size() - 2, 2, "/>") != 0)
            transforms.push_back(Within(transforms.back(), TransformOf(tag)));
        else if (tag == "</g>" && transforms.size() > 1)
            transforms.pop_back();
        else if (tag == "</svg>")
            out += notes.Brushes.Definitions();
        if (tag[1] != '!')
        {
            const TSvgMatrix& ctm = transforms.back();
            const double scale = PageScale(ctm);
            const double width = MendPen(tag, scale > 1e-6 && std::isfinite(scale) ? 1 / scale : 1);
            std::string beneath = notes.Gaps.Mend(tag, width);
            notes.Fills.Mend(beneath);
            notes.Fills.Mend(tag);
            notes.Brushes.Mend(beneath, ctm);
            notes.Brushes.Mend(tag, ctm);
            out += beneath;
            // The converter fills by the winding rule, while a fresh device context fills
            // alternately, as most files leave it; shapes filled by the winding rule say so
            // (TEmfFills).
            if (!notes.Winding && tag.compare(0, 5, "<svg ") == 0)
                tag.insert(4, " fill-rule=\"evenodd\"");
        }
        out += tag;
        at = close;
    }
    out.append(svg, at);
    svg = std::move(out);
}

struct TFreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};

struct TGObjectDeleter
{
    void operator()(RsvgHandle* handle) const { g_object_unref(handle); }
};

struct TGErrorDeleter
{
    void operator()(GError* error) const { g_error_free(error); }
};

std::int64_t FrameToPixels(std::int32_t from, std::int32_t to)
{
    // The frame is in hundredths of a millimetre: 2540 of them make an inch of 96 pixels.
    return std::llround((static_cast<double>(to) - static_cast<double>(from)) * 96.0 / 2540.0);
}

} // namespace

// The converter finalises fontconfig (FcFini) after each text it gives in glyph indices. Where
// anything else in the process still holds fontconfig's caches (the SVG renderer's fonts, from a
// picture drawn earlier in the same process, as the fuzzing targets draw them), fontconfig's own
// assertion ended the process. Nothing here finalises fontconfig: this definition takes the
// place of fontconfig's in the programs that draw metafiles, and the end of the process frees
// what fontconfig holds.
extern "C" void FcFini() {}

TRaster DrawEmf(std::string_view bytes, std::int64_t maxPixels)
{
    if (bytes.size() < 44 || ReadLe32(bytes, 0) != kEmrHeader ||
        ReadLe32(bytes, 40) != kEmfSignature)
        throw EPictureError("not an EMF");
    if (bytes.size() < 88 || ReadLe32(bytes, 4) < 88)
        throw EPictureError("truncated EMF");
    const auto field = [&](std::size_t offset) {
        return static_cast<std::int32_t>(ReadLe32(bytes, offset));
    };
    std::int64_t width = FrameToPixels(field(24), field(32));
    std::int64_t height = FrameToPixels(field(28), field(36));
    if (width <= 0 || height <= 0)
    {
        // Without a usable frame, the bounds in device pixels (inclusive).
        width = std::int64_t{field(16)} - field(8) + 1;
        height = std::int64_t{field(20)} - field(12) + 1;
    }
    CheckPictureSize(width, height, maxPixels);

    if (DrawnInEmfPlusOnly(bytes))
        throw EPictureError("unsupported EMF: drawn in EMF+ records only");
    if (DrawsNothing(bytes))
    {
        TRaster blank = NewRaster(width, height, 4, 0); // clear: white once flattened
        return blank;
    }
    TDrawingNotes notes;
    std::string input = PrepareRecords(bytes, notes); // the converter takes a writable buffer
    DropStrayDescription(input);
    generatorOptions options{};
    // No namespace prefix: with one, the converter closes clip-path definitions without it
    // (<svg:defs>...</defs>), and every EMF with a clip region failed as bad XML.
    options.nameSpace = nullptr;
    options.verbose = false;
    // EMF+ records are drawn only in part by the converter; files that carry them almost
    // always repeat the drawing in plain EMF records, which are drawn in full.
    options.emfplus = false;
    options.svgDelimiter = true;
    options.imgWidth = static_cast<double>(width);
    options.imgHeight = static_cast<double>(height);
    char* svgText = nullptr;
    std::size_t svgLength = 0;
    const int converted = emf2svg(input.data(), input.size(), &svgText, &svgLength, &options);
    std::unique_ptr<char, TFreeDeleter> svg(svgText);
    if (converted == 0 || svg == nullptr || svgLength == 0)
        throw EPictureError("bad EMF: cannot convert the records");

    std::string drawing(svg.get(), svgLength);
    svg.reset();
    MendDrawing(drawing, notes);

    GError* rawError = nullptr;
    std::unique_ptr<RsvgHandle, TGObjectDeleter> handle(rsvg_handle_new_from_data(
        reinterpret_cast<const guint8*>(drawing.data()), drawing.size(), &rawError));
    std::unique_ptr<GError, TGErrorDeleter> error(rawError);
    if (handle == nullptr)
        throw EPictureError(std::string("bad EMF: ") +
                            (error != nullptr ? error->message : "unreadable drawing"));
    drawing = std::string();

    TCairoSurface surface = NewCairoSurface(static_cast<int>(width), static_cast<int>(height));
    TCairo cr(cairo_create(surface.get()));
    const RsvgRectangle viewport{0, 0, static_cast<double>(width), static_cast<double>(height)};
    rawError = nullptr;
    const bool drawn = rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &rawError);
    error.reset(rawError);
    if (!drawn)
        throw EPictureError(std::string("bad EMF: ") +
                            (error != nullptr ? error->message : "cannot draw"));
    cr.reset();
    return SurfaceToRaster(surface.get());
}
