#pragma once

#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Translucent fills of EMF files that carry EMF+ records beside their plain ones. The EMF+
// records hold the fill's colour with its opacity; the plain records that follow them, which
// are what gets drawn, hold it without (a 4% shadow came out solid black). Where an EMF+
// comment holds exactly one fill, in a colour of its own that is not opaque, the solid brushes
// the plain records create before the next EMF+ comment get a stand-in colour no record of the
// file uses; the SVG drawn from them gets the fill's colour and opacity in its place. Pens and
// other brushes of EMF+ (gradients, textures) keep their plain drawing.
class TTranslucentFills
{
public:
    // Replaces the brush records concerned among records (the file's records in order, the
    // header first), keeping the new ones in storage.
    void Mark(std::vector<std::string_view>& records, std::deque<std::string>& storage);

    // One tag of the SVG drawn from the records: a stand-in fill colour becomes the fill's
    // colour and opacity.
    void Mend(std::string& tag) const;

private:
    std::map<std::string, std::string> m_fills; // ' fill="#RRGGBB"' and what replaces it
};
