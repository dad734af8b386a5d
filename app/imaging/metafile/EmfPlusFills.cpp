#include "app/imaging/metafile/EmfPlusFills.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>

#include "app/imaging/metafile/EmfRecords.h"
#include "platform/ByteOrder.h"

namespace
{

constexpr std::uint16_t kEmfPlusObject = 0x4008;
constexpr std::uint16_t kObjectBrush = 1;
constexpr std::uint16_t kObjectPen = 2;
constexpr std::uint32_t kSolidBrush = 0;
constexpr std::uint16_t kColourGiven = 0x8000; // a fill's brush field is its ARGB colour
constexpr std::uint16_t kContinued = 0x8000;   // an object continued in the next record
constexpr std::uint32_t kBrushSolid = 0;

bool IsEmfPlusComment(std::string_view record)
{
    return record.size() >= 16 && ReadLe32(record, 0) == kEmrComment &&
           ReadLe32(record, 12) == kEmfPlusIdentifier;
}

// The drawing records of EMF+, and among them the fills, whose first field is the brush.
bool IsDrawing(std::uint16_t type)
{
    return type >= 0x400A && type <= 0x401C;
}

bool IsFill(std::uint16_t type)
{
    switch (type)
    {
    case 0x400A: // FillRects
    case 0x400C: // FillPolygon
    case 0x400E: // FillEllipse
    case 0x4010: // FillPie
    case 0x4013: // FillRegion
    case 0x4014: // FillPath
    case 0x4016: // FillClosedCurve
        return true;
    default:
        return false;
    }
}

// Pen drawings, whose pen is named by the record's flags (by its first field for DrawPath).
bool IsPenDrawing(std::uint16_t type)
{
    switch (type)
    {
    case 0x400B: // DrawRects
    case 0x400D: // DrawLines
    case 0x400F: // DrawEllipse
    case 0x4011: // DrawPie
    case 0x4012: // DrawArc
    case 0x4015: // DrawPath
    case 0x4017: // DrawClosedCurve
    case 0x4018: // DrawCurve
    case 0x4019: // DrawBeziers
        return true;
    default:
        return false;
    }
}

// The ARGB colour of a pen object's solid brush, which follows the pen's optional fields (as
// its flags list them); nothing for other brushes.
std::optional<std::uint32_t> PenColour(std::string_view data)
{
    if (data.size() < 20 || ReadLe32(data, 4) != 0)
        return std::nullopt;
    const std::uint32_t flags = ReadLe32(data, 8);
    std::uint64_t at = 20;                         // after the width
    const auto counted = [&](std::uint64_t each) { // a count, then so many items
        if (at + 4 > data.size())
            return false;
        at += 4 + each * ReadLe32(data, static_cast<std::size_t>(at));
        return true;
    };
    for (std::uint32_t bit = 1; bit <= 0x1000; bit <<= 1)
    {
        if ((flags & bit) == 0)
            continue;
        if (bit == 0x01) // transform
            at += 24;
        else if (bit == 0x100 || bit == 0x400) // dash pattern, compound line
        {
            if (!counted(4))
                return std::nullopt;
        }
        else if (bit == 0x800 || bit == 0x1000) // custom caps: a size, then the data
        {
            if (!counted(1))
                return std::nullopt;
        }
        else
            at += 4;
    }
    if (at + 12 > data.size() || ReadLe32(data, static_cast<std::size_t>(at) + 4) != kSolidBrush)
        return std::nullopt;
    return ReadLe32(data, static_cast<std::size_t>(at) + 8);
}

// What the one drawing of an EMF+ comment draws in a colour that is not opaque.
struct TTranslucent
{
    std::uint32_t Colour = 0; // ARGB
    bool Pen = false;         // an outline, else a fill
};

// Follows the solid brush and pen objects of an EMF+ comment in brushes and pens (by object
// number), and gives the colour of its one fill or outline when it is not opaque. Nothing for a
// comment that draws anything else, or more than one thing.
std::optional<TTranslucent> TranslucentDrawing(std::string_view comment,
                                               std::map<unsigned, std::uint32_t>& brushes,
                                               std::map<unsigned, std::uint32_t>& pens)
{
    std::optional<TTranslucent> drawn;
    int drawings = 0;
    std::size_t at = 16;
    while (comment.size() - at >= 12)
    {
        const std::uint16_t type = ReadLe16(comment, at);
        const std::uint16_t flags = ReadLe16(comment, at + 2);
        const std::uint32_t size = ReadLe32(comment, at + 4);
        if (size < 12 || size > comment.size() - at)
            break;
        const std::string_view data = comment.substr(at + 12, size - 12);
        const unsigned objectType = (flags >> 8) & 0x7F;
        if (type == kEmfPlusObject && (objectType == kObjectBrush || objectType == kObjectPen) &&
            (flags & kContinued) == 0)
        {
            const unsigned id = flags & 0xFF;
            std::map<unsigned, std::uint32_t>& objects = objectType == kObjectPen ? pens : brushes;
            const std::optional<std::uint32_t> colour =
                objectType == kObjectPen ? PenColour(data)
                : data.size() >= 12 && ReadLe32(data, 4) == kSolidBrush
                    ? std::optional<std::uint32_t>(ReadLe32(data, 8))
                    : std::nullopt;
            if (colour)
                objects[id] = *colour;
            else
                objects.erase(id);
        }
        else if (IsDrawing(type))
        {
            ++drawings;
            drawn.reset();
            if (IsFill(type) && data.size() >= 4)
            {
                const std::uint32_t brush = ReadLe32(data, 0);
                if ((flags & kColourGiven) != 0)
                    drawn = TTranslucent{brush, false};
                else if (const auto found = brushes.find(brush); found != brushes.end())
                    drawn = TTranslucent{found->second, false};
            }
            else if (IsPenDrawing(type) && (type != 0x4015 || data.size() >= 4))
            {
                const unsigned pen = type == 0x4015 ? ReadLe32(data, 0) : flags & 0xFFU;
                if (const auto found = pens.find(pen); found != pens.end())
                    drawn = TTranslucent{found->second, true};
            }
        }
        at += size;
    }
    if (drawings != 1 || !drawn || (drawn->Colour >> 24) == 0xFF)
        return std::nullopt;
    return drawn;
}

// The colour of a record that gives one (COLORREF, 0x00BBGGRR), for the colours in use.
std::optional<std::uint32_t> ColourOf(std::string_view record)
{
    const std::uint32_t type = ReadLe32(record, 0);
    if (type == kEmrCreateBrushIndirect && record.size() >= 20)
        return ReadLe32(record, 16);
    if (type == kEmrCreatePen && record.size() >= 28)
        return ReadLe32(record, 24);
    if (type == kEmrExtCreatePen && record.size() >= 44)
        return ReadLe32(record, 40);
    if ((type == kEmrSetTextColor || type == kEmrSetBkColor) && record.size() >= 12)
        return ReadLe32(record, 8);
    return std::nullopt;
}

} // namespace

