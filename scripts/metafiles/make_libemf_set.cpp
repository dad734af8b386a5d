// Development only: writes a set of EMFs with Debian's libEMF, another producer than ours, and
// draws each picture again with cairo as its reference (NAME.ref.png), for
// scripts/realworld_check.py. The scenes are random but repeatable: rectangles, ellipses,
// polygons, lines, filled paths, a part under a world transform between SaveDC and RestoreDC,
// and some pictures with nothing drawn. No text: fonts would differ between the two.
//
// (libEMF's headers define min and max as macros.)
//
// Build: g++ -std=c++17 make_libemf_set.cpp $(pkg-config --cflags --libs cairo) -lEMF -o
// make_libemf_set Run:   make_libemf_set OUTDIR [COUNT]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include <cairo.h>
#include <libEMF/emf.h>

namespace
{

// libEMF draws on a reference device of 1024 x 768 pixels, 320 x 240 mm; the picture is
// rendered at 96 dpi from its frame.
constexpr double kScale = 96.0 / (3.2 * 25.4);
constexpr int kUnitsWide = 270; // the frame below, in device units
constexpr int kUnitsHigh = 200;

struct TColour
{
    int R, G, B;
};

class TScene
{
public:
    TScene(HDC dc, cairo_t* cr) : m_dc(dc), m_cr(cr) {}

    void Brush(TColour c)
    {
        SelectObject(m_dc, CreateSolidBrush(RGB(c.R, c.G, c.B)));
        m_brush = c;
        m_hasBrush = true;
    }
    void Pen(TColour c, int width)
    {
        SelectObject(m_dc, CreatePen(PS_SOLID, width, RGB(c.R, c.G, c.B)));
        m_pen = c;
        m_penWidth = width > 1 ? width : 1;
        m_hasPen = true;
    }
    void NoPen()
    {
        SelectObject(m_dc, GetStockObject(NULL_PEN));
        m_hasPen = false;
    }
    void Rect(int l, int t, int r, int b)
    {
        Rectangle(m_dc, l, t, r, b);
        cairo_rectangle(m_cr, l, t, r - l, b - t);
        FillAndStroke();
    }
    void Oval(int l, int t, int r, int b)
    {
        Ellipse(m_dc, l, t, r, b);
        cairo_save(m_cr);
        cairo_translate(m_cr, (l + r) / 2.0, (t + b) / 2.0);
        cairo_scale(m_cr, (r - l) / 2.0, (b - t) / 2.0);
        cairo_arc(m_cr, 0, 0, 1, 0, 2 * M_PI);
        cairo_restore(m_cr);
        FillAndStroke();
    }
    void Poly(const POINT* points, int count)
    {
        Polygon(m_dc, points, count);
        cairo_move_to(m_cr, points[0].x, points[0].y);
        for (int i = 1; i < count; ++i)
            cairo_line_to(m_cr, points[i].x, points[i].y);
        cairo_close_path(m_cr);
        cairo_set_fill_rule(m_cr, CAIRO_FILL_RULE_EVEN_ODD); // ALTERNATE
        FillAndStroke();
    }
    void Line(int x0, int y0, int x1, int y1)
    {
        MoveToEx(m_dc, x0, y0, 0);
        LineTo(m_dc, x1, y1);
        cairo_move_to(m_cr, x0, y0);
        cairo_line_to(m_cr, x1, y1);
        if (m_hasPen)
            Stroke();
        cairo_new_path(m_cr);
    }
    void PathFill(const POINT* points, int count)
    {
        BeginPath(m_dc);
        MoveToEx(m_dc, points[0].x, points[0].y, 0);
        for (int i = 1; i < count; ++i)
            LineTo(m_dc, points[i].x, points[i].y);
        CloseFigure(m_dc);
        EndPath(m_dc);
        FillPath(m_dc);
        cairo_move_to(m_cr, points[0].x, points[0].y);
        for (int i = 1; i < count; ++i)
            cairo_line_to(m_cr, points[i].x, points[i].y);
        cairo_close_path(m_cr);
        cairo_set_fill_rule(m_cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_set_source_rgb(m_cr, m_brush.R / 255.0, m_brush.G / 255.0, m_brush.B / 255.0);
        cairo_fill(m_cr);
    }
    // Draws under a world transform (scale s, then offset) between SaveDC and RestoreDC.
    template <typename Draw>
    void Transformed(double s, int dx, int dy, Draw draw)
    {
        SaveDC(m_dc);
        const XFORM x = {static_cast<float>(s), 0, 0, static_cast<float>(s), static_cast<float>(dx),
                         static_cast<float>(dy)};
        SetWorldTransform(m_dc, &x);
        cairo_save(m_cr);
        cairo_translate(m_cr, dx, dy);
        cairo_scale(m_cr, s, s);
        draw();
        cairo_restore(m_cr);
        RestoreDC(m_dc, -1);
    }

private:
    void FillAndStroke()
    {
        if (m_hasBrush)
        {
            cairo_set_source_rgb(m_cr, m_brush.R / 255.0, m_brush.G / 255.0, m_brush.B / 255.0);
            cairo_fill_preserve(m_cr);
        }
        if (m_hasPen)
            Stroke();
        cairo_new_path(m_cr);
        cairo_set_fill_rule(m_cr, CAIRO_FILL_RULE_WINDING);
    }
    void Stroke()
    {
        cairo_set_source_rgb(m_cr, m_pen.R / 255.0, m_pen.G / 255.0, m_pen.B / 255.0);
        cairo_set_line_width(m_cr, m_penWidth);
        cairo_stroke_preserve(m_cr);
    }

    HDC m_dc;
    cairo_t* m_cr;
    TColour m_brush{255, 255, 255};
    TColour m_pen{0, 0, 0};
    int m_penWidth = 1;
    bool m_hasBrush = true; // the stock white brush
    bool m_hasPen = true;   // the stock black pen
};

void Make(const std::string& base, unsigned seed)
{
    std::mt19937 random(seed);
    const auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    const auto colour = [&] { return TColour{pick(0, 255), pick(0, 255), pick(0, 255)}; };

    std::FILE* file = std::fopen((base + ".emf").c_str(), "wb");
    if (file == nullptr)
    {
        std::perror((base + ".emf").c_str());
        std::exit(1);
    }
    const RECT frame = {0, 0, static_cast<LONG>(kUnitsWide * 2540 / (3.2 * 25.4)),
                        static_cast<LONG>(kUnitsHigh * 2540 / (3.2 * 25.4))};
    HDC dc = CreateEnhMetaFileWithFILEA(0, file, &frame, "make_libemf_set\0scene\0");
    const int width = static_cast<int>(std::lround(frame.right * 96.0 / 2540));
    const int height = static_cast<int>(std::lround(frame.bottom * 96.0 / 2540));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, kScale, kScale);

