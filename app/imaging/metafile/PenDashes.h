#pragma once

#include <vector>

// Dashed pens as the metafiles' own platform draws them, shared by the WMF and the EMF drawing:
// the lengths of a style's dashes and gaps, and the cutting of a line into its dashes.

// Pen styles as both metafile kinds store them (the low four bits of a pen's style).
enum : unsigned
{
    kPenSolid = 0,
    kPenDash = 1,
    kPenDot = 2,
    kPenDashDot = 3,
    kPenDashDotDot = 4,
    kPenNull = 5,
    kPenStyleMask = 0x000F,
};

// Lengths in pixels, a dash first and then gap and dash in turn, of a pen of this style and
// width in pixels; empty for styles drawn solid (and the null pen, which draws nothing). A pen
// up to a pixel wide has the fixed lengths of a thin line (dash 18 on 6 off; dot 3, 3;
// dash-dot 9, 6, 3, 6; dash-dot-dot 9, 3, 3, 3, 3, 3), a wider one its style's proportions in
// widths (dash 3, 1; dot 1, 1; dash-dot 3, 1, 1, 1; dash-dot-dot 3, 1, 1, 1, 1, 1).
std::vector<double> PenDashes(unsigned style, double width);

// True for a width drawn with the thin line's lengths.
bool IsThinPen(double width);

// Background modes as both metafile kinds store them.
enum : unsigned
{
    kTransparentBackground = 1,
    kOpaqueBackground = 2,
};

// True when the gaps of a dashed pen this wide (in pixels) show the background colour: a thin
// pen's do where the background mode is opaque, a wide pen's never.
bool GapsShowBackground(double width, unsigned backgroundMode);

struct TDashPoint
{
    double X = 0;
    double Y = 0;
};

// The dashes the pattern (as PenDashes gives it) cuts the polyline into, each a polyline of its
// own, since a dash may turn at a corner. The pattern starts afresh at the line's start and runs
// on across its corners. At most maxDashes are made: a line a million pixels long drawn in dots
// would otherwise take the drawing's memory and time.
std::vector<std::vector<TDashPoint>> CutIntoDashes(const std::vector<TDashPoint>& line,
                                                   const std::vector<double>& pattern,
                                                   std::size_t maxDashes = 1 << 16);