TStandInColours::TStandInColours(const std::vector<std::string_view>& records)
{
    for (std::string_view record : records)
        if (const std::optional<std::uint32_t> colour = ColourOf(record))
            m_used.insert(*colour & 0xFFFFFF);
}

std::optional<std::uint32_t> TStandInColours::Next()
{
    if (m_used.size() >= 0x1000000)
        return std::nullopt;
    while (m_used.count(m_next) != 0)
        m_next = (m_next + 0x010305) & 0xFFFFFF;
    m_used.insert(m_next);
    return m_next;
}

std::string ColourAttributeOf(const std::string& tag, std::string_view name, std::size_t& at)
{
    const std::string key = " " + std::string(name) + "=\"#";
    at = tag.find(key);
    const std::size_t length = key.size() + 7; // RRGGBB and the quote
    if (at == std::string::npos || tag.size() - at < length)
        return "";
    return tag.substr(at, length);
}

std::string ColourAttribute(const char* name, std::uint32_t colour)
{
    char text[40];
    std::snprintf(text, sizeof text, " %s=\"#%02X%02X%02X\"", name, colour & 0xFF,
                  (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    return text;
}

void TTranslucentFills::Mark(std::vector<std::string_view>& records,
                             std::deque<std::string>& storage)
{
    TStandInColours standIns(records);
    std::map<unsigned, std::uint32_t> brushes;
    std::map<unsigned, std::uint32_t> pens;
    std::optional<TTranslucent> drawn; // what the plain records draw now
    for (std::size_t i = 1; i < records.size(); ++i)
    {
        const std::string_view record = records[i];
        if (IsEmfPlusComment(record))
        {
            drawn = TranslucentDrawing(record, brushes, pens);
            continue;
        }
        if (!drawn)
            continue;
        // The plain object of the drawing: a solid brush for a fill, a pen (not the null one)
        // of a solid colour for an outline; where its colour lies.
        const std::uint32_t type = ReadLe32(record, 0);
        std::size_t colourAt = 0;
        if (!drawn->Pen && type == kEmrCreateBrushIndirect && record.size() >= 24 &&
            ReadLe32(record, 12) == kBrushSolid)
            colourAt = 16;
        else if (drawn->Pen && type == kEmrCreatePen && record.size() >= 28 &&
                 (ReadLe32(record, 12) & 0x0F) != 5)
            colourAt = 24;
        else if (drawn->Pen && type == kEmrExtCreatePen && record.size() >= 52 &&
                 (ReadLe32(record, 28) & 0x0F) != 5 && ReadLe32(record, 36) == kBrushSolid)
            colourAt = 40;
        else
            continue;
        const std::optional<std::uint32_t> standIn = standIns.Next();
        if (!standIn)
            return;
        std::string marked(record);
        PutLe32(marked, colourAt, *standIn);
        storage.push_back(std::move(marked));
        records[i] = storage.back();
        const char* attribute = drawn->Pen ? "stroke" : "fill";
        char opacity[48];
        std::snprintf(opacity, sizeof opacity, " %s-opacity=\"%.4f\"", attribute,
                      static_cast<double>(drawn->Colour >> 24) / 255.0);
        // The EMF+ colour is ARGB: as a COLORREF, its red and blue change places.
        const std::uint32_t colour =
            (drawn->Colour >> 16 & 0xFF) | (drawn->Colour & 0xFF00) | (drawn->Colour & 0xFF) << 16;
        m_standIns[ColourAttribute(attribute, *standIn)] =
            ColourAttribute(attribute, colour) + opacity;
    }
}

void TTranslucentFills::Mend(std::string& tag) const
{
    if (m_standIns.empty())
        return;
    for (const char* attribute : {"fill", "stroke"})
    {
        std::size_t at = 0;
        const auto found = m_standIns.find(ColourAttributeOf(tag, attribute, at));
        if (found != m_standIns.end())
            tag.replace(at, found->first.size(), found->second);
    }
}
