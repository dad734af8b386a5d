// WMF: drawn with libwmf's gd device, whose drawing of filled shapes and bitmaps is mended
// here. Runs in the metafile helper only, because libwmf crashes or loops on some files.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <libwmf/ipa.h>

#include <queue>

#include "app/imaging/MetafileRenderer.h"
#include "app/imaging/RasterOperations.h"
#include "app/imaging/metafile/EmbeddedEmf.h"
#include "app/imaging/metafile/MetafileDrawing.h"
#include "app/imaging/metafile/PenDashes.h"
#include "app/imaging/metafile/PenStroke.h"
#include "platform/ByteOrder.h"

namespace
{
// A placeable header gives the picture's box in its own units per inch: the size at 96 dpi.
bool PlaceableSize(const std::string& bytes, long long& width, long long& height)
{
    if (bytes.size() < 22 || ReadLe16(bytes, 0) != 0xCDD7 || ReadLe16(bytes, 2) != 0x9AC6)
        return false;
    const auto left = static_cast<std::int16_t>(ReadLe16(bytes, 6));
    const auto top = static_cast<std::int16_t>(ReadLe16(bytes, 8));
    const auto right = static_cast<std::int16_t>(ReadLe16(bytes, 10));
    const auto bottom = static_cast<std::int16_t>(ReadLe16(bytes, 12));
    const std::uint16_t inch = ReadLe16(bytes, 14);
    if (inch == 0)
        return false;
    width = std::llround(std::abs(right - left) * 96.0 / inch);
    height = std::llround(std::abs(bottom - top) * 96.0 / inch);
    return width > 0 && height > 0;
}

// The gd device draws ellipses as outlines only, rounded rectangles with square corners, chords
// as triangles and a pie's sides out to the given points instead of the ellipse, while clip art is
// full of filled ones. These shapes are handed to its polygon drawing instead, which fills with the
// brush and outlines with the pen as they should.
void (*g_drawPolygon)(wmfAPI*, wmfPolyLine_t*) = nullptr;
void (*g_drawRectangle)(wmfAPI*, wmfDrawRectangle_t*) = nullptr;

constexpr double kPi = 3.14159265358979323846;
constexpr int kStepsPerTurn = 256; // at most a third of a pixel off on a 2000-pixel circle

// Points of the ellipse within box from angle `from` to `to` (radians, clockwise on the page,
// 0 pointing right), both ends included.
void AppendArc(std::vector<wmfD_Coord>& points, wmfD_Coord topLeft, wmfD_Coord bottomRight,
               double from, double to)
{
    const double cx = (topLeft.x + bottomRight.x) / 2.0;
    const double cy = (topLeft.y + bottomRight.y) / 2.0;
    const double rx = (bottomRight.x - topLeft.x) / 2.0;
    const double ry = (bottomRight.y - topLeft.y) / 2.0;
    const int steps =
        std::max(2, static_cast<int>(std::ceil((to - from) / (2 * kPi) * kStepsPerTurn)));
    for (int i = 0; i <= steps; ++i)
    {
        const double t = from + (to - from) * i / steps;
        points.push_back(
            {static_cast<float>(cx + rx * std::cos(t)), static_cast<float>(cy + ry * std::sin(t))});
    }
}

void DrawPolygon(wmfAPI* api, wmfPolyLine_t* polygon);

void FillPolygon(wmfAPI* api, wmfDC* dc, std::vector<wmfD_Coord>& points)
{
    wmfPolyLine_t polygon{};
    polygon.dc = dc;
    polygon.pt = points.data();
    polygon.count = static_cast<U16>(points.size());
    DrawPolygon(api, &polygon);
}

void DrawEllipse(wmfAPI* api, wmfDrawArc_t* arc)
{
    std::vector<wmfD_Coord> points;
    AppendArc(points, arc->TL, arc->BR, 0, 2 * kPi);
    points.pop_back(); // the first point again
    FillPolygon(api, arc->dc, points);
}

// The player gives the ends as directions from the centre; the arc runs from start to end
// clockwise on the page, the whole ellipse when they coincide. A chord closes the arc with a
// straight line, a pie through the centre.
std::vector<wmfD_Coord> ArcPoints(const wmfDrawArc_t* arc, bool throughCentre)
{
    const double rx = std::max(1e-6, (arc->BR.x - arc->TL.x) / 2.0);
    const double ry = std::max(1e-6, (arc->BR.y - arc->TL.y) / 2.0);
    const double from = std::atan2(arc->start.y / ry, arc->start.x / rx);
    double to = std::atan2(arc->end.y / ry, arc->end.x / rx);
    if (to <= from)
        to += 2 * kPi;
    std::vector<wmfD_Coord> points;
    if (throughCentre)
        points.push_back({(arc->TL.x + arc->BR.x) / 2, (arc->TL.y + arc->BR.y) / 2});
    AppendArc(points, arc->TL, arc->BR, from, to);
    return points;
}

void DrawArcShape(wmfAPI* api, wmfDrawArc_t* arc, bool throughCentre)
{
    std::vector<wmfD_Coord> points = ArcPoints(arc, throughCentre);
    FillPolygon(api, arc->dc, points);
}

void DrawChord(wmfAPI* api, wmfDrawArc_t* arc)
{
    DrawArcShape(api, arc, false);
}

void DrawPie(wmfAPI* api, wmfDrawArc_t* arc)
{
    DrawArcShape(api, arc, true);
}

std::vector<double> DashesOf(const wmfDC* dc);
std::array<double, 2> PixelsPerUnit();
std::optional<TStrokePen> WidePen(const wmfDC* dc);

// A pen of width 0 is cosmetic: one page pixel wide whatever the scale, and so is the device
// context's default pen. The player makes the first a unit wide (as wide as a pen of width 1)
// and the second a point wide, so MarkPens marks, by bits of their style GDI leaves unused, every
// pen the file makes and those of width 0 besides: a pen without the first mark is the default
// one, before any pen is selected as after a RestoreDC brings it back. While this lives, the dc
// draws with its pen without the marks (the device never sees them), a pixel wide if cosmetic.
constexpr U16 kFilePenMark = 0x0400;
constexpr U16 kCosmeticMark = 0x0800;
const wmfPen* g_playedPen = nullptr; // the pen the dc draws with in place of its own

class TCosmeticPen
{
public:
    explicit TCosmeticPen(wmfDC* dc) : m_dc(dc)
    {
        // Shapes drawn as polygons come here twice: the pen is already the played one.
        if (dc == nullptr || dc->pen == nullptr || dc->pen == g_playedPen)
            return;
        const U16 style = dc->pen->lopnStyle;
        m_pen = *dc->pen;
        m_pen.lopnStyle = static_cast<U16>(style & ~(kFilePenMark | kCosmeticMark));
        if ((style & kCosmeticMark) != 0 || (style & kFilePenMark) == 0)
        {
            const std::array<double, 2> scale = PixelsPerUnit();
            m_pen.width = scale[0] > 0 ? 1 / scale[0] : 1;
            m_pen.height = scale[1] > 0 ? 1 / scale[1] : 1;
        }
        m_saved = dc->pen;
        m_outer = g_playedPen;
        dc->pen = &m_pen;
        g_playedPen = &m_pen;
    }
    ~TCosmeticPen()
    {
        if (m_saved == nullptr)
            return;
        m_dc->pen = m_saved;
        g_playedPen = m_outer;
    }
    TCosmeticPen(const TCosmeticPen&) = delete;
    TCosmeticPen& operator=(const TCosmeticPen&) = delete;

private:
    wmfDC* m_dc;
    wmfPen m_pen{};
    wmfPen* m_saved = nullptr;
    const wmfPen* m_outer = nullptr;
};

// The gd device draws the two diagonal hatches the wrong way round: HS_FDIAGONAL as "/" where
// the platform draws "\\", HS_BDIAGONAL the other way. While this lives, the dc's hatched brush
// names the other one, so that each comes out as it should.
class TPlatformHatch
{
public:
    explicit TPlatformHatch(wmfDC* dc) : m_dc(dc)
    {
        constexpr U16 kHatched = 2;
        constexpr U16 kForward = 2; // HS_FDIAGONAL
        constexpr U16 kBackward = 3;
        wmfBrush* brush = dc != nullptr ? dc->brush : nullptr;
        if (brush == nullptr || brush->lbStyle != kHatched ||
            (brush->lbHatch != kForward && brush->lbHatch != kBackward))
            return;
        m_brush = *brush;
        m_brush.lbHatch = brush->lbHatch == kForward ? kBackward : kForward;
        m_saved = brush;
        dc->brush = &m_brush;
    }
    ~TPlatformHatch()
    {
        if (m_saved != nullptr)
            m_dc->brush = m_saved;
    }
    TPlatformHatch(const TPlatformHatch&) = delete;
    TPlatformHatch& operator=(const TPlatformHatch&) = delete;

private:
    wmfDC* m_dc;
    wmfBrush m_brush{};
    wmfBrush* m_saved = nullptr;
};

void DrawRectangle(wmfAPI* api, wmfDrawRectangle_t* rect)
{
    const TCosmeticPen cosmetic(rect->dc);
    const float left = std::min(rect->TL.x, rect->BR.x);
    const float right = std::max(rect->TL.x, rect->BR.x);
    const float top = std::min(rect->TL.y, rect->BR.y);
    const float bottom = std::max(rect->TL.y, rect->BR.y);
    if (!(rect->width > 0 && rect->height > 0))
    {
        if (DashesOf(rect->dc).empty() && !WidePen(rect->dc))
        {
            const TPlatformHatch hatch(rect->dc);
            g_drawRectangle(api, rect);
        }
        else
        {
            std::vector<wmfD_Coord> corners = {
                {left, top}, {right, top}, {right, bottom}, {left, bottom}};
            FillPolygon(api, rect->dc, corners);
        }
        return;
    }
    // The corners are quarters of an ellipse width x height, no larger than the rectangle.
    const float w = std::min(rect->width, right - left);
    const float h = std::min(rect->height, bottom - top);
    std::vector<wmfD_Coord> points;
    AppendArc(points, {right - w, top}, {right, top + h}, -kPi / 2, 0);
    AppendArc(points, {right - w, bottom - h}, {right, bottom}, 0, kPi / 2);
    AppendArc(points, {left, bottom - h}, {left + w, bottom}, kPi / 2, kPi);
    AppendArc(points, {left, top}, {left + w, top + h}, kPi, 3 * kPi / 2);
    FillPolygon(api, rect->dc, points);
}

// The gd device draws a dashed pen in short patterns of its own, a pixel at a time, and a wide
// pen's brush fills the gaps (wide dots came out solid). Outlines of dashed pens are cut into
// the platform's dashes here (PenDashes) and each dash drawn solid: a thin one as a line, a
// wide one as a filled quadrilateral with flat ends.
void (*g_drawLine)(wmfAPI*, wmfDrawLine_t*) = nullptr;
void (*g_polyLine)(wmfAPI*, wmfPolyLine_t*) = nullptr;
void (*g_drawPolyPolygon)(wmfAPI*, wmfPolyPoly_t*) = nullptr;
void (*g_drawArc)(wmfAPI*, wmfDrawArc_t*) = nullptr;
wmf_gd_t* g_device = nullptr;

constexpr unsigned kBrushSolid = 0;

// Page pixels per player unit, across and down; zero before the page is known.
std::array<double, 2> PixelsPerUnit()
{
    if (g_device == nullptr)
        return {0, 0};
    const double width = static_cast<double>(g_device->bbox.BR.x) - g_device->bbox.TL.x;
    const double height = static_cast<double>(g_device->bbox.BR.y) - g_device->bbox.TL.y;
    if (!(width > 0 && height > 0))
        return {0, 0};
    return {g_device->width / width, g_device->height / height};
}

std::vector<double> DashesOf(const wmfDC* dc)
{
    const double scale = PixelsPerUnit()[0];
    if (dc == nullptr || dc->pen == nullptr || !(scale > 0))
        return {};
    return PenDashes(dc->pen->lopnStyle, dc->pen->width * scale);
}

// The dc draws with another pen, and brush if one is given, while this lives.
class TSwappedPen
{
public:
    TSwappedPen(wmfDC* dc, wmfPen* pen, wmfBrush* brush = nullptr)
        : m_dc(dc), m_pen(dc->pen), m_brush(dc->brush)
    {
        dc->pen = pen;
        if (brush != nullptr)
            dc->brush = brush;
    }
    ~TSwappedPen()
    {
        m_dc->pen = m_pen;
        m_dc->brush = m_brush;
    }
    TSwappedPen(const TSwappedPen&) = delete;
    TSwappedPen& operator=(const TSwappedPen&) = delete;

private:
    wmfDC* m_dc;
    wmfPen* m_pen;
    wmfBrush* m_brush;
};

wmfPen WithStyle(const wmfPen& pen, unsigned style)
{
    wmfPen copy = pen;
    copy.lopnStyle = static_cast<U16>((copy.lopnStyle & ~kPenStyleMask) | style);
    return copy;
}

void PolyLineThrough(wmfAPI* api, wmfDC* dc, std::vector<wmfD_Coord>& points)
{
    for (std::size_t start = 0; start + 1 < points.size(); start += 0xFFFE)
    {
        wmfPolyLine_t line{};
        line.dc = dc;
        line.pt = points.data() + start;
        line.count = static_cast<U16>(std::min<std::size_t>(points.size() - start, 0xFFFF));
        g_polyLine(api, &line);
    }
}

// The outline through points (player units), closed back to its start if asked, in the dashes
// of the dc's pen.
void DrawDashes(wmfAPI* api, wmfDC* dc, std::vector<wmfD_Coord> points, bool closed,
                const std::vector<double>& pattern)
{
    if (points.size() < 2)
        return;
    if (closed)
        points.push_back(points.front());
    // The device draws a line's last pixel, and a polygon's far edge, as well: each dash is cut a
    // pixel short so that it covers its length.
    std::vector<double> drawn = pattern;
    for (std::size_t i = 0; i + 1 < drawn.size(); i += 2)
        if (drawn[i] > 1)
        {
            drawn[i] -= 1;
            drawn[i + 1] += 1;
        }
    const std::array<double, 2> scale = PixelsPerUnit();
    const double scaleX = scale[0];
    const double scaleY = scale[1];
    const wmfD_Coord origin = g_device->bbox.TL;
    std::vector<TDashPoint> line;
    line.reserve(points.size());
    for (const wmfD_Coord& p : points)
        line.push_back({(p.x - origin.x) * scaleX, (p.y - origin.y) * scaleY});
    // The device takes the pixel below a point: a thousandth of a pixel keeps a dash that ends
    // on a pixel's edge from losing that pixel to rounding on the way.
    constexpr double kNudge = 1e-3;
    const auto units = [&](TDashPoint p) {
        return wmfD_Coord{static_cast<float>((p.X + kNudge) / scaleX + origin.x),
                          static_cast<float>((p.Y + kNudge) / scaleY + origin.y)};
    };
    wmfPen solid = WithStyle(*dc->pen, kPenSolid);
    const double width = dc->pen->width * scaleX;
    if (IsThinPen(width))
    {
        if (GapsShowBackground(width, dc->bgmode))
        {
            wmfPen background = solid;
            background.lopnColor = dc->bgcolor;
            const TSwappedPen swap(dc, &background);
            PolyLineThrough(api, dc, points);
        }
        const TSwappedPen swap(dc, &solid);
        for (const std::vector<TDashPoint>& dash : CutIntoDashes(line, drawn))
        {
            std::vector<wmfD_Coord> piece;
            piece.reserve(dash.size());
            for (const TDashPoint& p : dash)
                piece.push_back(units(p));
            PolyLineThrough(api, dc, piece);
        }
        return;
    }
    wmfPen none = WithStyle(*dc->pen, kPenNull);
    wmfBrush ink{};
    ink.lbStyle = kBrushSolid;
    ink.lbColor = dc->pen->lopnColor;
    const TSwappedPen swap(dc, &none, &ink);
    const auto fill = [&](std::vector<wmfD_Coord> shape) {
        wmfPolyLine_t polygon{};
        polygon.dc = dc;
        polygon.pt = shape.data();
        polygon.count = static_cast<U16>(shape.size());
        g_drawPolygon(api, &polygon);
    };
    const double half = width / 2;
    for (const std::vector<TDashPoint>& dash : CutIntoDashes(line, drawn))
        for (std::size_t i = 1; i < dash.size(); ++i)
        {
            const TDashPoint a = dash[i - 1];
            const TDashPoint b = dash[i];
            const double length = std::hypot(b.X - a.X, b.Y - a.Y);
            if (!(length > 0))
                continue;
            const double nx = -(b.Y - a.Y) / length * half;
            const double ny = (b.X - a.X) / length * half;
            fill({units({a.X + nx, a.Y + ny}), units({b.X + nx, b.Y + ny}),
                  units({b.X - nx, b.Y - ny}), units({a.X - nx, a.Y - ny})});
            // Where the dash turns a corner, a disc joins its two pieces.
            if (i + 1 < dash.size())
            {
                std::vector<wmfD_Coord> disc;
                disc.reserve(8);
                for (int k = 0; k < 8; ++k)
                    disc.push_back(units(
                        {b.X + half * std::cos(k * kPi / 4), b.Y + half * std::sin(k * kPi / 4)}));
                fill(disc);
            }
        }
}

int* PageDuringPlay();
std::function<TRowRuns(int)> ClipRuns();

// The gd device draws a pen wider than a pixel by stamping an image of its nib at every pixel of
// the line: a line's cost is its length times the nib's area, seconds for one line of a pen as
// wide as the page. Pens up to this size in pixels, either way, are stamped as they always were
// (a line of a page's width costs at most a few hundred thousand pixels); wider ones are drawn
// here (PenStroke), solid or dashed, with their end caps and joins.
constexpr double kStampedPenSize = 8;

// The nib of the dc's pen on the page when it is drawn here instead of by the device. The device
// stamps a nib scaled across and down apart; the platform's nib is round, as wide as the pen's
// width mapped across (as the wide dashes are cut).
std::optional<TStrokePen> WidePen(const wmfDC* dc)
{
    if (dc == nullptr || dc->pen == nullptr || (dc->pen->lopnStyle & kPenStyleMask) == kPenNull)
        return std::nullopt;
    const std::array<double, 2> scale = PixelsPerUnit();
    const double across = dc->pen->width * scale[0];
    if (!(across > kStampedPenSize || dc->pen->height * scale[1] > kStampedPenSize) ||
        PageDuringPlay() == nullptr)
        return std::nullopt;
    TStrokePen pen;
    pen.Width = across;
    pen.Height = across;
    pen.Cap = LineCapOf(dc->pen->lopnStyle);
    pen.Join = LineJoinOf(dc->pen->lopnStyle);
    return pen;
}

// The outline through points (player units), closed back to its start if asked, with the wide
// pen: covered row by row, then painted once in the pen's colour within the clip region.
void DrawWide(wmfDC* dc, const std::vector<wmfD_Coord>& points, bool closed, const TStrokePen& pen)
{
    int* pixels = PageDuringPlay();
    if (pixels == nullptr)
        return;
    const std::array<double, 2> scale = PixelsPerUnit();
    const wmfD_Coord origin = g_device->bbox.TL;
    // The device draws from the pixel a point falls in: the line runs through its centre.
    std::vector<TDashPoint> line;
    line.reserve(points.size() + 1);
    for (const wmfD_Coord& p : points)
        line.push_back({std::floor((p.x - origin.x) * scale[0]) + 0.5,
                        std::floor((p.y - origin.y) * scale[1]) + 0.5});
    const auto width = static_cast<int>(g_device->width);
    TStrokeCover cover(width, static_cast<int>(g_device->height));
    if (const std::vector<double> dashes = DashesOf(dc); dashes.empty())
        cover.Add(line, closed, pen);
    else
    {
        // Dashes end flat, as the device's wide dashes do, and turn corners round.
        if (closed && !line.empty())
            line.push_back(line.front());
        TStrokePen dash = pen;
        dash.Cap = TLineCap::Flat;
        dash.Join = TLineJoin::Round;
        for (const std::vector<TDashPoint>& piece : CutIntoDashes(line, dashes))
            cover.Add(piece, false, dash);
    }
    const wmfRGB& c = dc->pen->lopnColor;
    const int colour = static_cast<int>(static_cast<std::uint32_t>(c.r) << 16 |
                                        static_cast<std::uint32_t>(c.g) << 8 | c.b);
    cover.Paint(ClipRuns(), [&](int y, int from, int to) {
        std::fill(pixels + static_cast<std::ptrdiff_t>(y) * width + from,
                  pixels + static_cast<std::ptrdiff_t>(y) * width + to, colour);
    });
}

void DrawLine(wmfAPI* api, wmfDrawLine_t* line)
{
    const TCosmeticPen cosmetic(line->dc);
    if (const std::optional<TStrokePen> pen = WidePen(line->dc))
    {
        DrawWide(line->dc, {line->from, line->to}, false, *pen);
        return;
    }
    const std::vector<double> dashes = DashesOf(line->dc);
    if (dashes.empty())
        g_drawLine(api, line);
    else
        DrawDashes(api, line->dc, {line->from, line->to}, false, dashes);
}

void PolyLine(wmfAPI* api, wmfPolyLine_t* line)
{
    const TCosmeticPen cosmetic(line->dc);
    const std::optional<TStrokePen> pen = WidePen(line->dc);
    if (pen && line->pt != nullptr)
    {
        DrawWide(line->dc, {line->pt, line->pt + line->count}, false, *pen);
        return;
    }
    const std::vector<double> dashes = DashesOf(line->dc);
    if (dashes.empty() || line->pt == nullptr)
        g_polyLine(api, line);
    else
        DrawDashes(api, line->dc, {line->pt, line->pt + line->count}, false, dashes);
}

// A shape with a dashed or wide outline: filled without its pen, then outlined.
void DrawPolygon(wmfAPI* api, wmfPolyLine_t* polygon)
{
    const TCosmeticPen cosmetic(polygon->dc);
    const TPlatformHatch hatch(polygon->dc);
    const std::vector<double> dashes = DashesOf(polygon->dc);
    const std::optional<TStrokePen> pen = WidePen(polygon->dc);
    if ((dashes.empty() && !pen) || polygon->pt == nullptr)
    {
        g_drawPolygon(api, polygon);
        return;
    }
    wmfPen none = WithStyle(*polygon->dc->pen, kPenNull);
    {
        const TSwappedPen swap(polygon->dc, &none);
        g_drawPolygon(api, polygon);
    }
    if (pen)
        DrawWide(polygon->dc, {polygon->pt, polygon->pt + polygon->count}, true, *pen);
    else
        DrawDashes(api, polygon->dc, {polygon->pt, polygon->pt + polygon->count}, true, dashes);
}

void DrawPolyPolygon(wmfAPI* api, wmfPolyPoly_t* polygons)
{
    const TCosmeticPen cosmetic(polygons->dc);
    const TPlatformHatch hatch(polygons->dc);
    const std::vector<double> dashes = DashesOf(polygons->dc);
    const std::optional<TStrokePen> pen = WidePen(polygons->dc);
    if ((dashes.empty() && !pen) || polygons->pt == nullptr || polygons->count == nullptr)
    {
        g_drawPolyPolygon(api, polygons);
        return;
    }
    wmfPen none = WithStyle(*polygons->dc->pen, kPenNull);
    {
        const TSwappedPen swap(polygons->dc, &none);
        g_drawPolyPolygon(api, polygons);
    }
    for (unsigned i = 0; i < polygons->npoly; ++i)
    {
        if (polygons->pt[i] == nullptr)
            continue;
        const std::vector<wmfD_Coord> ring(polygons->pt[i], polygons->pt[i] + polygons->count[i]);
        if (pen)
            DrawWide(polygons->dc, ring, true, *pen);
        else
            DrawDashes(api, polygons->dc, ring, true, dashes);
    }
}

// An open arc, from start to end clockwise as for chords and pies.
void DrawArc(wmfAPI* api, wmfDrawArc_t* arc)
{
    const TCosmeticPen cosmetic(arc->dc);
    if (const std::optional<TStrokePen> pen = WidePen(arc->dc))
    {
        DrawWide(arc->dc, ArcPoints(arc, false), false, *pen);
        return;
    }
    const std::vector<double> dashes = DashesOf(arc->dc);
    if (dashes.empty())
        g_drawArc(api, arc);
    else
        DrawDashes(api, arc->dc, ArcPoints(arc, false), false, dashes);
}

// The gd device copies every bitmap onto the page whatever its raster operation, while
// transparent bitmaps come as pairs ORed and then ANDed onto the page. Bitmaps are drawn here
// instead, one page pixel at a time, cut to the page.

// Raster operations: ours (app/imaging/RasterOperations.h), as libwmf's own names are macros
// with C casts.

std::uint32_t Combine(std::uint32_t rop, std::uint32_t source, std::uint32_t page)
{
    switch (rop)
    {
    case kSrcPaint:
        return source | page;
    case kSrcAnd:
        return source & page;
    case kSrcInvert:
        return source ^ page;
    case kSrcErase:
        return source & ~page;
    case kNotSrcCopy:
        return ~source;
    case kNotSrcErase:
        return ~(source | page);
    case kMergePaint:
        return ~source | page;
    default:
        return source;
    }
}

// The device hands its image out only when playing ends; while it plays, the image is the
// first member of its private data. Checked against the page size before use, so that another
// layout leaves bitmaps undrawn instead of drawing into the wrong memory.
int* PageDuringPlay()
{
    if (g_device == nullptr || g_device->gd_data == nullptr)
        return nullptr;
    void* image = *static_cast<void**>(g_device->gd_data);
    if (image == nullptr)
        return nullptr;
    struct ImageStart
    {
        unsigned char** pixels;
        int sx;
        int sy;
    };
    const auto* start = static_cast<const ImageStart*>(image);
    if (start->sx < 0 || start->sy < 0 || static_cast<unsigned>(start->sx) != g_device->width ||
        static_cast<unsigned>(start->sy) != g_device->height)
        return nullptr;
    return wmf_gd_image_pixels(image);
}

// The clip region as the player last set it: rectangles in its coordinates (those of bbox),
// none when nothing is clipped. The gd device keeps its own copy for what it draws; bitmaps are
// drawn here and must keep to it as well.
struct TClipRegion
{
    bool Active = false;
    std::vector<std::array<float, 4>> Rects; // left, top, right, bottom
};
TClipRegion g_clip;
void (*g_regionClip)(wmfAPI*, wmfPolyRectangle_t*) = nullptr;

void RegionClip(wmfAPI* api, wmfPolyRectangle_t* region)
{
    g_clip.Rects.clear();
    g_clip.Active = region->count > 0 && region->TL != nullptr && region->BR != nullptr;
    for (unsigned i = 0; g_clip.Active && i < region->count; ++i)
        g_clip.Rects.push_back({std::min(region->TL[i].x, region->BR[i].x),
                                std::min(region->TL[i].y, region->BR[i].y),
                                std::max(region->TL[i].x, region->BR[i].x),
                                std::max(region->TL[i].y, region->BR[i].y)});
    if (g_regionClip != nullptr)
        g_regionClip(api, region);
}

bool InsideClip(double x, double y)
{
    if (!g_clip.Active)
        return true;
    for (const auto& r : g_clip.Rects)
        if (x >= r[0] && x < r[2] && y >= r[1] && y < r[3])
            return true;
    return false;
}

// The pixels of each page row within the clip region (those InsideClip takes), unset when
// nothing is clipped.
std::function<TRowRuns(int)> ClipRuns()
{
    if (!g_clip.Active || g_device == nullptr)
        return nullptr;
    const std::array<double, 2> scale = PixelsPerUnit();
    const wmfD_Coord origin = g_device->bbox.TL;
    const double width = g_device->width;
    return [scale, origin, width](int y) {
        TRowRuns runs;
        const double centre = origin.y + (y + 0.5) / scale[1];
        const auto column = [&](float edge) {
            return static_cast<int>(
                std::clamp(std::ceil((edge - origin.x) * scale[0] - 0.5), 0.0, width));
        };
        for (const auto& r : g_clip.Rects)
            if (centre >= r[1] && centre < r[3] && column(r[0]) < column(r[2]))
                runs.emplace_back(column(r[0]), column(r[2]));
        return runs;
    };
}

// Calls visit(page pixel index, source colour 0xRRGGBB) for each page pixel the bitmap covers
// within the clip region, row by row.
template <typename Visit>
void ForEachBitmapPixel(wmfAPI* api, wmfBMP_Draw_t* draw, Visit visit)
{
    if (draw->bmp.data == nullptr || g_device == nullptr)
        return;
    const double boxWidth = static_cast<double>(g_device->bbox.BR.x) - g_device->bbox.TL.x;
    const double boxHeight = static_cast<double>(g_device->bbox.BR.y) - g_device->bbox.TL.y;
    if (!(boxWidth > 0 && boxHeight > 0))
        return;
    const double scaleX = g_device->width / boxWidth;
    const double scaleY = g_device->height / boxHeight;
    // The crop is the source rectangle within the bitmap; clamp it, the records are not trusted.
    const unsigned cropX = std::min<unsigned>(draw->crop.x, draw->bmp.width);
    const unsigned cropY = std::min<unsigned>(draw->crop.y, draw->bmp.height);
    const unsigned cropW = std::min<unsigned>(draw->crop.w, draw->bmp.width - cropX);
    const unsigned cropH = std::min<unsigned>(draw->crop.h, draw->bmp.height - cropY);
    const double cellW = std::abs(draw->pixel_width) * scaleX;
    const double cellH = std::abs(draw->pixel_height) * scaleY;
    if (cropW == 0 || cropH == 0 || !(cellW > 0 && cellH > 0) || !std::isfinite(cellW) ||
        !std::isfinite(cellH))
        return;
    const double left = (draw->pt.x - g_device->bbox.TL.x) * scaleX;
    const double top = (draw->pt.y - g_device->bbox.TL.y) * scaleY;
    const double right = left + cropW * cellW;
    const double bottom = top + cropH * cellH;
    if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) ||
        !std::isfinite(bottom))
        return;
    const auto first = [](double edge) {
        return static_cast<long long>(std::max(0.0, std::floor(edge)));
    };
    const auto last = [](double edge, unsigned size) {
        return static_cast<long long>(std::min(static_cast<double>(size), std::ceil(edge)));
    };
    const long long x0 = first(left);
    const long long x1 = last(right, g_device->width);
    const long long y0 = first(top);
    const long long y1 = last(bottom, g_device->height);
    for (long long y = y0; y < y1; ++y)
    {
        const double v = (static_cast<double>(y) + 0.5 - top) / cellH;
        if (v < 0 || v >= cropH)
            continue;
        // The bitmap's rows run bottom-up; the source rectangle is counted from the top.
        const unsigned row = draw->bmp.height - 1 - (cropY + static_cast<unsigned>(v));
        for (long long x = x0; x < x1; ++x)
        {
            const double u = (static_cast<double>(x) + 0.5 - left) / cellW;
            if (u < 0 || u >= cropW ||
                !InsideClip(g_device->bbox.TL.x + (static_cast<double>(x) + 0.5) / scaleX,
                            g_device->bbox.TL.y + (static_cast<double>(y) + 0.5) / scaleY))
                continue;
            wmfRGB rgb{};
            if (wmf_ipa_bmp_color(api, &draw->bmp, &rgb, cropX + static_cast<unsigned>(u), row) < 0)
                continue;
            visit(static_cast<std::size_t>(y) * g_device->width + static_cast<std::size_t>(x),
                  static_cast<std::uint32_t>(rgb.r) << 16 | static_cast<std::uint32_t>(rgb.g) << 8 |
                      rgb.b);
        }
    }
}

