#include "app/imaging/metafile/PenStroke.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace
{
// Style bits beside the dash style, as both metafile kinds store them.
constexpr unsigned kEndCapMask = 0x0F00;
constexpr unsigned kEndCapSquare = 0x0100;
constexpr unsigned kEndCapFlat = 0x0200;
constexpr unsigned kJoinMask = 0xF000;
constexpr unsigned kJoinBevel = 0x1000;
constexpr unsigned kJoinMiter = 0x2000;

// Beyond this ratio of a mitred corner's length to the pen's width the corner is bevelled,
// as the platform's default miter limit does.
constexpr double kMiterLimit = 10;

// Cells of the per-row difference array worked on at once: bands of rows of the page.
constexpr std::size_t kBandCells = std::size_t{1} << 22;

TDashPoint Plus(TDashPoint a, TDashPoint b)
{
    return {a.X + b.X, a.Y + b.Y};
}

TDashPoint Minus(TDashPoint a, TDashPoint b)
{
    return {a.X - b.X, a.Y - b.Y};
}

TDashPoint Times(TDashPoint a, double k)
{
    return {a.X * k, a.Y * k};
}
} // namespace

TLineCap LineCapOf(unsigned style)
{
    switch (style & kEndCapMask)
    {
    case kEndCapSquare:
        return TLineCap::Square;
    case kEndCapFlat:
        return TLineCap::Flat;
    default:
        return TLineCap::Round;
    }
}

TLineJoin LineJoinOf(unsigned style)
{
    switch (style & kJoinMask)
    {
    case kJoinBevel:
        return TLineJoin::Bevel;
    case kJoinMiter:
        return TLineJoin::Miter;
    default:
        return TLineJoin::Round;
    }
}

void TStrokeCover::Add(const std::vector<TDashPoint>& points, bool closed, const TStrokePen& pen)
{
    // The work is done where the nib is a circle of radius 1; a nib under a pixel is taken as
    // a pixel.
    const double a = std::max(0.5, pen.Width / 2);
    const double b = std::max(0.5, pen.Height / 2);
    if (!std::isfinite(a) || !std::isfinite(b))
        return;
    std::vector<TDashPoint> u;
    u.reserve(points.size());
    for (const TDashPoint& p : points)
    {
        const TDashPoint q{p.X / a, p.Y / b};
        if (!std::isfinite(q.X) || !std::isfinite(q.Y))
            continue;
        if (u.empty() || q.X != u.back().X || q.Y != u.back().Y)
            u.push_back(q);
    }
    if (closed && u.size() > 1 && u.front().X == u.back().X && u.front().Y == u.back().Y)
        u.pop_back();
    const auto page = [&](TDashPoint q) { return TDashPoint{q.X * a, q.Y * b}; };
    const auto nib = [&](TDashPoint q) { AddEllipse(page(q), a, b); };
    if (u.empty())
        return;
    if (u.size() == 1)
    {
        // A dot: the nib, as a round end draws it.
        if (closed || pen.Cap == TLineCap::Round)
            nib(u[0]);
        return;
    }
    const std::size_t n = u.size();
    const std::size_t segments = closed ? n : n - 1;
    const auto direction = [&](std::size_t i) {
        const TDashPoint d = Minus(u[(i + 1) % n], u[i]);
        return Times(d, 1 / std::hypot(d.X, d.Y));
    };
    const auto normal = [](TDashPoint d) { return TDashPoint{-d.Y, d.X}; };
    for (std::size_t i = 0; i < segments; ++i)
    {
        const TDashPoint p = u[i];
        const TDashPoint q = u[(i + 1) % n];
        const TDashPoint side = normal(direction(i));
        AddPolygon(
            {page(Plus(p, side)), page(Plus(q, side)), page(Minus(q, side)), page(Minus(p, side))});
    }
    // The corners: at each inner point, and at the start of a closed line.
    for (std::size_t i = closed ? 0 : 1; i < (closed ? n : n - 1); ++i)
    {
        const TDashPoint p = u[i];
        if (pen.Join == TLineJoin::Round)
        {
            nib(p);
            continue;
        }
        const TDashPoint in = direction((i + n - 1) % n);
        const TDashPoint out = direction(i);
        const double turn = in.X * out.Y - in.Y * out.X;
        if (turn == 0)
            continue; // straight on, or straight back
        // The outer side of the corner, away from the turn.
        const double outer = turn > 0 ? -1 : 1;
        const TDashPoint o1 = Times(normal(in), outer);
        const TDashPoint o2 = Times(normal(out), outer);
        const double cosine = o1.X * o2.X + o1.Y * o2.Y;
        if (pen.Join == TLineJoin::Miter && 1 + cosine > 1e-9)
        {
            const TDashPoint tip = Times(Plus(o1, o2), 1 / (1 + cosine));
            if (std::hypot(tip.X, tip.Y) <= kMiterLimit)
            {
                AddPolygon({page(p), page(Plus(p, o1)), page(Plus(p, tip)), page(Plus(p, o2))});
                continue;
            }
        }
        AddPolygon({page(p), page(Plus(p, o1)), page(Plus(p, o2))});
    }
    if (closed)
        return;
    switch (pen.Cap)
    {
    case TLineCap::Round:
        nib(u.front());
        nib(u.back());
        break;
    case TLineCap::Square:
    {
        const TDashPoint d0 = direction(0);
        const TDashPoint s0 = normal(d0);
        const TDashPoint p = u.front();
        AddPolygon({page(Plus(p, s0)), page(Minus(Plus(p, s0), d0)), page(Minus(Minus(p, s0), d0)),
                    page(Minus(p, s0))});
        const TDashPoint d1 = direction(n - 2);
        const TDashPoint s1 = normal(d1);
        const TDashPoint q = u.back();
        AddPolygon({page(Plus(q, s1)), page(Plus(Plus(q, s1), d1)), page(Plus(Minus(q, s1), d1)),
                    page(Minus(q, s1))});
        break;
    }
    case TLineCap::Flat:
        break;
    }
}

