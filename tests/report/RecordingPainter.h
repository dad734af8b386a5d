#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Graphics.h"
#include "report/Components.h"

// Records every painting call as one readable line, e.g. "line 0,18 596,18 c0c0c0 dot".
class TRecordingPainter : public TPainter
{
public:
    void FillRect(const TRect& r, TColor color) override
    {
        Calls.push_back("fill " + RectText(r) + " " + Hex(color));
    }
    void Line(int x1, int y1, int x2, int y2, TColor color, TPenStyle style) override
    {
        Calls.push_back("line " + Point(x1, y1) + " " + Point(x2, y2) + " " + Hex(color) +
                        (style == psDot ? " dot" : " solid"));
    }
    void FrameRect(const TRect& r, TColor color, TPenStyle style) override
    {
        Calls.push_back("frame " + RectText(r) + " " + Hex(color) +
                        (style == psDot ? " dot" : " solid"));
    }
    void TextOut(int x, int y, std::string_view text, const TFont& font) override
    {
        Calls.push_back("text " + Point(x, y) + " \"" + std::string(text) + "\" " + font.Name +
                        " " + std::to_string(font.Size) + " " + Hex(font.Color));
    }
    void DrawGraphic(const TRect& dest, const TGraphic& graphic) override
    {
        Calls.push_back("graphic " + RectText(dest) + " " + std::to_string(graphic.Width()) + "x" +
                        std::to_string(graphic.Height()));
    }

    // The recorded calls that start with prefix.
    std::vector<std::string> Starting(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& call : Calls)
        {
            if (call.rfind(prefix, 0) == 0)
            {
                found.push_back(call);
            }
        }
        return found;
    }

    std::vector<std::string> Calls;

private:
    static std::string Point(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }
    static std::string RectText(const TRect& r)
    {
        return Point(r.Left, r.Top) + " " + Point(r.Right, r.Bottom);
    }
    static std::string Hex(TColor color)
    {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%06x", static_cast<unsigned>(color));
        return buffer;
    }
};