// Writes a combination of the page pixel (0xRRGGBB, white where nothing is drawn yet) into it.
template <typename Combiner>
void PutPixel(int* pixels, std::size_t at, bool keepClearWhite, Combiner combine)
{
    int& pixel = pixels[at];
    const auto old = static_cast<std::uint32_t>(pixel);
    // A clear pixel is the white the page is flattened onto.
    const bool clear = ((old >> 24) & 0x7F) == 0x7F;
    const std::uint32_t result = combine(clear ? 0xFFFFFFu : (old & 0xFFFFFFu)) & 0xFFFFFFu;
    if (clear && result == 0xFFFFFFu && keepClearWhite)
        return;
    pixel = static_cast<int>(result);
}

// A transparent bitmap comes as a pair: its opacity as grey levels ORed onto the page (black
// where clear), then its colours ANDed (white where clear). Played as they stand, partly
// covered parts (soft shadows) come out dark; the pair is blended as colours with that opacity
// instead, which is the same where the opacity is full or none. The ORed bitmap waits for its
// colours until the next bitmap or the end.
struct TPendingOr
{
    bool active = false;
    std::array<double, 4> where{};
    std::array<unsigned, 4> size{};
    std::vector<std::pair<std::size_t, std::uint32_t>> samples;
};
TPendingOr g_pendingOr;
constexpr std::size_t kMaxPendingPixels = 16u << 20;

