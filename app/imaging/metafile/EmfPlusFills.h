#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Colours (COLORREF, 0x00BBGGRR) that no record of a file uses, to stand in for others in the
// SVG the converter draws from it: what the SVG shows in a stand-in colour was drawn with the
// object that was given it.
class TStandInColours
{
public:
    explicit TStandInColours(const std::vector<std::string_view>& records);

    // The next unused colour, or nothing when none is left.
    std::optional<std::uint32_t> Next();

private:
    std::set<std::uint32_t> m_used;
    std::uint32_t m_next = 0x123456; // the next stand-in to try
};

// The SVG colour attribute (' fill="#RRGGBB"', ' stroke="#RRGGBB"') of a COLORREF.
std::string ColourAttribute(const char* name, std::uint32_t colour);

// A tag's colour attribute of that name, whole as ColourAttribute writes it, and where it
// starts; empty where the tag gives no such colour.
std::string ColourAttributeOf(const std::string& tag, std::string_view name, std::size_t& at);

// Translucent fills and outlines of EMF files that carry EMF+ records beside their plain ones.
// The EMF+ records hold the colour with its opacity; the plain records that follow them, which
// are what gets drawn, hold it without (a 4% shadow came out solid black). Where an EMF+
// comment holds exactly one fill or outline, in a colour of its own (a solid brush, or a pen's
// solid brush) that is not opaque, the solid brushes, or the pens, the plain records create
// before the next EMF+ comment get a stand-in colour no record of the file uses; the SVG drawn
// from them gets the colour and opacity in its place. Gradient and texture brushes of EMF+ keep
// their plain drawing.
class TTranslucentFills
{
public:
    // Replaces the brush and pen records concerned among records (the file's records in order,
    // the header first), keeping the new ones in storage.
    void Mark(std::vector<std::string_view>& records, std::deque<std::string>& storage);

    // One tag of the SVG drawn from the records: a stand-in fill or stroke colour becomes the
    // colour and opacity.
    void Mend(std::string& tag) const;

private:
    // ' fill="#RRGGBB"' or ' stroke="#RRGGBB"' of a stand-in, and what replaces it
    std::map<std::string, std::string> m_standIns;
};
