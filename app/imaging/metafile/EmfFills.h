#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/imaging/metafile/EmfPlusFills.h"

// A transform of the SVG drawing, as its matrix(a b c d e f) gives it: a point (x, y) goes to
// (a x + c y + e, b x + d y + f).
struct TSvgMatrix
{
    double A = 1, B = 0, C = 0, D = 1, E = 0, F = 0;
};

// Where logical x and y grow on the page under the mapping mode: +1 right (down), -1 left (up).
struct TLogicalAxes
{
    int X = 1;
    int Y = 1;
};

// What the converter leaves out of fills. It fills a hatched brush solid in the hatch colour,
// where the platform tiles the page with its 8 x 8 pixel pattern (one-pixel lines in the brush
// colour, the rest in the background colour where the background mode is opaque, clear where it
// is transparent), aligned to the brush origin. It fills every shape by one rule, whatever the
// polygon fill mode in force. It draws no background box behind text (the rectangle of
// ETO_OPAQUE, or the text's cell box in the opaque background mode), and puts the baseline of
// text aligned by its bottom at the bottom. It draws no region fills (EMR_FILLRGN,
// EMR_PAINTRGN) and no bitmap-less EMR_BITBLT (PATCOPY, BLACKNESS, WHITENESS).
//
// Each fill drawn with a hatched brush, or by the winding rule where the rule matters, is drawn
// with a solid brush of a stand-in colour in a slot of its own; in the SVG, the stand-in colour
// becomes the hatch pattern or the colour again, with its fill rule. Boxes behind text are drawn
// as polygons in the background colour with the null pen, just before the text; text aligned by
// its bottom is drawn aligned by its baseline, the descent higher. Regions and bitmap-less blits
// become rectangles filled with their brush without an outline.
class TEmfFills
{
public:
    // slot: an object slot of its own for the brushes made here.
    explicit TEmfFills(std::uint32_t slot = 0) : m_slot(slot) {}

    // Follows one record as it is drawn (after the header). Returns the records that draw it
    // (itself among them), taking stand-ins from standIns, or nothing when it is drawn as it
    // stands.
    std::vector<std::string> Follow(std::string_view record, TStandInColours& standIns,
                                    TLogicalAxes axes);

    // One tag of the SVG, drawn under ctm (from its own units to page pixels): a stand-in fill
    // becomes its colour, or its hatch pattern, and its fill rule.
    void Mend(std::string& tag, const TSvgMatrix& ctm);

    // The hatch patterns the mended tags refer to, as an SVG <defs> element; empty for none.
    std::string Definitions() const;

private:
    struct TFill
    {
        std::uint32_t Colour = 0;                // COLORREF
        int Hatch = -1;                          // a hatch style, or -1 for a solid fill
        std::optional<std::uint32_t> Background; // a hatch's background, if opaque
        bool Winding = false;                    // filled by the winding rule
        std::int32_t OriginX = 0, OriginY = 0;   // the brush origin, in pixels

        bool operator<(const TFill& other) const;
    };
    struct TState
    {
        std::uint32_t Brush = 0x80000000; // WHITE_BRUSH
        std::uint32_t Pen = 0x80000007;   // BLACK_PEN
        std::optional<std::uint32_t> Font;
        std::uint32_t BackgroundMode = 2; // opaque
        std::uint32_t BackgroundColour = 0xFFFFFF;
        bool Winding = false;
        std::uint32_t TextAlign = 0;
        std::int32_t OriginX = 0, OriginY = 0;
    };

    std::vector<std::string> Filled(std::string_view record, TStandInColours& standIns,
                                    bool ruleMatters);
    std::vector<std::string>
    FilledRectangles(const std::vector<std::array<std::int32_t, 4>>& rectangles,
                     std::uint32_t brush, TStandInColours& standIns);
    std::vector<std::string> PatternBlt(std::string_view record, TStandInColours& standIns);
    std::vector<std::string> WithBackground(std::string_view record, TLogicalAxes axes) const;

    std::uint32_t m_slot;
    std::map<std::uint32_t, std::string> m_objects; // the records that made them, by slot
    TState m_state;
    std::vector<TState> m_saved;
    bool m_inPath = false;
    std::map<TFill, std::uint32_t> m_given;  // stand-ins given
    std::map<std::string, TFill> m_standIns; // ' fill="#RRGGBB"' of a stand-in
    std::map<std::pair<std::string, std::string>, std::string> m_patterns; // id by fill, matrix
    std::string m_definitions;
};