void FlushPendingOr(int* pixels)
{
    if (g_pendingOr.active && pixels != nullptr)
        for (const auto& sample : g_pendingOr.samples)
        {
            const std::uint32_t colour = sample.second;
            PutPixel(pixels, sample.first, true,
                     [colour](std::uint32_t page) { return page | colour; });
        }
    g_pendingOr.active = false;
    g_pendingOr.samples.clear();
}

void DrawBitmap(wmfAPI* api, wmfBMP_Draw_t* draw)
{
    int* pixels = PageDuringPlay();
    if (pixels == nullptr)
        return;
    const std::array<double, 4> where{draw->pt.x, draw->pt.y, draw->pixel_width,
                                      draw->pixel_height};
    const std::array<unsigned, 4> size{draw->crop.w, draw->crop.h, draw->bmp.width,
                                       draw->bmp.height};
    if (g_pendingOr.active && draw->type == kSrcAnd && where == g_pendingOr.where &&
        size == g_pendingOr.size)
    {
        const auto& alphas = g_pendingOr.samples;
        std::size_t next = 0;
        ForEachBitmapPixel(api, draw, [&](std::size_t at, std::uint32_t colour) {
            while (next < alphas.size() && alphas[next].first < at)
                ++next;
            const std::uint32_t alpha =
                next < alphas.size() && alphas[next].first == at ? alphas[next].second : 0;
            PutPixel(pixels, at, true, [&](std::uint32_t page) {
                std::uint32_t result = 0;
                for (int shift = 0; shift < 24; shift += 8)
                {
                    const std::uint32_t b = (page >> shift) & 0xFF;
                    const std::uint32_t a = (alpha >> shift) & 0xFF;
                    const std::uint32_t c = (colour >> shift) & 0xFF;
                    result |= ((b * (255 - a) + c * a + 127) / 255) << shift;
                }
                return result;
            });
        });
        g_pendingOr.active = false;
        g_pendingOr.samples.clear();
        return;
    }
    FlushPendingOr(pixels);
    if (draw->type == kSrcPaint)
    {
        g_pendingOr.where = where;
        g_pendingOr.size = size;
        ForEachBitmapPixel(api, draw, [&](std::size_t at, std::uint32_t colour) {
            if (g_pendingOr.samples.size() < kMaxPendingPixels)
                g_pendingOr.samples.emplace_back(at, colour);
        });
        // Too large to hold: ORed as it stands.
        if (g_pendingOr.samples.size() >= kMaxPendingPixels)
        {
            g_pendingOr.samples.clear();
            ForEachBitmapPixel(api, draw, [&](std::size_t at, std::uint32_t colour) {
                PutPixel(pixels, at, true, [colour](std::uint32_t page) { return page | colour; });
            });
            return;
        }
        g_pendingOr.active = true;
        return;
    }
    const std::uint32_t rop = draw->type;
    ForEachBitmapPixel(api, draw, [&](std::size_t at, std::uint32_t source) {
        PutPixel(pixels, at, rop != kSrcCopy,
                 [&](std::uint32_t page) { return Combine(rop, source, page); });
    });
}

