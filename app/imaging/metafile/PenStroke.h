#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "app/imaging/metafile/PenDashes.h"

// Wide pens drawn as the metafiles' platform draws solid geometric pens: the line swept by the
// pen's nib, with its ends and corners shaped as the pen's style asks. A stroke is gathered as
// pieces (quadrilaterals along the segments, the nib at round ends and corners, wedges at other
// corners) and covered row by row, so that a nib as tall as the page costs the rows it spans,
// not its area, and each pixel is painted once however many pieces cover it.

enum class TLineCap
{
    Round,
    Square,
    Flat,
};

enum class TLineJoin
{
    Round,
    Bevel,
    Miter,
};

// The end and corner shapes a pen's style asks for (its end-cap and join bits).
TLineCap LineCapOf(unsigned style);
TLineJoin LineJoinOf(unsigned style);

struct TStrokePen
{
    double Width = 1;  // the nib's size across, in pixels
    double Height = 1; // and down
    TLineCap Cap = TLineCap::Round;
    TLineJoin Join = TLineJoin::Round;
};

// Runs of pixels [From, To) of one row.
using TRowRuns = std::vector<std::pair<int, int>>;

class TStrokeCover
{
public:
    // A page of width x height pixels; pixel (x, y) is covered when its centre (x + 0.5, y + 0.5)
    // is inside a piece.
    TStrokeCover(int width, int height) : m_width(width), m_height(height) {}

    // The polyline through points (pixel coordinates), closed back to its start if asked:
    // joined at every corner, and at its ends capped (open) or joined (closed).
    void Add(const std::vector<TDashPoint>& points, bool closed, const TStrokePen& pen);

    // Calls paint(y, from, to) for each run of covered pixels of each row, every pixel once,
    // kept to the runs allowed(y) gives where allowed is set.
    void Paint(const std::function<TRowRuns(int)>& allowed,
               const std::function<void(int, int, int)>& paint) const;

    // The pieces gathered so far.
    std::size_t Pieces() const { return m_pieces.size(); }

private:
    struct Piece
    {
        // A convex polygon of Count corners, or an ellipse (Count 0) of centre Corner[0] and
        // half-axes Corner[1].
        std::array<TDashPoint, 4> Corner{};
        int Count = 0;
        int Top = 0;    // the first row it may cover
        int Bottom = 0; // past the last
    };
    void AddPolygon(std::initializer_list<TDashPoint> corners);
    void AddEllipse(TDashPoint centre, double halfWidth, double halfHeight);
    void Keep(Piece piece, double top, double bottom);
    // The pixels of row y the piece covers, [from, to).
    static bool RunOf(const Piece& piece, int y, double& from, double& to);

    int m_width;
    int m_height;
    std::vector<Piece> m_pieces;
    double m_left = 0; // the pieces' extent across, in pixels
    double m_right = 0;
};
