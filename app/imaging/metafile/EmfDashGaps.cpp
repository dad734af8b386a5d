#include "app/imaging/metafile/EmfDashGaps.h"

#include "app/imaging/metafile/EmfRecords.h"
#include "app/imaging/metafile/PenDashes.h"
#include "platform/ByteOrder.h"

namespace
{

constexpr std::uint32_t kExtPenColour = 40;
constexpr std::size_t kMaxSaved = 1 << 16;

// Records that draw an outline with the pen in force (inside a path bracket, they only make the
// path, which is outlined by EMR_STROKEPATH or EMR_STROKEANDFILLPATH).
bool DrawsOutline(std::uint32_t type)
{
    return (type >= kEmrPolyBezier && type <= kEmrPolyPolygon) ||
           (type >= kEmrAngleArc && type <= kEmrPie) ||
           (type >= kEmrLineTo && type <= kEmrPolyDraw) || type == kEmrStrokeAndFillPath ||
           type == kEmrStrokePath || (type >= kEmrPolyBezier16 && type <= kEmrPolyDraw16);
}

// The value of a tag's attribute (' name="'), from its start to the closing quote.
bool FindValue(const std::string& tag, std::string_view name, std::size_t& at, std::size_t& length)
{
    const std::size_t key = tag.find(name);
    if (key == std::string::npos)
        return false;
    at = key + name.size();
    const std::size_t end = tag.find('"', at);
    if (end == std::string::npos)
        return false;
    length = end - at;
    return true;
}

} // namespace

std::vector<std::string> TDashGaps::Follow(std::string_view record, TStandInColours& standIns)
{
    const std::uint32_t type = ReadLe32(record, 0);
    const std::uint32_t value = record.size() >= 12 ? ReadLe32(record, 8) : 0;
    if (record.size() < 12)
        return {};
    if (CreatesObject(type) || type == kEmrDeleteObject)
    {
        m_dashedPens.erase(value);
        m_plainPens.erase(value);
        if (m_state.Pen == value)
            m_state.Pen.reset();
        const unsigned kind = record.size() >= 52 ? ReadLe32(record, 28) & kPenStyleMask : 0;
        if (type == kEmrExtCreatePen && kind >= kPenDash && kind <= kPenDashDotDot)
            m_dashedPens[value] = std::string(record);
        else if (type == kEmrExtCreatePen || type == kEmrCreatePen)
            m_plainPens.insert(value);
    }
    else if (type == kEmrSelectObject)
    {
        if (m_dashedPens.count(value) != 0)
            m_state.Pen = value;
        else if (m_plainPens.count(value) != 0 || IsStockPen(value))
            m_state.Pen.reset();
    }
    else if (type == kEmrSetBkMode)
        m_state.BackgroundMode = value;
    else if (type == kEmrSetBkColor)
        m_state.BackgroundColour = value & 0xFFFFFF;
    else if (type == kEmrSaveDc && m_saved.size() < kMaxSaved)
        m_saved.push_back(m_state);
    else if (type == kEmrRestoreDc)
        RestoreSaved(m_saved, value, m_state);
    else if (type == kEmrBeginPath)
        m_inPath = true;
    else if (type == kEmrEndPath || type == kEmrAbortPath)
        m_inPath = false;
    else if (DrawsOutline(type) && !m_inPath && m_state.Pen &&
             m_state.BackgroundMode == kOpaqueBackground)
    {
        const std::string& pen = m_dashedPens[*m_state.Pen];
        const std::pair<std::uint32_t, std::uint32_t> colours{
            ReadLe32(pen, kExtPenColour) & 0xFFFFFF, m_state.BackgroundColour};
        auto given = m_given.find(colours);
        if (given == m_given.end())
        {
            const std::optional<std::uint32_t> standIn = standIns.Next();
            if (!standIn)
                return {};
            given = m_given.emplace(colours, *standIn).first;
            m_strokes[ColourAttribute("stroke", *standIn)] = {colours.first, colours.second};
        }
        std::string copy = pen;
        PutLe32(copy, 8, m_slot);
        PutLe32(copy, kExtPenColour, given->second);
        return {copy, EmfRecord(kEmrSelectObject, {m_slot}), std::string(record),
                EmfRecord(kEmrSelectObject, {*m_state.Pen}), EmfRecord(kEmrDeleteObject, {m_slot})};
    }
    return {};
}

std::string TDashGaps::Mend(std::string& tag, double width) const
{
    if (m_strokes.empty())
        return "";
    std::size_t at = 0;
    const auto found = m_strokes.find(ColourAttributeOf(tag, "stroke", at));
    if (found == m_strokes.end())
        return "";
    const std::size_t colourLength = found->first.size();
    tag.replace(at, colourLength, ColourAttribute("stroke", found->second.Pen));
    if (!(width >= 0) || !GapsShowBackground(width, kOpaqueBackground) ||
        tag.compare(tag.size() - 2, 2, "/>") != 0)
        return "";
    // Beneath: the fill and a solid line in the background colour. Above: the dashes alone.
    std::string under = tag;
    under.replace(at, colourLength, ColourAttribute("stroke", found->second.Background));
    std::size_t valueAt = 0;
    std::size_t length = 0;
    constexpr std::string_view kDashes = " stroke-dasharray=\"";
    if (FindValue(under, kDashes, valueAt, length))
        under.erase(valueAt - kDashes.size(), kDashes.size() + length + 1);
    if (FindValue(tag, " fill=\"", valueAt, length))
        tag.replace(valueAt, length, "none");
    return under;
}
