// JPEG through libjpeg's classic interface: it tells the colour space, the Adobe marker and the
// EXIF block, which the TurboJPEG interface hides.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>
#include <libexif/exif-data.h>

#include "app/imaging/PictureReader.h"

namespace
{

// Progressive files with thousands of scans cost minutes of CPU; no real picture has this many.
constexpr int kMaxScans = 1000;

struct TJpegJob
{
    jpeg_decompress_struct Info{};
    jpeg_error_mgr Error{};
    jpeg_progress_mgr Progress{};
    std::jmp_buf Jump{};
    char Message[JMSG_LENGTH_MAX] = {};
    bool Created = false;
    bool HitEnd = false; // the data ended before the picture did
};

TJpegJob* JobOf(j_common_ptr info)
{
    return static_cast<TJpegJob*>(info->client_data);
}

void OnError(j_common_ptr info)
{
    TJpegJob* job = JobOf(info);
    (*info->err->format_message)(info, job->Message);
    if (info->err->msg_code == JERR_INPUT_EOF)
        job->HitEnd = true;
    std::longjmp(job->Jump, 1);
}

void OnMessage(j_common_ptr info, int level)
{
    // Warnings are not printed; the one that matters, data ending early, fails the picture.
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        JobOf(info)->HitEnd = true;
}

void OnProgress(j_common_ptr info)
{
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans)
    {
        TJpegJob* job = JobOf(info);
        std::snprintf(job->Message, sizeof job->Message, "too many scans");
        std::longjmp(job->Jump, 1);
    }
}

// The setjmp functions below hold no C++ objects, so the jump from libjpeg destroys nothing.

bool ReadHeader(TJpegJob* job, const unsigned char* data, unsigned long size)
{
    if (setjmp(job->Jump) != 0)
        return false;
    job->Info.err = jpeg_std_error(&job->Error);
    job->Error.error_exit = OnError;
    job->Error.emit_message = OnMessage;
    job->Info.client_data = job; // kept by jpeg_create_decompress, needed by its errors
    jpeg_create_decompress(&job->Info);
    job->Created = true;
    job->Progress.progress_monitor = OnProgress;
    job->Info.progress = &job->Progress;
    jpeg_mem_src(&job->Info, data, size);
    jpeg_save_markers(&job->Info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&job->Info, TRUE);
    return true;
}

// Rows of CMYK (Adobe files store them inverted) to RGB.
void CmykRowToRgb(const JSAMPLE* in, unsigned char* out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3)
    {
        const unsigned k = inverted ? in[3] : 255u - in[3];
        for (int c = 0; c < 3; ++c)
        {
            const unsigned v = inverted ? in[c] : 255u - in[c];
            out[c] = static_cast<unsigned char>((v * k + 127) / 255);
        }
    }
}

// Decodes into pixels (rowBytes per row); CMYK goes through cmykRow, one row of 4 samples.
bool ReadPixels(TJpegJob* job, unsigned char* pixels, std::size_t rowBytes, JSAMPLE* cmykRow)
{
    if (setjmp(job->Jump) != 0)
        return false;
    j_decompress_ptr info = &job->Info;
    jpeg_start_decompress(info);
    const bool inverted = info->saw_Adobe_marker != 0;
    while (info->output_scanline < info->output_height && !job->HitEnd)
    {
        unsigned char* row = pixels + info->output_scanline * rowBytes;
        JSAMPROW target = cmykRow != nullptr ? cmykRow : row;
        if (jpeg_read_scanlines(info, &target, 1) != 1)
            break;
        if (cmykRow != nullptr)
            CmykRowToRgb(cmykRow, row, info->output_width, inverted);
    }
    return true;
}

class TJpegGuard
{
public:
    explicit TJpegGuard(TJpegJob& job) : m_job(job) {}
    ~TJpegGuard()
    {
        if (m_job.Created)
            jpeg_destroy_decompress(&m_job.Info);
    }
    TJpegGuard(const TJpegGuard&) = delete;
    TJpegGuard& operator=(const TJpegGuard&) = delete;

private:
    TJpegJob& m_job;
};

// The EXIF Orientation (1..8) of IFD0, 1 when absent or unreadable.
int ExifOrientation(const jpeg_decompress_struct& info)
{
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next)
    {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 6 ||
            std::memcmp(m->data, "Exif\0\0", 6) != 0)
            continue;
        ExifData* exif = exif_data_new_from_data(m->data, m->data_length);
        if (exif == nullptr)
            return 1;
        int orientation = 1;
        ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
        if (entry != nullptr && entry->format == EXIF_FORMAT_SHORT && entry->components >= 1 &&
            entry->data != nullptr && entry->size >= 2)
            orientation = exif_get_short(entry->data, exif_data_get_byte_order(exif));
        exif_data_unref(exif);
        return orientation >= 1 && orientation <= 8 ? orientation : 1;
    }
    return 1;
}

std::string Reason(const TJpegJob& job)
{
    if (job.HitEnd)
        return "truncated JPEG";
    return std::string("bad JPEG: ") + job.Message;
}

class TJpegReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "JPEG"; }

    bool Recognises(std::string_view bytes) const override
    {
        return bytes.size() >= 3 && bytes.substr(0, 3) == "\xFF\xD8\xFF";
    }

    TRaster Read(std::string_view bytes) const override
    {
        TJpegJob job;
        TJpegGuard guard(job);
        if (!ReadHeader(&job, reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<unsigned long>(bytes.size())))
            throw EPictureError(Reason(job));
        if (job.HitEnd)
            throw EPictureError("truncated JPEG");
        jpeg_decompress_struct& info = job.Info;
        // Checked before jpeg_start_decompress, which allocates whole-picture buffers for
        // progressive files.
        CheckPictureSize(info.image_width, info.image_height);

        std::vector<JSAMPLE> cmykRow;
        int channels = 3;
        switch (info.jpeg_color_space)
        {
        case JCS_GRAYSCALE:
            info.out_color_space = JCS_GRAYSCALE;
            channels = 1;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            info.out_color_space = JCS_CMYK;
            cmykRow.resize(static_cast<std::size_t>(info.image_width) * 4);
            break;
        default:
            info.out_color_space = JCS_RGB;
            break;
        }
        TRaster raster = NewRaster(info.image_width, info.image_height, channels);
        if (!ReadPixels(&job, raster.Pixels.data(), raster.RowBytes(),
                        cmykRow.empty() ? nullptr : cmykRow.data()))
            throw EPictureError(Reason(job));
        if (job.HitEnd)
            throw EPictureError("truncated JPEG");
        ApplyOrientation(raster, ExifOrientation(info));
        return raster;
    }
};

} // namespace

std::unique_ptr<IPictureReader> NewJpegReader()
{
    return std::make_unique<TJpegReader>();
}
