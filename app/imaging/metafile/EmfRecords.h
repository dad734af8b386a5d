#pragma once

// The EMF record types the metafile code reads or rewrites, named once for every file of it.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrPolyBezier = 2;
constexpr std::uint32_t kEmrPolygon = 3;
constexpr std::uint32_t kEmrPolyline = 4;
constexpr std::uint32_t kEmrPolyBezierTo = 5;
constexpr std::uint32_t kEmrPolylineTo = 6;
constexpr std::uint32_t kEmrPolyPolyline = 7;
constexpr std::uint32_t kEmrPolyPolygon = 8;
constexpr std::uint32_t kEmrSetWindowExtEx = 9;
constexpr std::uint32_t kEmrSetWindowOrgEx = 10;
constexpr std::uint32_t kEmrSetViewportExtEx = 11;
constexpr std::uint32_t kEmrSetViewportOrgEx = 12;
constexpr std::uint32_t kEmrSetBrushOrgEx = 13;
constexpr std::uint32_t kEmrEof = 14;
constexpr std::uint32_t kEmrSetMapMode = 17;
constexpr std::uint32_t kEmrSetBkMode = 18;
constexpr std::uint32_t kEmrSetPolyFillMode = 19;
constexpr std::uint32_t kEmrSetTextAlign = 22;
constexpr std::uint32_t kEmrSetTextColor = 24;
constexpr std::uint32_t kEmrSetBkColor = 25;
constexpr std::uint32_t kEmrSaveDc = 33;
constexpr std::uint32_t kEmrRestoreDc = 34;
constexpr std::uint32_t kEmrSetWorldTransform = 35;
constexpr std::uint32_t kEmrModifyWorldTransform = 36;
constexpr std::uint32_t kEmrSelectObject = 37;
constexpr std::uint32_t kEmrCreatePen = 38;
constexpr std::uint32_t kEmrCreateBrushIndirect = 39;
constexpr std::uint32_t kEmrDeleteObject = 40;
constexpr std::uint32_t kEmrAngleArc = 41;
constexpr std::uint32_t kEmrEllipse = 42;
constexpr std::uint32_t kEmrRectangle = 43;
constexpr std::uint32_t kEmrRoundRect = 44;
constexpr std::uint32_t kEmrArc = 45;
constexpr std::uint32_t kEmrChord = 46;
constexpr std::uint32_t kEmrPie = 47;
constexpr std::uint32_t kEmrCreatePalette = 49;
constexpr std::uint32_t kEmrLineTo = 54;
constexpr std::uint32_t kEmrArcTo = 55;
constexpr std::uint32_t kEmrPolyDraw = 56;
constexpr std::uint32_t kEmrBeginPath = 59;
constexpr std::uint32_t kEmrEndPath = 60;
constexpr std::uint32_t kEmrFillPath = 62;
constexpr std::uint32_t kEmrStrokeAndFillPath = 63;
constexpr std::uint32_t kEmrStrokePath = 64;
constexpr std::uint32_t kEmrAbortPath = 68;
constexpr std::uint32_t kEmrComment = 70;
constexpr std::uint32_t kEmrFillRgn = 71;
constexpr std::uint32_t kEmrPaintRgn = 74;
constexpr std::uint32_t kEmrBitBlt = 76;
constexpr std::uint32_t kEmrStretchBlt = 77;
constexpr std::uint32_t kEmrStretchDibits = 81;
constexpr std::uint32_t kEmrExtCreateFontIndirectW = 82;
constexpr std::uint32_t kEmrExtTextOutA = 83;
constexpr std::uint32_t kEmrExtTextOutW = 84;
constexpr std::uint32_t kEmrPolyBezier16 = 85;
constexpr std::uint32_t kEmrPolygon16 = 86;
constexpr std::uint32_t kEmrPolyPolygon16 = 91;
constexpr std::uint32_t kEmrPolyDraw16 = 92;
constexpr std::uint32_t kEmrCreateMonoBrush = 93;
constexpr std::uint32_t kEmrCreateDibPatternBrushPt = 94;
constexpr std::uint32_t kEmrExtCreatePen = 95;

// The identifier of an EMR_COMMENT that holds EMF+ records ("EMF+").
constexpr std::uint32_t kEmfPlusIdentifier = 0x2B464D45;

// A record of the type holding these 32-bit values after its type and size.
inline std::string EmfRecord(std::uint32_t type, std::initializer_list<std::uint32_t> values)
{
    std::string record;
    AppendLe32(record, type);
    AppendLe32(record, static_cast<std::uint32_t>(8 + 4 * values.size()));
    for (std::uint32_t value : values)
        AppendLe32(record, value);
    return record;
}

// Records that make an object in the handle table: pens, brushes, a palette, a font.
inline bool CreatesObject(std::uint32_t type)
{
    switch (type)
    {
    case kEmrCreatePen:
    case kEmrExtCreatePen:
    case kEmrCreateBrushIndirect:
    case kEmrCreateMonoBrush:
    case kEmrCreateDibPatternBrushPt:
    case kEmrCreatePalette:
    case kEmrExtCreateFontIndirectW:
        return true;
    default:
        return false;
    }
}

// The stock pens: white, black and null, and the DC pen.
inline bool IsStockPen(std::uint32_t object)
{
    return (object >= 0x80000006U && object <= 0x80000008U) || object == 0x80000013U;
}

// The state EMR_RESTOREDC brings back: level is so many states back when negative, else that
// saved state (counted from 1). The state is taken from saved, which keeps those saved before
// it; false, with nothing changed, for a level that names no saved state.
template <class T>
bool RestoreSaved(std::vector<T>& saved, std::uint32_t level, T& state)
{
    const auto signedLevel = static_cast<std::int32_t>(level);
    const std::int64_t keep = signedLevel < 0
                                  ? static_cast<std::int64_t>(saved.size()) + signedLevel
                                  : static_cast<std::int64_t>(signedLevel) - 1;
    if (keep < 0 || keep >= static_cast<std::int64_t>(saved.size()))
        return false;
    state = saved[static_cast<std::size_t>(keep)];
    saved.resize(static_cast<std::size_t>(keep));
    return true;
}