// libwmf reads a record's bitmap by the size its header claims, whatever the record holds: a
// pattern brush record of two words took a header from stale bytes claiming billions of pixels,
// and libwmf allocated gigabytes and spent seconds reading them. A bitmap the record cannot hold
// (uncompressed pixels beyond its bytes, or more pixels than a picture may have) is left unread,
// as one the device cannot read: it draws nothing.
void (*g_bmpRead)(wmfAPI*, wmfBMP_Read_t*) = nullptr;

bool BitmapFits(const unsigned char* buffer, long length)
{
    if (buffer == nullptr || length < 12)
        return false;
    const std::string_view header(reinterpret_cast<const char*>(buffer),
                                  static_cast<std::size_t>(std::min(length, 40L)));
    const std::uint32_t headerSize = ReadLe32(header, 0);
    std::int64_t width = 0;
    std::int64_t height = 0;
    unsigned bits = 0;
    std::uint32_t compression = 0;
    if (headerSize == 12)
    {
        width = ReadLe16(header, 4);
        height = ReadLe16(header, 6);
        bits = ReadLe16(header, 10);
    }
    else if (headerSize >= 40 && length >= 40)
    {
        width = static_cast<std::int32_t>(ReadLe32(header, 4));
        height =
            std::abs(static_cast<std::int64_t>(static_cast<std::int32_t>(ReadLe32(header, 8))));
        bits = ReadLe16(header, 14);
        compression = ReadLe32(header, 16);
    }
    else
        return false;
    if (static_cast<std::uint64_t>(length) < headerSize || !PictureSizeFits(width, height))
        return false;
    constexpr std::uint32_t kRgb = 0;
    constexpr std::uint32_t kBitFields = 3;
    if (compression != kRgb && compression != kBitFields)
        return true; // compressed: the pixel limit alone
    const std::int64_t rowBytes = (width * bits + 31) / 32 * 4;
    return rowBytes * height <= length;
}

