// pictova-preview-time: how long the main window's preview of a picture takes: the picture is
// loaded and a thumbnail made for the 313 x 143 preview box, with the box's own arithmetic.
//
//     pictova-preview-time PICTURE [RUNS]
//
// Prints the median of the runs (default 7) in milliseconds and the thumbnail's size.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/imaging/GdiPlus.h"

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: pictova-preview-time PICTURE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    constexpr int kBoxWidth = 313;
    constexpr int kBoxHeight = 143;
    std::vector<double> times;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    for (int run = 0; run < runs; ++run)
    {
        const auto start = std::chrono::steady_clock::now();
        TGPImage image(argv[1]);
        if (image.Width() == 0 || image.Height() == 0)
        {
            std::fprintf(stderr, "pictova-preview-time: %s: %s\n", argv[1],
                         image.LastReason().c_str());
            return 1;
        }
        const auto rx = static_cast<float>(static_cast<long double>(image.Width()) / kBoxWidth);
        const auto ry = static_cast<float>(static_cast<long double>(image.Height()) / kBoxHeight);
        const float s = rx > ry ? rx : ry;
        const auto tw =
            static_cast<std::uint32_t>(std::nearbyint(image.Width() / static_cast<long double>(s)));
        const auto th = static_cast<std::uint32_t>(
            std::nearbyint(image.Height() / static_cast<long double>(s)));
        std::unique_ptr<TGPImage> thumbnail = image.GetThumbnailImage(tw, th);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (thumbnail->Width() == 0)
        {
            std::fprintf(stderr, "pictova-preview-time: %s\n", thumbnail->LastReason().c_str());
            return 1;
        }
        width = thumbnail->Width();
        height = thumbnail->Height();
        times.push_back(took.count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%.0f ms (median of %d; %.0f..%.0f), thumbnail %u x %u\n", times[times.size() / 2],
                runs, times.front(), times.back(), width, height);
    return 0;
}
