#include "app/imaging/metafile/PenDashes.h"

#include <cmath>
#include <cstddef>

bool IsThinPen(double width)
{
    return !(width >= 1.5);
}

bool GapsShowBackground(double width, unsigned backgroundMode)
{
    return IsThinPen(width) && backgroundMode == kOpaqueBackground;
}

std::vector<double> PenDashes(unsigned style, double width)
{
    const bool thin = IsThinPen(width);
    std::vector<double> lengths;
    switch (style & kPenStyleMask)
    {
    case kPenDash:
        lengths = thin ? std::vector<double>{18, 6} : std::vector<double>{3, 1};
        break;
    case kPenDot:
        lengths = thin ? std::vector<double>{3, 3} : std::vector<double>{1, 1};
        break;
    case kPenDashDot:
        lengths = thin ? std::vector<double>{9, 6, 3, 6} : std::vector<double>{3, 1, 1, 1};
        break;
    case kPenDashDotDot:
        lengths =
            thin ? std::vector<double>{9, 3, 3, 3, 3, 3} : std::vector<double>{3, 1, 1, 1, 1, 1};
        break;
    default:
        return {};
    }
    if (!thin)
        for (double& length : lengths)
            length *= width;
    return lengths;
}

std::vector<std::vector<TDashPoint>> CutIntoDashes(const std::vector<TDashPoint>& line,
                                                   const std::vector<double>& pattern,
                                                   std::size_t maxDashes)
{
    std::vector<std::vector<TDashPoint>> dashes;
    double period = 0;
    for (double length : pattern)
        period += length;
    if (line.size() < 2 || pattern.empty() || !(period > 0) || !std::isfinite(period))
        return dashes;
    std::size_t part = 0;            // the pattern's entry in force: even ones are dashes
    double left = pattern[0];        // of that entry
    std::vector<TDashPoint> current; // the dash being drawn
    for (std::size_t i = 1; i < line.size(); ++i)
    {
        const TDashPoint a = line[i - 1];
        const TDashPoint b = line[i];
        const double length = std::hypot(b.X - a.X, b.Y - a.Y);
        if (!std::isfinite(length))
            return dashes;
        double at = 0; // along this segment
        const auto point = [&](double t) {
            return TDashPoint{a.X + (b.X - a.X) * t / length, a.Y + (b.Y - a.Y) * t / length};
        };
        if (part % 2 == 0 && current.empty())
            current.push_back(a);
        while (length - at > left)
        {
            at += left;
            if (part % 2 == 0)
            {
                current.push_back(point(at));
                dashes.push_back(std::move(current));
                current.clear();
                if (dashes.size() >= maxDashes)
                    return dashes;
            }
            else
                current.push_back(point(at));
            part = (part + 1) % pattern.size();
            left = pattern[part];
        }
        left -= length - at;
        if (part % 2 == 0)
            current.push_back(b);
    }
    if (part % 2 == 0 && current.size() >= 2)
        dashes.push_back(std::move(current));
    return dashes;
}