void BmpRead(wmfAPI* api, wmfBMP_Read_t* read)
{
    if (BitmapFits(read->buffer, read->length))
        g_bmpRead(api, read);
}

// The page is copied out as playing ends, while the device still holds it. Asked for as an
// image, the gd device hands its page over for good, and libwmf exports nothing to free it with:
// every picture leaked its page (and in the fuzzing target made each input a leak to check).
// Asked for as a PNG with no output, the device frees the page itself once this has run.
TRaster* g_page = nullptr;
bool g_pageCopied = false;
void (*g_deviceEnd)(wmfAPI*) = nullptr;

void CopyPage(const int* pixels, TRaster& page)
{
    std::uint8_t* out = page.Pixels.data();
    const auto count = static_cast<std::size_t>(page.Width) * static_cast<std::size_t>(page.Height);
    for (std::size_t i = 0; i < count; ++i, out += 4)
    {
        // gd's true-colour pixel: 7-bit alpha (0 opaque, 127 clear) and 8-bit R, G, B.
        const auto p = static_cast<std::uint32_t>(pixels[i]);
        const std::uint32_t clear = (p >> 24) & 0x7F;
        out[0] = static_cast<std::uint8_t>((p >> 16) & 0xFF);
        out[1] = static_cast<std::uint8_t>((p >> 8) & 0xFF);
        out[2] = static_cast<std::uint8_t>(p & 0xFF);
        out[3] = static_cast<std::uint8_t>(255 - (clear * 255 + 63) / 127);
    }
}

