// Draws the small landscape that the demonstration PDF embeds (examples/demo.jpg) and encodes it
// as a JPEG. Run by hand when the picture should change; its output is committed:
//
//     pictova-make-demo-jpeg examples/demo.jpg

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <turbojpeg.h>

namespace
{

constexpr int kWidth = 480;
constexpr int kHeight = 300;
constexpr int kQuality = 85;

struct Rgb
{
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// 0 outside, 1 inside, a one-pixel ramp across the edge so shapes are not jagged.
double Coverage(double signedDistance)
{
    return std::clamp(0.5 - signedDistance, 0.0, 1.0);
}

Rgb Pixel(double x, double y)
{
    const double horizon = kHeight * 0.62;
    // Sky: deep blue at the top to a warm glow at the horizon.
    Rgb colour = Mix({38, 64, 139}, {250, 176, 110}, y / horizon);

    // Sun, with a soft halo.
    const double sunX = kWidth * 0.68;
    const double sunY = horizon - 22;
    const double sunDistance = std::hypot(x - sunX, y - sunY);
    colour = Mix(colour, {255, 214, 140}, 0.45 * std::exp(-sunDistance / 60.0));
    colour = Mix(colour, {255, 240, 190}, Coverage(sunDistance - 30));

    // Two rolling hills in front, the far one paler in the haze.
    const double farHill = horizon + 10 * std::sin(x / 70.0) + 5 * std::sin(x / 23.0 + 1.3);
    colour = Mix(colour, Mix({120, 124, 118}, {62, 98, 82}, (y - farHill) / 40.0),
                 Coverage(farHill - y));
    const double nearHill = kHeight - 45 + 24 * std::sin(x / 95.0 + 2.0);
    colour = Mix(colour, Mix({58, 104, 62}, {28, 64, 40}, (y - nearHill) / 50.0),
                 Coverage(nearHill - y));
    return colour;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argv[0]);
        return 1;
    }

    std::vector<unsigned char> pixels;
    pixels.reserve(static_cast<std::size_t>(kWidth) * kHeight * 3);
    for (int row = 0; row < kHeight; ++row)
    {
        for (int column = 0; column < kWidth; ++column)
        {
            const Rgb c = Pixel(column + 0.5, row + 0.5);
            for (double v : {c.r, c.g, c.b})
            {
                pixels.push_back(
                    static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0))));
            }
        }
    }

    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    if (handle == nullptr || tjCompress2(handle, pixels.data(), kWidth, 0, kHeight, TJPF_RGB, &jpeg,
                                         &jpegSize, TJSAMP_420, kQuality, TJFLAG_ACCURATEDCT) != 0)
    {
        std::fprintf(stderr, "%s: cannot encode the picture: %s\n", argv[0],
                     tjGetErrorStr2(handle));
        tjFree(jpeg);
        tjDestroy(handle);
        return 1;
    }

    FILE* file = std::fopen(argv[1], "wb");
    const bool written = file != nullptr && std::fwrite(jpeg, 1, jpegSize, file) == jpegSize;
    const bool closed = file != nullptr && std::fclose(file) == 0;
    tjFree(jpeg);
    tjDestroy(handle);
    if (!written || !closed)
    {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
