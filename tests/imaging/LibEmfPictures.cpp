#include "tests/imaging/LibEmfPictures.h"

#include <cstdio>

#include <libEMF/emf.h>

namespace
{

template <typename Draw>
std::string Written(Draw draw)
{
    std::FILE* file = std::tmpfile();
    if (file == nullptr)
        return "";
    const RECT frame = {0, 0, 8467, 6350}; // hundredths of a millimetre: 320 x 240 at 96 dpi
    HDC dc = CreateEnhMetaFileWithFILEA(0, file, &frame, "tests\0libEMF\0");
    draw(dc);
    DeleteEnhMetaFile(CloseEnhMetaFileWithFILE(dc));
    std::string bytes;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

} // namespace

std::string LibEmfEmpty()
{
    return Written([](HDC) {});
}

std::string LibEmfShapes()
{
    return Written([](HDC dc) {
        SelectObject(dc, CreateSolidBrush(RGB(255, 0, 0)));
        Rectangle(dc, 20, 20, 140, 100);
        SelectObject(dc, CreateSolidBrush(RGB(0, 0, 255)));
        Ellipse(dc, 180, 20, 300, 120);
        SelectObject(dc, CreateSolidBrush(RGB(0, 255, 0)));
        POINT points[3] = {{20, 140}, {140, 140}, {80, 220}};
        Polygon(dc, points, 3);
    });
}

std::string LibEmfTransformsAndPaths()
{
    return Written([](HDC dc) {
        SaveDC(dc);
        const XFORM scale = {0.16F, 0, 0, 0.16F, 100, 60};
        SetWorldTransform(dc, &scale);
        SelectObject(dc, CreateSolidBrush(RGB(255, 128, 0)));
        SelectObject(dc, GetStockObject(NULL_PEN));
        Rectangle(dc, 0, 0, 1000, 1000);
        RestoreDC(dc, -1);
        SelectObject(dc, CreateSolidBrush(RGB(128, 0, 128)));
        SelectObject(dc, GetStockObject(NULL_PEN));
        BeginPath(dc);
        MoveToEx(dc, 160, 120, 0);
        LineTo(dc, 260, 120);
        LineTo(dc, 210, 190);
        CloseFigure(dc);
        EndPath(dc);
        FillPath(dc);
    });
}
