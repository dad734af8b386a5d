#include "app/imaging/metafile/EmfFills.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "app/imaging/CairoRaster.h"
#include "app/imaging/metafile/EmfRecords.h"
#include "app/imaging/metafile/PenDashes.h"
#include "platform/ByteOrder.h"

namespace
{

constexpr std::uint32_t kBrushSolid = 0;
constexpr std::uint32_t kBrushHatched = 2;
constexpr std::uint32_t kNullPen = 0x80000008;
constexpr std::size_t kMaxSaved = 1 << 16;
constexpr std::uint32_t kEtoOpaque = 0x0002;
constexpr std::uint32_t kEtoPdy = 0x2000; // the spacing gives a vertical step after each
constexpr std::uint32_t kTaUpdateCp = 1;
constexpr std::uint32_t kTaHorizontal = 6; // left 0, right 2, centre 6
constexpr std::uint32_t kTaVertical = 24;  // top 0, bottom 8, baseline 24
// The text's cell above and below the baseline, in ems: the converter puts the baseline 0.9 em
// below the top of the cell.
constexpr double kAscent = 0.9;
constexpr double kDescent = 0.2;
// Text longer than this is not measured: the width of an average character is taken, in ems.
constexpr std::uint32_t kMaxMeasured = 4096;
constexpr double kAverageCharacter = 0.55;

// The platform's hatch patterns, the top row first, the bit 0x80 the leftmost pixel.
constexpr std::uint8_t kHatches[6][8] = {
    {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00}, // HS_HORIZONTAL
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08}, // HS_VERTICAL
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01}, // HS_FDIAGONAL
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80}, // HS_BDIAGONAL
    {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08}, // HS_CROSS
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81}, // HS_DIAGCROSS
};

std::string SolidBrush(std::uint32_t slot, std::uint32_t colour)
{
    return EmfRecord(kEmrCreateBrushIndirect, {slot, kBrushSolid, colour, 0});
}

// Records that fill with the brush in force (outside a path bracket): those whose fill rule
// matters, then the others.
bool FillsByRule(std::uint32_t type)
{
    switch (type)
    {
    case kEmrPolygon:
    case kEmrPolyPolygon:
    case kEmrPolygon16:
    case kEmrPolyPolygon16:
    case kEmrFillPath:
    case kEmrStrokeAndFillPath:
        return true;
    default:
        return false;
    }
}

bool Fills(std::uint32_t type)
{
    switch (type)
    {
    case kEmrEllipse:
    case kEmrRectangle:
    case kEmrRoundRect:
    case kEmrChord:
    case kEmrPie:
        return true;
    default:
        return FillsByRule(type);
    }
}

bool IsPen(std::uint32_t type)
{
    return type == kEmrCreatePen || type == kEmrExtCreatePen;
}

bool IsBrush(std::uint32_t type)
{
    return type == kEmrCreateBrushIndirect || type == kEmrCreateMonoBrush ||
           type == kEmrCreateDibPatternBrushPt;
}

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// The pixels of a hatch as an SVG path of unit squares.
std::string HatchPath(int hatch)
{
    std::string path;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if ((kHatches[hatch][y] & (0x80 >> x)) != 0)
                path += "M" + std::to_string(x) + " " + std::to_string(y) + "h1v1h-1z";
    return path;
}

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80)
        out += static_cast<char>(c);
    else if (c < 0x800)
        out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    else if (c < 0x10000)
        out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))};
    else
        out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
}

// UTF-16 (little-endian) or, for EMR_EXTTEXTOUTA, single bytes taken as Latin-1, as UTF-8;
// a lone surrogate becomes U+FFFD.
std::string TextAsUtf8(std::string_view units, bool wide)
{
    std::string out;
    if (!wide)
    {
        for (char c : units)
            AppendUtf8(out, static_cast<unsigned char>(c));
        return out;
    }
    for (std::size_t i = 0; i + 1 < units.size(); i += 2)
    {
        std::uint32_t c = ReadLe16(units, i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < units.size() && ReadLe16(units, i + 2) >= 0xDC00 &&
            ReadLe16(units, i + 2) < 0xE000)
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (ReadLe16(units, i + 2) - 0xDC00U);
            i += 2;
        }
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        AppendUtf8(out, c);
    }
    return out;
}

