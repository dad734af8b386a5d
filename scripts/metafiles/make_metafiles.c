/* Writes the EMF and WMF fixtures and samples with libuemf.
 *
 * EMF: drawn in device pixels of a 96 dpi reference device (1920 x 1080 pixels,
 * 508 x 286 mm), with a header frame in 0.01 mm that is exactly the picture at
 * 96 dpi, so the frame gives the pixel size without rounding.
 * WMF: the placeable ones map a window of 1440 units per inch (declared in the
 * header) anisotropically; the other draws in device units.
 *
 * Build: cc make_metafiles.c -luemf -lm -o make_metafiles
 * Run:   make_metafiles FIXTURE_DIR SAMPLE_DIR
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <uemf.h>
#include <uwmf.h>

typedef struct
{
    unsigned char r, g, b;
} Rgb;

static const Rgb kRed = {255, 0, 0}, kGreen = {0, 255, 0}, kBlue = {0, 0, 255},
                 kYellow = {255, 255, 0};

static void Check(int failed, const char* what)
{
    if (failed)
    {
        fprintf(stderr, "make_metafiles: %s failed\n", what);
        exit(1);
    }
}

/* ------------------------------------------------------------------ EMF */

typedef struct
{
    EMFTRACK* et;
    EMFHANDLES* eht;
    uint32_t brush, pen;
} Emf;

static void EmfAdd(Emf* e, char* rec)
{
    Check(rec == NULL || emf_append((PU_ENHMETARECORD)rec, e->et, 1) != 0, "emf_append");
}

/* One pixel at 96 dpi is 2540 / 96 hundredths of a millimetre. */
static int32_t PixelsToFrame(int32_t px)
{
    return (int32_t)((px * 2540 + 48) / 96);
}

static void EmfBegin(Emf* e, const char* path, int32_t width, int32_t height)
{
    Check(emf_start(path, 1 << 16, 1 << 14, &e->et) != 0, "emf_start");
    Check(emf_htable_create(64, 64, &e->eht) != 0, "emf_htable_create");
    e->brush = e->pen = 0;
    U_RECTL bounds = rectl_set(point32_set(0, 0), point32_set(width - 1, height - 1));
    U_RECTL frame =
        rectl_set(point32_set(0, 0), point32_set(PixelsToFrame(width), PixelsToFrame(height)));
    EmfAdd(e, U_EMRHEADER_set(bounds, frame, NULL, 0, NULL, sizel_set(1920, 1080),
                              sizel_set(508, 286), 0));
    EmfAdd(e, U_EMRSETMAPMODE_set(U_MM_TEXT));
    EmfAdd(e, U_EMRSETBKMODE_set(U_TRANSPARENT));
}

/* Brush and pen of one colour, replacing the previous pair. */
static void EmfColour(Emf* e, Rgb c)
{
    uint32_t brush, pen;
    U_COLORREF ref = colorref3_set(c.r, c.g, c.b);
    EmfAdd(e, createbrushindirect_set(&brush, e->eht, logbrush_set(U_BS_SOLID, ref, 0)));
    EmfAdd(e, selectobject_set(brush, e->eht));
    EmfAdd(e, createpen_set(&pen, e->eht, logpen_set(U_PS_SOLID, point_set(1, 1), ref)));
    EmfAdd(e, selectobject_set(pen, e->eht));
    if (e->brush)
        EmfAdd(e, deleteobject_set(&e->brush, e->eht));
    if (e->pen)
        EmfAdd(e, deleteobject_set(&e->pen, e->eht));
    e->brush = brush;
    e->pen = pen;
}

static U_RECTL Box(int32_t l, int32_t t, int32_t r, int32_t b)
{
    return rectl_set(point32_set(l, t), point32_set(r, b));
}

static void EmfRect(Emf* e, Rgb c, int32_t l, int32_t t, int32_t r, int32_t b)
{
    EmfColour(e, c);
    EmfAdd(e, U_EMRRECTANGLE_set(Box(l, t, r, b)));
}

static void EmfEllipse(Emf* e, Rgb c, int32_t l, int32_t t, int32_t r, int32_t b)
{
    EmfColour(e, c);
    EmfAdd(e, U_EMRELLIPSE_set(Box(l, t, r, b)));
}

static void EmfPolygon(Emf* e, Rgb c, const U_POINTL* pts, uint32_t n)
{
    EmfColour(e, c);
    int32_t l = pts[0].x, t = pts[0].y, r = l, b = t;
    for (uint32_t i = 1; i < n; ++i)
    {
        if (pts[i].x < l)
            l = pts[i].x;
        if (pts[i].x > r)
            r = pts[i].x;
        if (pts[i].y < t)
            t = pts[i].y;
        if (pts[i].y > b)
            b = pts[i].y;
    }
    EmfAdd(e, U_EMRPOLYGON_set(Box(l, t, r, b), n, pts));
}

