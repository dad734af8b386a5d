#include "app/imaging/metafile/EmfPlusFills.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>

#include "platform/ByteOrder.h"

namespace
{

constexpr std::uint32_t kEmrComment = 70;
constexpr std::uint32_t kEmrCreateBrushIndirect = 39;
constexpr std::uint32_t kEmrCreatePen = 38;
constexpr std::uint32_t kEmrSetTextColor = 24;
constexpr std::uint32_t kEmrSetBkColor = 25;
constexpr std::uint32_t kEmfPlusIdentifier = 0x2B464D45; // "EMF+"
constexpr std::uint16_t kEmfPlusObject = 0x4008;
constexpr std::uint16_t kObjectBrush = 1;
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

// Follows the solid brush objects of an EMF+ comment in brushes (by object number), and gives
// the ARGB colour of its one fill when it is not opaque. Nothing for a comment that draws
// anything else, or more than one thing.
std::optional<std::uint32_t> TranslucentFill(std::string_view comment,
                                             std::map<unsigned, std::uint32_t>& brushes)
{
    std::optional<std::uint32_t> colour;
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
        if (type == kEmfPlusObject && ((flags >> 8) & 0x7F) == kObjectBrush &&
            (flags & kContinued) == 0)
        {
            const unsigned id = flags & 0xFF;
            if (data.size() >= 12 && ReadLe32(data, 4) == kSolidBrush)
                brushes[id] = ReadLe32(data, 8);
            else
                brushes.erase(id);
        }
        else if (IsDrawing(type))
        {
            ++drawings;
            colour.reset();
            if (IsFill(type) && data.size() >= 4)
            {
                const std::uint32_t brush = ReadLe32(data, 0);
                if ((flags & kColourGiven) != 0)
                    colour = brush;
                else if (const auto found = brushes.find(brush); found != brushes.end())
                    colour = found->second;
            }
        }
        at += size;
    }
    if (drawings != 1 || !colour || (*colour >> 24) == 0xFF)
        return std::nullopt;
    return colour;
}

// The colour of a record that gives one (COLORREF, 0x00BBGGRR), for the colours in use.
std::optional<std::uint32_t> ColourOf(std::string_view record)
{
    constexpr std::uint32_t kEmrExtCreatePen = 95;
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
    std::optional<std::uint32_t> fill; // the translucent fill the plain records draw now
    for (std::size_t i = 1; i < records.size(); ++i)
    {
        const std::string_view record = records[i];
        if (IsEmfPlusComment(record))
        {
            fill = TranslucentFill(record, brushes);
            continue;
        }
        if (!fill || ReadLe32(record, 0) != kEmrCreateBrushIndirect || record.size() < 24 ||
            ReadLe32(record, 12) != kBrushSolid)
            continue;
        const std::optional<std::uint32_t> standIn = standIns.Next();
        if (!standIn)
            return;
        std::string marked(record);
        PutLe32(marked, 16, *standIn);
        storage.push_back(std::move(marked));
        records[i] = storage.back();
        char opacity[48];
        std::snprintf(opacity, sizeof opacity, " fill-opacity=\"%.4f\"",
                      static_cast<double>(*fill >> 24) / 255.0);
        // The EMF+ colour is ARGB: as a COLORREF, its red and blue change places.
        const std::uint32_t colour = (*fill >> 16 & 0xFF) | (*fill & 0xFF00) | (*fill & 0xFF) << 16;
        m_fills[ColourAttribute("fill", *standIn)] = ColourAttribute("fill", colour) + opacity;
    }
}

void TTranslucentFills::Mend(std::string& tag) const
{
    if (m_fills.empty())
        return;
    std::size_t at = 0;
    if (const auto found = m_fills.find(ColourAttributeOf(tag, "fill", at)); found != m_fills.end())
        tag.replace(at, found->first.size(), found->second);
}