// The width of the text of an EMR_EXTTEXTOUTA or -W record, em units high, in the font of an
// EMR_EXTCREATEFONTINDIRECTW record as this system's fonts set it (the SVG's text is drawn in
// them); an average character's width each where it cannot be measured.
double MeasuredWidth(std::string_view font, std::string_view record, std::uint32_t characters,
                     double em)
{
    const double average = characters * kAverageCharacter * em;
    const bool wide = ReadLe32(record, 0) == 84;
    const std::uint32_t offset = ReadLe32(record, 48);
    const std::uint64_t bytes = std::uint64_t{characters} * (wide ? 2 : 1);
    if (characters > kMaxMeasured || offset > record.size() || bytes > record.size() - offset)
        return average;
    const std::string text = TextAsUtf8(record.substr(offset, bytes), wide);
    std::string family = "serif"; // what the SVG's text is drawn in where the font has no name
    if (font.size() >= 104)       // the face name, up to 32 UTF-16 units
    {
        std::string_view name = font.substr(40, 64);
        for (std::size_t i = 0; i + 1 < name.size(); i += 2)
            if (ReadLe16(name, i) == 0)
                name = name.substr(0, i);
        if (!name.empty())
            family = TextAsUtf8(name, true);
    }
    constexpr double kSize = 100; // measured at this size, then scaled: fonts' own hinting aside
    const TCairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
    const TCairo cr(cairo_create(surface.get()));
    cairo_select_font_face(
        cr.get(), family.c_str(), font[32] != 0 ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
        ReadLe32(font, 28) >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr.get(), kSize);
    cairo_text_extents_t extents{};
    cairo_text_extents(cr.get(), text.c_str(), &extents);
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS || !std::isfinite(extents.x_advance))
        return average;
    return extents.x_advance * em / kSize;
}

std::int32_t Clamped(double value)
{
    return static_cast<std::int32_t>(std::clamp(std::round(value), -2147483647.0, 2147483647.0));
}

// An EMR_POLYPOLYGON of rectangles (left, top, right, bottom), each a polygon of its own.
std::string Rectangles(const std::vector<std::array<std::int32_t, 4>>& rectangles)
{
    std::string record;
    const auto count = static_cast<std::uint32_t>(rectangles.size());
    for (std::uint32_t value : {8U, 0U, 0U, 0U, 0U, 0U, count, 4 * count})
        AppendLe32(record, value);
    for (std::size_t i = 0; i < rectangles.size(); ++i)
        AppendLe32(record, 4);
    for (const auto& [l, t, r, b] : rectangles)
        for (std::int32_t value : {l, t, r, t, r, b, l, b})
            AppendLe32(record, static_cast<std::uint32_t>(value));
    PutLe32(record, 4, static_cast<std::uint32_t>(record.size()));
    return record;
}

// The rectangles of an EMR_FILLRGN or EMR_PAINTRGN, whose region data starts at `at`; empty
// where they do not lie within the record.
std::vector<std::array<std::int32_t, 4>> RegionRectangles(std::string_view record, std::size_t at)
{
    constexpr std::size_t kHeader = 32; // of the region data
    if (record.size() < at + kHeader)
        return {};
    const std::uint32_t count = ReadLe32(record, at + 8);
    if (count > (record.size() - at - kHeader) / 16)
        return {};
    std::vector<std::array<std::int32_t, 4>> out;
    for (std::size_t i = 0; i < count; ++i)
    {
        std::array<std::int32_t, 4> rectangle{};
        for (std::size_t j = 0; j < 4; ++j)
            rectangle[j] =
                static_cast<std::int32_t>(ReadLe32(record, at + kHeader + 16 * i + 4 * j));
        out.push_back(rectangle);
    }
    return out;
}

} // namespace

