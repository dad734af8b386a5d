#include "tests/imaging/TestJpegs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <jpeglib.h>

namespace
{

std::string ExifWithOrientation(int orientation)
{
    // "Exif\0\0", a big-endian TIFF header and one IFD with the Orientation tag.
    std::string exif("Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01", 24);
    exif += static_cast<char>(0);
    exif += static_cast<char>(orientation);
    exif += std::string(6, '\0'); // padding of the value, then no next IFD
    return exif;
}

} // namespace

std::string MakeTestJpeg(const TRaster& raster, const TTestJpegOptions& options)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error); // a failure here ends the test program, as it should
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(raster.Width);
    info.image_height = static_cast<JDIMENSION>(raster.Height);
    const bool grey = raster.Channels == 1;
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, options.Quality, TRUE);
    if (!grey && !options.Subsample)
        info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
    if (options.Progressive)
        jpeg_simple_progression(&info);
    info.arith_code = options.Arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    if (options.Orientation >= 1 && options.Orientation <= 8)
    {
        const std::string exif = ExifWithOrientation(options.Orientation);
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.data()),
                          static_cast<unsigned>(exif.size()));
    }
    if (!options.IccProfile.empty())
    {
        std::string chunk("ICC_PROFILE\0\x01\x01", 14);
        chunk += options.IccProfile;
        jpeg_write_marker(&info, JPEG_APP0 + 2, reinterpret_cast<const JOCTET*>(chunk.data()),
                          static_cast<unsigned>(chunk.size()));
    }
    TRaster rows = raster; // libjpeg takes writable rows
    while (info.next_scanline < info.image_height)
    {
        JSAMPROW row = rows.Row(static_cast<int>(info.next_scanline));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

TRaster PhotoRaster(int width, int height, unsigned seed)
{
    TRaster raster = NewRaster(width, height, 3);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            std::uint8_t* p = raster.Row(y) + static_cast<std::size_t>(x) * 3;
            const double fx = static_cast<double>(x) / width;
            const double fy = static_cast<double>(y) / height;
            const int base[3] = {static_cast<int>(128 + 90 * std::sin(6 * fx + 2 * fy)),
                                 static_cast<int>(128 + 80 * std::cos(5 * fy - 3 * fx)),
                                 static_cast<int>(100 + 60 * std::sin(9 * fx * fy))};
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<std::uint8_t>(std::clamp(base[c] + noise(random), 0, 255));
        }
    return raster;
}

double Psnr(const TRaster& a, const TRaster& b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.Channels != b.Channels || a.Pixels.empty())
        return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.Pixels.size(); ++i)
    {
        const double d = static_cast<double>(a.Pixels[i]) - b.Pixels[i];
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.Pixels.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::string ReoptimiseWithLibjpeg(const std::string& jpeg)
{
    jpeg_decompress_struct source{};
    jpeg_error_mgr sourceError{};
    source.err = jpeg_std_error(&sourceError);
    jpeg_create_decompress(&source);
    jpeg_mem_src(&source, reinterpret_cast<const unsigned char*>(jpeg.data()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&source, TRUE);
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&source);

    jpeg_compress_struct target{};
    jpeg_error_mgr targetError{};
    target.err = jpeg_std_error(&targetError);
    jpeg_create_compress(&target);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&target, &buffer, &size);
    jpeg_copy_critical_parameters(&source, &target);
    target.optimize_coding = TRUE;
    jpeg_write_coefficients(&target, coefficients);
    jpeg_finish_compress(&target);
    jpeg_destroy_compress(&target);
    jpeg_finish_decompress(&source);
    jpeg_destroy_decompress(&source);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}