static void EmfEnd(Emf* e)
{
    if (e->brush)
        EmfAdd(e, deleteobject_set(&e->brush, e->eht));
    if (e->pen)
        EmfAdd(e, deleteobject_set(&e->pen, e->eht));
    EmfAdd(e, U_EMREOF_set(0, NULL, e->et));
    Check(emf_finish(e->et, e->eht) != 0, "emf_finish");
    emf_free(&e->et);
    emf_htable_free(&e->eht);
}

/* 384 x 288 pixels (4 x 3 inches): four solid quadrants split at (192, 144). */
static void MakeEmfSimple(const char* path)
{
    Emf e;
    EmfBegin(&e, path, 384, 288);
    EmfRect(&e, kRed, 0, 0, 192, 144);
    EmfRect(&e, kGreen, 192, 0, 384, 144);
    EmfRect(&e, kBlue, 0, 144, 192, 288);
    EmfRect(&e, kYellow, 192, 144, 384, 288);
    EmfEnd(&e);
}

/* 480 x 360 pixels: an evening landscape of bands, a sun, hills and a house. */
static void MakeEmfSample(const char* path)
{
    Emf e;
    EmfBegin(&e, path, 480, 360);
    for (int i = 0; i < 24; ++i)
    {
        Rgb c = {(unsigned char)(30 + i * 9), (unsigned char)(40 + i * 5),
                 (unsigned char)(110 + i * 2)};
        EmfRect(&e, c, 0, i * 15, 480, i * 15 + 15);
    }
    EmfEllipse(&e, (Rgb){255, 214, 102}, 300, 60, 400, 160);
    U_POINTL far[] = {{0, 260},   {120, 190}, {250, 240}, {380, 180},
                      {480, 230}, {480, 360}, {0, 360}};
    EmfPolygon(&e, (Rgb){46, 94, 78}, far, 7);
    U_POINTL near[] = {{0, 300}, {160, 250}, {330, 290}, {480, 270}, {480, 360}, {0, 360}};
    EmfPolygon(&e, (Rgb){42, 157, 143}, near, 6);
    EmfRect(&e, (Rgb){231, 111, 81}, 90, 230, 170, 290);
    U_POINTL roof[] = {{80, 232}, {130, 195}, {180, 232}};
    EmfPolygon(&e, (Rgb){38, 70, 83}, roof, 3);
    EmfRect(&e, (Rgb){255, 241, 180}, 105, 245, 125, 265);
    EmfRect(&e, (Rgb){38, 70, 83}, 140, 255, 158, 290);
    EmfEnd(&e);
}

/* ------------------------------------------------------------------ WMF */

typedef struct
{
    WMFTRACK* wt;
    WMFHANDLES* wht;
    uint32_t brush, pen;
} Wmf;

static void WmfAdd(Wmf* w, char* rec)
{
    Check(rec == NULL || wmf_append((U_METARECORD*)rec, w->wt, 1) != 0, "wmf_append");
}

/* widthInches == 0: no placeable header and the default text mapping, where
 * one logical unit is one device pixel; only then is the drawn size defined
 * without a viewport from the caller. */
static void WmfBegin(Wmf* w, const char* path, float widthInches, float heightInches, int16_t extX,
                     int16_t extY)
{
    Check(wmf_start(path, 1 << 16, 1 << 14, &w->wt) != 0, "wmf_start");
    Check(wmf_htable_create(64, 64, &w->wht) != 0, "wmf_htable_create");
    w->brush = w->pen = 0;
    U_PAIRF size = {widthInches, heightInches};
    char* rec = U_WMRHEADER_set(widthInches > 0 ? &size : NULL, 1440);
    Check(rec == NULL || wmf_header_append((U_METARECORD*)rec, w->wt, 1) != 0, "header");
    if (widthInches > 0)
    {
        WmfAdd(w, U_WMRSETMAPMODE_set(U_MM_ANISOTROPIC));
        WmfAdd(w, U_WMRSETWINDOWORG_set(point16_set(0, 0)));
        WmfAdd(w, U_WMRSETWINDOWEXT_set(point16_set(extX, extY)));
    }
    WmfAdd(w, U_WMRSETBKMODE_set(U_TRANSPARENT));
}

static void WmfColour(Wmf* w, Rgb c)
{
    uint32_t brush, pen;
    U_COLORREF ref = colorref3_set(c.r, c.g, c.b);
    WmfAdd(w, wcreatebrushindirect_set(&brush, w->wht, U_WLOGBRUSH_set(U_BS_SOLID, ref, 0)));
    WmfAdd(w, wselectobject_set(brush, w->wht));
    WmfAdd(w, wcreatepenindirect_set(&pen, w->wht, U_PEN_set(U_PS_SOLID, 1, ref)));
    WmfAdd(w, wselectobject_set(pen, w->wht));
    if (w->brush)
        WmfAdd(w, wdeleteobject_set(&w->brush, w->wht));
    if (w->pen)
        WmfAdd(w, wdeleteobject_set(&w->pen, w->wht));
    w->brush = brush;
    w->pen = pen;
}

static U_RECT16 Box16(int16_t l, int16_t t, int16_t r, int16_t b)
{
    return U_RECT16_set(point16_set(l, t), point16_set(r, b));
}