bool TEmfFills::TFill::operator<(const TFill& other) const
{
    return std::tie(Colour, Hatch, Background, Winding, OriginX, OriginY) <
           std::tie(other.Colour, other.Hatch, other.Background, other.Winding, other.OriginX,
                    other.OriginY);
}

std::vector<std::string> TEmfFills::Follow(std::string_view record, TStandInColours& standIns,
                                           TLogicalAxes axes)
{
    if (record.size() < 8)
        return {};
    const std::uint32_t type = ReadLe32(record, 0);
    const std::uint32_t value = record.size() >= 12 ? ReadLe32(record, 8) : 0;
    if (CreatesObject(type) && record.size() >= 12)
        m_objects[value] = std::string(record);
    else if (type == kEmrDeleteObject && record.size() >= 12)
        m_objects.erase(value);
    else if (type == kEmrSelectObject && record.size() >= 12)
    {
        if (value >= 0x80000000U) // a stock object
        {
            if (value <= 0x80000005U || value == 0x80000012U)
                m_state.Brush = value;
            else if (value <= 0x80000008U || value == 0x80000013U)
                m_state.Pen = value;
            else if (value <= 0x80000011U)
                m_state.Font.reset();
        }
        else if (const auto found = m_objects.find(value); found != m_objects.end())
        {
            const std::uint32_t made = ReadLe32(found->second, 0);
            if (IsBrush(made))
                m_state.Brush = value;
            else if (IsPen(made))
                m_state.Pen = value;
            else if (made == 82)
                m_state.Font = value;
        }
    }
    else if (type == kEmrSetBkMode && record.size() >= 12)
        m_state.BackgroundMode = value;
    else if (type == kEmrSetBkColor && record.size() >= 12)
        m_state.BackgroundColour = value & 0xFFFFFF;
    else if (type == kEmrSetPolyFillMode && record.size() >= 12)
        m_state.Winding = value == 2;
    else if (type == kEmrSetTextAlign && record.size() >= 12)
        m_state.TextAlign = value;
    else if (type == kEmrSetBrushOrgEx && record.size() >= 16)
    {
        m_state.OriginX = static_cast<std::int32_t>(value);
        m_state.OriginY = static_cast<std::int32_t>(ReadLe32(record, 12));
    }
    else if (type == kEmrSaveDc)
    {
        if (m_saved.size() < kMaxSaved)
            m_saved.push_back(m_state);
    }
    else if (type == kEmrRestoreDc && record.size() >= 12)
        RestoreSaved(m_saved, value, m_state);
    else if (type == kEmrBeginPath)
        m_inPath = true;
    else if (type == kEmrEndPath || type == kEmrAbortPath)
        m_inPath = false;
    else if (Fills(type) && (!m_inPath || type == kEmrFillPath || type == kEmrStrokeAndFillPath))
        return Filled(record, standIns, FillsByRule(type));
    else if (type == kEmrFillRgn && record.size() >= 32) // the bounds, size, brush, region
        return FilledRectangles(RegionRectangles(record, 32), ReadLe32(record, 28), standIns);
    else if (type == kEmrPaintRgn) // with the brush in force
        return FilledRectangles(RegionRectangles(record, 28), m_state.Brush, standIns);
    else if (type == kEmrBitBlt && record.size() >= 100 && ReadLe32(record, 88) == 0)
        return PatternBlt(record, standIns);
    else if ((type == kEmrExtTextOutA || type == kEmrExtTextOutW) && record.size() >= 76)
        return WithBackground(record, axes);
    return {};
}