void DeviceEnd(wmfAPI* api)
{
    int* pixels = PageDuringPlay();
    FlushPendingOr(pixels);
    if (pixels != nullptr && g_page != nullptr)
    {
        CopyPage(pixels, *g_page);
        g_pageCopied = true;
    }
    g_deviceEnd(api);
}

void MendShapes(wmfAPI* api)
{
    auto* device = static_cast<wmfFunctionReference*>(api->function_reference);
    g_drawPolygon = device->draw_polygon;
    g_drawRectangle = device->draw_rectangle;
    g_drawLine = device->draw_line;
    g_polyLine = device->poly_line;
    g_drawPolyPolygon = device->draw_polypolygon;
    g_drawArc = device->draw_arc;
    if (g_drawPolygon == nullptr || g_drawRectangle == nullptr || g_drawLine == nullptr ||
        g_polyLine == nullptr || g_drawArc == nullptr)
        return;
    device->draw_ellipse = DrawEllipse;
    device->draw_chord = DrawChord;
    device->draw_pie = DrawPie;
    device->draw_rectangle = DrawRectangle;
    device->draw_line = DrawLine;
    device->poly_line = PolyLine;
    device->draw_polygon = DrawPolygon;
    // The gd device has none: the player then draws each polygon alone.
    if (g_drawPolyPolygon != nullptr)
        device->draw_polypolygon = DrawPolyPolygon;
    device->draw_arc = DrawArc;
    device->bmp_draw = DrawBitmap;
    g_bmpRead = device->bmp_read;
    if (g_bmpRead != nullptr)
        device->bmp_read = BmpRead;
    g_regionClip = device->region_clip;
    device->region_clip = RegionClip;
}