void TStrokeCover::AddPolygon(std::initializer_list<TDashPoint> corners)
{
    Piece piece;
    double top = std::numeric_limits<double>::infinity();
    double bottom = -top;
    double left = top;
    double right = -top;
    for (const TDashPoint& c : corners)
    {
        piece.Corner[static_cast<std::size_t>(piece.Count++)] = c;
        top = std::min(top, c.Y);
        bottom = std::max(bottom, c.Y);
        left = std::min(left, c.X);
        right = std::max(right, c.X);
    }
    if (!(left <= right))
        return;
    if (m_pieces.empty() || left < m_left)
        m_left = left;
    if (m_pieces.empty() || right > m_right)
        m_right = right;
    Keep(piece, top, bottom);
}

void TStrokeCover::AddEllipse(TDashPoint centre, double halfWidth, double halfHeight)
{
    Piece piece;
    piece.Corner[0] = centre;
    piece.Corner[1] = {halfWidth, halfHeight};
    if (m_pieces.empty() || centre.X - halfWidth < m_left)
        m_left = centre.X - halfWidth;
    if (m_pieces.empty() || centre.X + halfWidth > m_right)
        m_right = centre.X + halfWidth;
    Keep(piece, centre.Y - halfHeight, centre.Y + halfHeight);
}

void TStrokeCover::Keep(Piece piece, double top, double bottom)
{
    // Rows whose centre lies in [top, bottom), within the page: a nib n pixels tall covers n
    // rows.
    const double limit = static_cast<double>(m_height);
    const double first = std::clamp(std::ceil(top - 0.5), 0.0, limit);
    const double last = std::clamp(std::ceil(bottom - 0.5), 0.0, limit);
    if (!(first < last))
        return;
    piece.Top = static_cast<int>(first);
    piece.Bottom = static_cast<int>(last);
    m_pieces.push_back(piece);
}