std::vector<std::string> TEmfFills::Filled(std::string_view record, TStandInColours& standIns,
                                           bool ruleMatters)
{
    TFill fill;
    const std::uint32_t brush = m_state.Brush;
    static constexpr std::uint32_t kStockColours[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040,
                                                      0x000000};
    if (brush >= 0x80000000U && brush <= 0x80000004U)
        fill.Colour = kStockColours[brush - 0x80000000U];
    else if (const auto found = m_objects.find(brush);
             found != m_objects.end() && ReadLe32(found->second, 0) == kEmrCreateBrushIndirect &&
             found->second.size() >= 24)
    {
        const std::uint32_t style = ReadLe32(found->second, 12);
        const std::uint32_t hatch = ReadLe32(found->second, 20);
        fill.Colour = ReadLe32(found->second, 16) & 0xFFFFFF;
        if (style == kBrushHatched && hatch <= 5)
            fill.Hatch = static_cast<int>(hatch);
        else if (style != kBrushSolid)
            return {};
    }
    else
        return {}; // the null brush, pattern brushes: drawn as they stand
    fill.Winding = ruleMatters && m_state.Winding;
    if (fill.Hatch < 0 && !fill.Winding)
        return {};
    if (fill.Hatch >= 0)
    {
        if (m_state.BackgroundMode == kOpaqueBackground)
            fill.Background = m_state.BackgroundColour;
        fill.OriginX = m_state.OriginX;
        fill.OriginY = m_state.OriginY;
    }
    auto given = m_given.find(fill);
    if (given == m_given.end())
    {
        const std::optional<std::uint32_t> standIn = standIns.Next();
        if (!standIn)
            return {};
        given = m_given.emplace(fill, *standIn).first;
        m_standIns[ColourAttribute("fill", *standIn)] = fill;
    }
    return {SolidBrush(m_slot, given->second), EmfRecord(kEmrSelectObject, {m_slot}),
            std::string(record), EmfRecord(kEmrSelectObject, {brush}),
            EmfRecord(kEmrDeleteObject, {m_slot})};
}

std::vector<std::string>
TEmfFills::FilledRectangles(const std::vector<std::array<std::int32_t, 4>>& rectangles,
                            std::uint32_t brush, TStandInColours& standIns)
{
    if (rectangles.empty())
        return {};
    // A region is filled without an outline, with the brush given.
    const std::uint32_t inForce = m_state.Brush;
    std::vector<std::string> out{EmfRecord(kEmrSelectObject, {brush}),
                                 EmfRecord(kEmrSelectObject, {kNullPen})};
    m_state.Brush = brush;
    std::vector<std::string> filled = Filled(Rectangles(rectangles), standIns, false);
    m_state.Brush = inForce;
    if (filled.empty())
        filled.push_back(Rectangles(rectangles));
    out.insert(out.end(), filled.begin(), filled.end());
    out.push_back(EmfRecord(kEmrSelectObject, {inForce}));
    out.push_back(EmfRecord(kEmrSelectObject, {m_state.Pen}));
    return out;
}

std::vector<std::string> TEmfFills::PatternBlt(std::string_view record, TStandInColours& standIns)
{
    // An EMR_BITBLT without a bitmap fills its rectangle by its raster operation alone: with
    // the brush (PATCOPY), black (BLACKNESS) or white (WHITENESS). Others are left as they
    // stand, drawn by nothing.
    constexpr std::uint32_t kPatCopy = 0x00F00021;
    constexpr std::uint32_t kBlackness = 0x00000042;
    constexpr std::uint32_t kWhiteness = 0x00FF0062;
    const std::uint32_t operation = ReadLe32(record, 40);
    std::uint32_t brush = m_state.Brush;
    if (operation == kBlackness)
        brush = 0x80000004; // BLACK_BRUSH
    else if (operation == kWhiteness)
        brush = 0x80000000; // WHITE_BRUSH
    else if (operation != kPatCopy)
        return {};
    const auto field = [&](std::size_t at) {
        return static_cast<std::int32_t>(ReadLe32(record, at));
    };
    const std::int64_t right = std::int64_t{field(24)} + field(32);
    const std::int64_t bottom = std::int64_t{field(28)} + field(36);
    if (right > INT32_MAX || bottom > INT32_MAX || right < INT32_MIN || bottom < INT32_MIN)
        return {};
    return FilledRectangles({{field(24), field(28), static_cast<std::int32_t>(right),
                              static_cast<std::int32_t>(bottom)}},
                            brush, standIns);
}