static void WmfRect(Wmf* w, Rgb c, int16_t l, int16_t t, int16_t r, int16_t b)
{
    WmfColour(w, c);
    WmfAdd(w, U_WMRRECTANGLE_set(Box16(l, t, r, b)));
}

static void WmfRoundRect(Wmf* w, Rgb c, int16_t l, int16_t t, int16_t r, int16_t b, int16_t corner)
{
    WmfColour(w, c);
    WmfAdd(w, U_WMRROUNDRECT_set(corner, corner, Box16(l, t, r, b)));
}

static void WmfPolygon(Wmf* w, Rgb c, const U_POINT16* pts, uint16_t n)
{
    WmfColour(w, c);
    WmfAdd(w, U_WMRPOLYGON_set(n, pts));
}

/* libwmf's raster device leaves Ellipse records unfilled, so discs are
 * drawn as 48-sided polygons. */
static void WmfDisc(Wmf* w, Rgb c, int cx, int cy, int radius)
{
    U_POINT16 pts[48];
    for (int i = 0; i < 48; ++i)
    {
        double a = 2.0 * M_PI * i / 48.0;
        pts[i] = point16_set((int16_t)lround(cx + radius * cos(a)),
                             (int16_t)lround(cy + radius * sin(a)));
    }
    WmfPolygon(w, c, pts, 48);
}

static void WmfEnd(Wmf* w)
{
    if (w->brush)
        WmfAdd(w, wdeleteobject_set(&w->brush, w->wht));
    if (w->pen)
        WmfAdd(w, wdeleteobject_set(&w->pen, w->wht));
    WmfAdd(w, U_WMREOF_set());
    Check(wmf_finish(w->wt) != 0, "wmf_finish");
    wmf_free(&w->wt);
    wmf_htable_free(&w->wht);
}

static void WmfQuadrants(Wmf* w, int16_t extX, int16_t extY)
{
    int16_t hx = (int16_t)(extX / 2), hy = (int16_t)(extY / 2);
    WmfRect(w, kRed, 0, 0, hx, hy);
    WmfRect(w, kGreen, hx, 0, extX, hy);
    WmfRect(w, kBlue, 0, hy, hx, extY);
    WmfRect(w, kYellow, hx, hy, extX, extY);
}

/* Placeable: box 3600 x 2880 at 1440 units per inch = 2.5 x 2 inches = 240 x 192
 * pixels at 96 dpi. */
static void MakeWmfPlaceable(const char* path)
{
    Wmf w;
    WmfBegin(&w, path, 2.5f, 2.0f, 3600, 2880);
    WmfQuadrants(&w, 3600, 2880);
    WmfEnd(&w);
}

/* No placeable header: quadrants drawn over 0..192 x 0..128 logical units. */
static void MakeWmfNoPlaceable(const char* path)
{
    Wmf w;
    WmfBegin(&w, path, 0, 0, 192, 128);
    WmfQuadrants(&w, 192, 128);
    WmfEnd(&w);
}

/* Placeable, 5 x 3.75 inches (480 x 360 pixels at 96 dpi): a row of discs
 * growing along a wave on a rounded card, and a star. */
static void MakeWmfSample(const char* path)
{
    Wmf w;
    WmfBegin(&w, path, 5.0f, 3.75f, 7200, 5400);
    WmfRect(&w, (Rgb){250, 243, 224}, 0, 0, 7200, 5400);
    WmfRoundRect(&w, (Rgb){38, 70, 83}, 300, 300, 6900, 5100, 900);
    static const Rgb discs[] = {{138, 177, 125}, {42, 157, 143}, {233, 196, 106},
                                {244, 162, 97},  {231, 111, 81}, {214, 40, 57}};
    for (int i = 0; i < 6; ++i)
    {
        int cx = 1000 + i * 950, cy = 2400 + (int)lround(700 * sin(i * 1.1));
        WmfDisc(&w, discs[i], cx, cy, 350 + i * 90);
    }
    U_POINT16 star[10];
    for (int i = 0; i < 10; ++i)
    {
        double a = -M_PI / 2 + i * M_PI / 5;
        int radius = i % 2 ? 280 : 700;
        star[i] = point16_set((int16_t)lround(5900 + radius * cos(a)),
                              (int16_t)lround(4200 + radius * sin(a)));
    }
    WmfPolygon(&w, (Rgb){255, 255, 255}, star, 10);
    WmfEnd(&w);
}

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: %s FIXTURE_DIR SAMPLE_DIR\n", argv[0]);
        return 2;
    }
    char path[4096];
#define OUT(dir, name) (snprintf(path, sizeof path, "%s/%s", dir, name), path)
    MakeEmfSimple(OUT(argv[1], "emf_simple.emf"));
    MakeWmfPlaceable(OUT(argv[1], "wmf_placeable.wmf"));
    MakeWmfNoPlaceable(OUT(argv[1], "wmf_noplaceable.wmf"));
    MakeEmfSample(OUT(argv[2], "sample.emf"));
    MakeWmfSample(OUT(argv[2], "sample.wmf"));
#undef OUT
    return 0;
}