bool TStrokeCover::RunOf(const Piece& piece, int y, double& from, double& to)
{
    const double centre = y + 0.5;
    if (piece.Count == 0)
    {
        const TDashPoint c = piece.Corner[0];
        const TDashPoint half = piece.Corner[1];
        const double dy = (centre - c.Y) / half.Y;
        if (!(std::abs(dy) <= 1))
            return false;
        const double dx = half.X * std::sqrt(1 - dy * dy);
        from = c.X - dx;
        to = c.X + dx;
        return true;
    }
    from = std::numeric_limits<double>::infinity();
    to = -from;
    for (int i = 0; i < piece.Count; ++i)
    {
        const TDashPoint p = piece.Corner[static_cast<std::size_t>(i)];
        const TDashPoint q = piece.Corner[static_cast<std::size_t>((i + 1) % piece.Count)];
        if ((p.Y <= centre && centre <= q.Y) || (q.Y <= centre && centre <= p.Y))
        {
            const double x = p.Y == q.Y ? p.X : p.X + (centre - p.Y) * (q.X - p.X) / (q.Y - p.Y);
            from = std::min({from, x, p.Y == q.Y ? q.X : x});
            to = std::max({to, x, p.Y == q.Y ? q.X : x});
        }
    }
    return from <= to;
}

void TStrokeCover::Paint(const std::function<TRowRuns(int)>& allowed,
                         const std::function<void(int, int, int)>& paint) const
{
    if (m_pieces.empty())
        return;
    const double width = static_cast<double>(m_width);
    const int x0 = static_cast<int>(std::clamp(std::floor(m_left) - 1, 0.0, width));
    const int x1 = static_cast<int>(std::clamp(std::ceil(m_right) + 1, 0.0, width));
    if (x0 >= x1)
        return;
    int top = m_height;
    int bottom = 0;
    for (const Piece& piece : m_pieces)
    {
        top = std::min(top, piece.Top);
        bottom = std::max(bottom, piece.Bottom);
    }
    // A pixel's count of the pieces covering it, kept as differences along each row: a piece
    // costs two cells a row.
    const auto cells = static_cast<std::size_t>(x1 - x0) + 1;
    const int band = static_cast<int>(
        std::clamp<std::size_t>(kBandCells / cells, 1, static_cast<std::size_t>(bottom - top)));
    std::vector<std::int32_t> counts(static_cast<std::size_t>(band) * cells);
    const auto column = [&](double edge) {
        // The first pixel whose centre is at or past the edge.
        return static_cast<int>(
            std::clamp(std::ceil(edge - 0.5), static_cast<double>(x0), static_cast<double>(x1)));
    };
    for (int start = top; start < bottom; start += band)
    {
        const int end = std::min(bottom, start + band);
        std::fill(counts.begin(), counts.end(), 0);
        for (const Piece& piece : m_pieces)
            for (int y = std::max(start, piece.Top); y < std::min(end, piece.Bottom); ++y)
            {
                double from = 0;
                double to = 0;
                if (!RunOf(piece, y, from, to))
                    continue;
                // Pixels whose centre lies in [from, to).
                const int a = column(from);
                const int b = std::max(a, column(to));
                if (a == b)
                    continue;
                std::int32_t* row = counts.data() + static_cast<std::size_t>(y - start) * cells;
                ++row[a - x0];
                --row[b - x0];
            }
        for (int y = start; y < end; ++y)
        {
            const std::int32_t* row = counts.data() + static_cast<std::size_t>(y - start) * cells;
            const TRowRuns limits = allowed ? allowed(y) : TRowRuns{{x0, x1}};
            std::int32_t count = 0;
            int runStart = -1;
            for (int x = x0; x <= x1; ++x)
            {
                if (x < x1)
                    count += row[x - x0];
                const bool covered = x < x1 && count > 0;
                if (covered && runStart < 0)
                    runStart = x;
                else if (!covered && runStart >= 0)
                {
                    for (const auto& limit : limits)
                    {
                        const int from = std::max(runStart, limit.first);
                        const int to = std::min(x, limit.second);
                        if (from < to)
                            paint(y, from, to);
                    }
                    runStart = -1;
                }
            }
        }
    }
}