std::vector<std::string> TEmfFills::WithBackground(std::string_view record, TLogicalAxes axes) const
{
    struct TBox
    {
        double Left, Top, Right, Bottom;
    };
    std::vector<TBox> boxes;
    const auto field = [&](std::size_t at) {
        return static_cast<std::int32_t>(ReadLe32(record, at));
    };
    const std::uint32_t options = ReadLe32(record, 52);
    if ((options & kEtoOpaque) != 0 && field(56) != field(64) && field(60) != field(68))
        boxes.push_back(
            {double(field(56)), double(field(60)), double(field(64)), double(field(68))});
    // The font in force, for text drawn upright: its em in logical units.
    const auto font = m_state.Font ? m_objects.find(*m_state.Font) : m_objects.end();
    const bool upright =
        font != m_objects.end() && font->second.size() >= 36 && ReadLe32(font->second, 20) == 0;
    const double em =
        upright
            ? std::fabs(static_cast<double>(static_cast<std::int32_t>(ReadLe32(font->second, 12))))
            : 0;
    const std::uint32_t characters = ReadLe32(record, 44);
    if (m_state.BackgroundMode == kOpaqueBackground && (m_state.TextAlign & kTaUpdateCp) == 0 &&
        upright && characters > 0)
    {
        // The cell box: as high as the font's cells, as wide as the characters' spacing adds
        // up to, or the text measures where it gives none.
        const std::uint32_t offset = ReadLe32(record, 72);
        const std::uint64_t step = (options & kEtoPdy) != 0 ? 8 : 4;
        double width = 0;
        if (offset >= 76 && offset <= record.size() &&
            characters <= (record.size() - offset) / step)
            for (std::uint32_t i = 0; i < characters; ++i)
                width += static_cast<std::int32_t>(ReadLe32(record, offset + i * step));
        else
            width = MeasuredWidth(font->second, record, characters, em);
        double left = 0;
        if ((m_state.TextAlign & kTaHorizontal) == 2)
            left = -width;
        else if ((m_state.TextAlign & kTaHorizontal) == 6)
            left = -width / 2;
        double top = 0; // below the reference point, in the page's direction
        if ((m_state.TextAlign & kTaVertical) == 24)
            top = -kAscent * em;
        else if ((m_state.TextAlign & kTaVertical) == 8)
            top = -(kAscent + kDescent) * em;
        const double x = field(36);
        const double y = field(40);
        if (em > 0 && width != 0)
            boxes.push_back({x + axes.X * left, y + axes.Y * top, x + axes.X * (left + width),
                             y + axes.Y * (top + (kAscent + kDescent) * em)});
    }
    // The converter puts the baseline of text aligned by its bottom at the reference point: it
    // is drawn aligned by its baseline, the font's descent above.
    std::vector<std::string> text{std::string(record)};
    if ((m_state.TextAlign & kTaVertical) == 8 && (m_state.TextAlign & kTaUpdateCp) == 0 && em > 0)
    {
        PutLe32(text[0], 40,
                static_cast<std::uint32_t>(Clamped(field(40) - axes.Y * kDescent * em)));
        text.insert(text.begin(), EmfRecord(kEmrSetTextAlign, {m_state.TextAlign | kTaVertical}));
        text.push_back(EmfRecord(kEmrSetTextAlign, {m_state.TextAlign}));
    }
    if (boxes.empty())
        return text.size() > 1 ? text : std::vector<std::string>{};
    std::vector<std::string> out{SolidBrush(m_slot, m_state.BackgroundColour),
                                 EmfRecord(kEmrSelectObject, {m_slot}),
                                 EmfRecord(kEmrSelectObject, {kNullPen})};
    for (const TBox& box : boxes)
    {
        const std::int32_t l = Clamped(std::min(box.Left, box.Right));
        const std::int32_t r = Clamped(std::max(box.Left, box.Right));
        const std::int32_t t = Clamped(std::min(box.Top, box.Bottom));
        const std::int32_t b = Clamped(std::max(box.Top, box.Bottom));
        const auto u = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
        out.push_back(EmfRecord(kEmrPolygon, {u(l), u(t), u(r), u(b), 4, u(l), u(t), u(r), u(t),
                                              u(r), u(b), u(l), u(b)})); // EMR_POLYGON
    }
    for (const std::string& restore :
         {EmfRecord(kEmrSelectObject, {m_state.Brush}), EmfRecord(kEmrSelectObject, {m_state.Pen}),
          EmfRecord(kEmrDeleteObject, {m_slot})})
        out.push_back(restore);
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

void TEmfFills::Mend(std::string& tag, const TSvgMatrix& ctm)
{
    if (m_standIns.empty())
        return;
    std::size_t at = 0;
    const auto found = m_standIns.find(ColourAttributeOf(tag, "fill", at));
    if (found == m_standIns.end())
        return;
    const TFill& fill = found->second;
    std::string replacement = ColourAttribute("fill", fill.Colour);
    // Under a transform that stretches or squeezes a unit beyond these bounds, the pattern's
    // transform cannot undo the tag's precisely enough, and the renderer's tiles grew to
    // gigabytes: the hatch is filled solid in its colour, as the shape can hardly show anyway.
    constexpr double kMaxStretch = 1e4;
    const double determinant = ctm.A * ctm.D - ctm.B * ctm.C;
    const double largest = std::max(std::hypot(ctm.A, ctm.B), std::hypot(ctm.C, ctm.D));
    if (fill.Hatch >= 0 && std::isfinite(determinant) && largest <= kMaxStretch &&
        std::fabs(determinant) >= largest / kMaxStretch)
    {
        // The pattern lies on the page's pixels whatever the tag's transform: its own
        // transform undoes the tag's.
        const TSvgMatrix inverse{ctm.D / determinant,
                                 -ctm.B / determinant,
                                 -ctm.C / determinant,
                                 ctm.A / determinant,
                                 (ctm.C * ctm.F - ctm.D * ctm.E) / determinant,
                                 (ctm.B * ctm.E - ctm.A * ctm.F) / determinant};
        std::string matrix;
        for (double v : {inverse.A, inverse.B, inverse.C, inverse.D, inverse.E, inverse.F})
            matrix += (matrix.empty() ? "" : " ") + Number(v);
        auto& id = m_patterns[{found->first, matrix}];
        if (id.empty())
        {
            id = "pictova-hatch-" + std::to_string(m_patterns.size());
            m_definitions +=
                "<pattern id=\"" + id + "\" patternUnits=\"userSpaceOnUse\" x=\"" +
                std::to_string(fill.OriginX) + "\" y=\"" + std::to_string(fill.OriginY) +
                "\" width=\"8\" height=\"8\" patternTransform=\"matrix(" + matrix + ")\">";
            if (fill.Background)
                m_definitions += "<rect width=\"8\" height=\"8\"" +
                                 ColourAttribute("fill", *fill.Background) + "/>";
            m_definitions += "<path d=\"" + HatchPath(fill.Hatch) + "\"" +
                             ColourAttribute("fill", fill.Colour) + "/></pattern>\n";
        }
        replacement = " fill=\"url(#" + id + ")\"";
    }
    if (fill.Winding)
        replacement += " fill-rule=\"nonzero\"";
    tag.replace(at, found->first.size(), replacement);
}

std::string TEmfFills::Definitions() const
{
    return m_definitions.empty() ? "" : "<defs>\n" + m_definitions + "</defs>\n";
}