    TScene scene(dc, cr);
    const int shapes = seed % 7 == 0 ? 0 : pick(3, 9); // every seventh picture is empty
    for (int i = 0; i < shapes; ++i)
    {
        const int l = pick(0, kUnitsWide - 40);
        const int t = pick(0, kUnitsHigh - 40);
        const int r = (std::min)(kUnitsWide, l + pick(20, 140));
        const int b = (std::min)(kUnitsHigh, t + pick(20, 110));
        if (pick(0, 3) == 0)
            scene.NoPen();
        else
            scene.Pen(colour(), pick(1, 4));
        scene.Brush(colour());
        switch (pick(0, 5))
        {
        case 0:
            scene.Rect(l, t, r, b);
            break;
        case 1:
            scene.Oval(l, t, r, b);
            break;
        case 2:
        {
            const POINT points[4] = {{l, b}, {(l + r) / 2, t}, {r, b}, {(l + r) / 2, (t + b) / 2}};
            scene.Poly(points, 4);
            break;
        }
        case 3:
            scene.Pen(colour(), pick(1, 6));
            scene.Line(l, t, r, b);
            break;
        case 4:
        {
            const POINT points[3] = {{l, t}, {r, (t + b) / 2}, {l, b}};
            scene.PathFill(points, 3);
            break;
        }
        default:
            scene.Transformed(0.25, l, t, [&] { scene.Rect(0, 0, 4 * (r - l), 4 * (b - t)); });
            break;
        }
    }

    DeleteEnhMetaFile(CloseEnhMetaFileWithFILE(dc));
    std::fclose(file);
    cairo_destroy(cr);
    cairo_surface_write_to_png(surface, (base + ".ref.png").c_str());
    cairo_surface_destroy(surface);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: make_libemf_set OUTDIR [COUNT]\n");
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : 40;
    for (int i = 1; i <= count; ++i)
        Make(std::string(argv[1]) + "/libemf_" + std::to_string(i), static_cast<unsigned>(i));
    return 0;
}