void TakePage(wmfAPI* api)
{
    auto* device = static_cast<wmfFunctionReference*>(api->function_reference);
    g_deviceEnd = device->device_end;
    if (g_deviceEnd != nullptr)
        device->device_end = DeviceEnd;
}

// The first SetWindowOrg record's origin (x, y), (0, 0) without one.
void WindowOrigin(const std::string& bytes, double& x, double& y)
{
    x = 0;
    y = 0;
    std::size_t at = 22; // after the placeable header
    if (bytes.size() < at + 18)
        return;
    at += static_cast<std::size_t>(ReadLe16(bytes, at + 2)) * 2; // the header's own size in words
    while (at + 6 <= bytes.size())
    {
        const std::uint32_t words = ReadLe32(bytes, at);
        const std::uint16_t function = ReadLe16(bytes, at + 4);
        if (words < 3 || function == 0 || words > (bytes.size() - at) / 2)
            return;
        if (function == 0x020B && words >= 5)
        {
            y = static_cast<std::int16_t>(ReadLe16(bytes, at + 6));
            x = static_cast<std::int16_t>(ReadLe16(bytes, at + 8));
            return;
        }
        at += static_cast<std::size_t>(words) * 2;
    }
}

// The placeable header's box in the player's coordinates (points from the window origin), so
// that the picture keeps its frame, margins included, instead of being stretched from the
// drawn bounds to the page. Where the box misses most of the drawing (mapping modes the player
// turns otherwise) the drawn bounds stay. A drawing may also overflow the box: office suites
// write gradients as bitmaps reaching well past the frame, cut by a clip region that the drawn
// bounds do not know. A box that lies inside the drawing and is not many times smaller than it
// is taken too.
void PlaceableBox(const std::string& bytes, wmfD_Rect& bounds)
{
    const double inch = ReadLe16(bytes, 14);
    double originX = 0;
    double originY = 0;
    WindowOrigin(bytes, originX, originY);
    const auto at = [&](std::size_t offset, double origin) {
        const double value = static_cast<std::int16_t>(ReadLe16(bytes, offset));
        return static_cast<float>((value - origin) * 72.0 / inch);
    };
    wmfD_Rect box{};
    box.TL.x = std::min(at(6, originX), at(10, originX));
    box.BR.x = std::max(at(6, originX), at(10, originX));
    box.TL.y = std::min(at(8, originY), at(12, originY));
    box.BR.y = std::max(at(8, originY), at(12, originY));
    const double drawn =
        static_cast<double>(bounds.BR.x - bounds.TL.x) * (bounds.BR.y - bounds.TL.y);
    const double overlapX = std::min(box.BR.x, bounds.BR.x) - std::max(box.TL.x, bounds.TL.x);
    const double overlapY = std::min(box.BR.y, bounds.BR.y) - std::max(box.TL.y, bounds.TL.y);
    if (!(drawn > 0 && overlapX > 0 && overlapY > 0))
        return;
    const double overlap = overlapX * overlapY;
    const double boxArea = static_cast<double>(box.BR.x - box.TL.x) * (box.BR.y - box.TL.y);
    constexpr double kMostOfTheBox = 0.95;
    constexpr double kLargestOverflow = 9; // three times the box each way
    if (overlap >= drawn / 2 ||
        (overlap >= kMostOfTheBox * boxArea && drawn <= kLargestOverflow * boxArea))
        bounds = box;
}

// libwmf allocates the largest record size the header claims before it reads a record, so a
// header claiming gigabytes made it ask for them. The header is mended to the largest record
// the file really holds, as far as its records can be walked.
void BoundLargestRecord(std::string& bytes)
{
    const std::size_t header =
        bytes.size() >= 22 && ReadLe16(bytes, 0) == 0xCDD7 && ReadLe16(bytes, 2) == 0x9AC6 ? 22 : 0;
    if (bytes.size() < header + 18)
        return;
    std::size_t at = header + static_cast<std::size_t>(ReadLe16(bytes, header + 2)) * 2;
    std::uint32_t largest = 3;
    while (at + 6 <= bytes.size())
    {
        const std::uint32_t words = ReadLe32(bytes, at);
        if (words < 3 || words > (bytes.size() - at) / 2)
            break;
        largest = std::max(largest, words);
        if (ReadLe16(bytes, at + 4) == 0) // the end record
            break;
        at += static_cast<std::size_t>(words) * 2;
    }
    PutLe32(bytes, header + 12, largest);
}

// The records that make an object (pen, brush, font, palette, region...), which takes the lowest
// free slot of the object table.
bool CreatesObject(std::uint16_t function)
{
    switch (function)
    {
    case 0x02FA:
    case 0x02FB:
    case 0x02FC:
    case 0x00F7:
    case 0x01F9:
    case 0x0142:
    case 0x06FF:
    case 0x06FE:
    case 0x02FD:
        return true;
    default:
        return false;
    }
}

// Every pen the file makes gets the file's mark in its style, those of width 0 the cosmetic mark
// besides (see TCosmeticPen).
void MarkPens(std::string& bytes)
{
    std::size_t at =
        bytes.size() >= 22 && ReadLe16(bytes, 0) == 0xCDD7 && ReadLe16(bytes, 2) == 0x9AC6 ? 22 : 0;
    if (bytes.size() < at + 18)
        return;
    at += static_cast<std::size_t>(ReadLe16(bytes, at + 2)) * 2;
    while (at + 6 <= bytes.size())
    {
        const std::uint32_t words = ReadLe32(bytes, at);
        const std::uint16_t function = ReadLe16(bytes, at + 4);
        // The player ends at an end record of three words only.
        if (words < 3 || (function == 0 && words == 3) || words > (bytes.size() - at) / 2)
            break;
        if (function == 0x02FA && words >= 5)
        {
            const bool cosmetic = ReadLe16(bytes, at + 8) == 0; // width 0
            PutLe16(bytes, at + 6,
                    ReadLe16(bytes, at + 6) | kFilePenMark | (cosmetic ? kCosmeticMark : 0));
        }
        at += static_cast<std::size_t>(words) * 2;
    }
}

