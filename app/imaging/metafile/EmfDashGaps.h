#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/imaging/metafile/EmfPlusFills.h"

// The gaps of a thin dashed pen show the background colour where the background mode is opaque
// (GapsShowBackground), as in WMF pictures; the converter leaves them clear. Each outline drawn
// with a dashed pen in that mode is drawn with a copy of the pen in a stand-in colour, which
// says the pen's and the background's colours; in the SVG, such a stroke gets its colour back
// and, when it is thin, a solid stroke in the background colour beneath it.
class TDashGaps
{
public:
    // slot: an object slot of its own for the copies.
    explicit TDashGaps(std::uint32_t slot = 0) : m_slot(slot) {}

    // Follows one record as it is drawn, pens already as PenAsExtPen leaves them. Returns the
    // records that draw it with a stand-in pen (itself among them), taking the stand-in from
    // standIns, or nothing when it is drawn as it stands.
    std::vector<std::string> Follow(std::string_view record, TStandInColours& standIns);

    // One tag of the SVG, its stroke width in page pixels: a stand-in stroke gets its colour
    // back, and a thin one its gaps. Returns the tag to draw beneath it (the fill, and a solid
    // stroke in the background colour), or empty for none.
    std::string Mend(std::string& tag, double width) const;

private:
    struct TState
    {
        std::optional<std::uint32_t> Pen; // the slot of the dashed pen in force, if one is
        std::uint32_t BackgroundMode = 2; // opaque
        std::uint32_t BackgroundColour = 0xFFFFFF;
    };
    struct TColours
    {
        std::uint32_t Pen = 0;
        std::uint32_t Background = 0;
    };

    std::uint32_t m_slot;
    std::map<std::uint32_t, std::string> m_dashedPens; // by slot, as created
    std::set<std::uint32_t> m_plainPens;
    TState m_state;
    std::vector<TState> m_saved;
    bool m_inPath = false;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> m_given; // stand-ins given
    std::map<std::string, TColours> m_strokes; // ' stroke="#RRGGBB"' of a stand-in
};