// libwmf keeps pointers into its object table: a brush deleted while a saved DC still holds it
// (one picture's producer deletes every brush right after the next one is selected, inside
// SaveDC/RestoreDC pairs) is later read from whatever object takes its slot, mostly a pen, as a
// pattern brush with a bitmap of garbage size, which thrashed memory for seconds and crashed.
// Here every object gets a slot of its own and no object is deleted: the records' indexes are
// renumbered to match. A picture with more objects than the table can number stays as it is.
void KeepObjects(std::string& bytes)
{
    std::size_t at =
        bytes.size() >= 22 && ReadLe16(bytes, 0) == 0xCDD7 && ReadLe16(bytes, 2) == 0x9AC6 ? 22 : 0;
    if (bytes.size() < at + 18)
        return;
    const std::size_t header = at;
    // A slot's object number, -1 when free. The free slots are those never taken (from
    // nextFresh on) and those freed again, all below nextFresh: the lowest free one is the
    // lowest freed one, if any.
    std::vector<int> slots(ReadLe16(bytes, header + 10), -1);
    std::size_t nextFresh = 0;
    std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> freed;
    at += static_cast<std::size_t>(ReadLe16(bytes, header + 2)) * 2;
    int created = 0;
    struct Fix
    {
        std::size_t offset;
        int object; // -1 to drop the record
    };
    std::vector<Fix> fixes;
    const auto objectAt = [&](std::size_t offset) {
        const std::uint16_t slot = ReadLe16(bytes, offset);
        // An index to an empty or missing slot stays out of range, as it was.
        return slot < slots.size() && slots[slot] >= 0 ? slots[slot] : 0xFFFF;
    };
    while (at + 6 <= bytes.size())
    {
        const std::uint32_t words = ReadLe32(bytes, at);
        const std::uint16_t function = ReadLe16(bytes, at + 4);
        if (words < 3 || function == 0 || words > (bytes.size() - at) / 2)
            break;
        const std::size_t params = at + 6;
        const std::size_t paramWords = words - 3;
        if (CreatesObject(function))
        {
            // A new object takes the lowest free slot.
            if ((freed.empty() && nextFresh >= slots.size()) || created >= 0xFFFF)
                return;
            std::size_t slot = nextFresh;
            if (freed.empty())
                ++nextFresh;
            else
            {
                slot = freed.top();
                freed.pop();
            }
            slots[slot] = created++;
            at += static_cast<std::size_t>(words) * 2;
            continue;
        }
        switch (function)
        {
        case 0x01F0: // DeleteObject
            if (paramWords >= 1)
            {
                const std::uint16_t slot = ReadLe16(bytes, params);
                if (slot < slots.size() && slots[slot] >= 0)
                {
                    slots[slot] = -1;
                    freed.push(slot);
                }
                fixes.push_back({at, -1}); // the record's start
            }
            break;
        case 0x012D:
        case 0x0234:
        case 0x012C:
        case 0x012B:
        case 0x012A: // one index
            if (paramWords >= 1)
                fixes.push_back({params, objectAt(params)});
            break;
        case 0x0228:
        case 0x0429: // a region and a brush
            if (paramWords >= 2)
            {
                fixes.push_back({params, objectAt(params)});
                fixes.push_back({params + 2, objectAt(params + 2)});
            }
            break;
        default:
            break;
        }
        at += static_cast<std::size_t>(words) * 2;
    }
    PutLe16(bytes, header + 10,
            static_cast<std::uint16_t>(
                std::max<std::size_t>(slots.size(), static_cast<std::size_t>(created))));
    for (const Fix& fix : fixes)
    {
        if (fix.object >= 0)
            PutLe16(bytes, fix.offset, static_cast<std::uint16_t>(fix.object));
        else
            PutLe16(bytes, fix.offset + 4, 0x0105); // SetRelAbs, which players ignore
    }
}

class TApi
{
public:
    TApi() = default;
    ~TApi()
    {
        if (m_api != nullptr)
            wmf_api_destroy(m_api);
    }
    TApi(const TApi&) = delete;
    TApi& operator=(const TApi&) = delete;
    wmfAPI*& Ref() { return m_api; }
    wmfAPI* Get() const { return m_api; }

private:
    wmfAPI* m_api = nullptr;
};

// The play's globals are ours alone while a picture is drawn, and cleared afterwards, so that
// a second picture in the same process (the fuzzing targets) starts afresh.
class TPlay
{
public:
    explicit TPlay(wmf_gd_t* device) { g_device = device; }
    ~TPlay()
    {
        g_device = nullptr;
        g_playedPen = nullptr;
        g_page = nullptr;
        g_pageCopied = false;
        g_pendingOr = TPendingOr{};
        g_clip = TClipRegion{};
    }
    TPlay(const TPlay&) = delete;
    TPlay& operator=(const TPlay&) = delete;
};

} // namespace

TRaster DrawWmf(std::string bytes, std::int64_t maxPixels)
{
    // A WMF converted from an EMF that kept the original (office suites write both) is drawn
    // from the original, which holds what the conversion lost (translucent fills among them),
    // when it has the WMF's size; otherwise, or if it cannot be drawn, from the WMF's records.
    long long frameWidth = 0;
    long long frameHeight = 0;
    if (const std::string original = EmbeddedEmf(bytes);
        !original.empty() && PlaceableSize(bytes, frameWidth, frameHeight))
    {
        try
        {
            TRaster raster = DrawEmf(original, maxPixels);
            if (raster.Width == frameWidth && raster.Height == frameHeight)
                return raster;
        }
        catch (const EPictureError&)
        {
        }
    }

    BoundLargestRecord(bytes);
    KeepObjects(bytes);
    MarkPens(bytes);

    wmfAPI_Options options{};
    options.function = wmf_gd_function;
    // Messages about records libwmf skips or refuses would go to stderr before the reason.
    const unsigned long flags =
        WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    TApi api;
    if (wmf_api_create(&api.Ref(), flags, &options) != wmf_E_None || api.Get() == nullptr)
        throw EPictureError("cannot start the WMF library");
    auto* device = static_cast<wmf_gd_t*>(api.Get()->device_data);
    const TPlay play(device);
    MendShapes(api.Get());
    TakePage(api.Get());

    if (wmf_mem_open(api.Get(), reinterpret_cast<unsigned char*>(bytes.data()),
                     static_cast<long>(bytes.size())) != wmf_E_None)
        throw EPictureError("bad WMF: unreadable header");
    wmfD_Rect bounds{};
    if (wmf_scan(api.Get(), 0, &bounds) != wmf_E_None)
        throw EPictureError("bad WMF: unreadable records");

    long long width = 0;
    long long height = 0;
    if (PlaceableSize(bytes, width, height))
        PlaceableBox(bytes, bounds);
    else
    {
        // Without a placeable header one logical unit is one pixel (the default mapping): the
        // drawn bounds are the size.
        float w = 0;
        float h = 0;
        if (wmf_size(api.Get(), &w, &h) != wmf_E_None ||
            !(w >= 0 && h >= 0 && w < 1e9f && h < 1e9f))
            throw EPictureError("bad WMF: no size");
        width = std::llround(w);
        height = std::llround(h);
    }
    CheckPictureSize(width, height, maxPixels);

    // No output: the page is copied out by DeviceEnd.
    device->type = wmf_gd_png;
    device->flags &= ~static_cast<unsigned long>(WMF_GD_OUTPUT_FILE | WMF_GD_OUTPUT_MEMORY);
    device->bbox = bounds;
    device->width = static_cast<unsigned int>(width);
    device->height = static_cast<unsigned int>(height);
    TRaster raster = NewRaster(width, height, 4);
    g_page = &raster;
    if (wmf_play(api.Get(), 0, &bounds) != wmf_E_None)
        throw EPictureError("bad WMF: cannot draw the records");
    if (!g_pageCopied)
        throw EPictureError("bad WMF: no pixels drawn");
    return raster;
}
