#include "app/imaging/JpegLib.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include <jerror.h>
#include <libexif/exif-data.h>

namespace
{

// Progressive files with thousands of scans cost minutes of CPU; no real picture has this many.
constexpr int kMaxScans = 1000;

// The first allocation of the output; a 12 megapixel photo at quality 60 needs about a megabyte.
constexpr std::size_t kFirstOutputBytes = std::size_t{256} * 1024;

TJpegTrap& TrapOf(j_common_ptr info)
{
    return *static_cast<TJpegTrap*>(info->client_data);
}

void OnError(j_common_ptr info)
{
    TJpegTrap& trap = TrapOf(info);
    (*info->err->format_message)(info, trap.Message);
    if (info->err->msg_code == JERR_INPUT_EOF)
        trap.HitEnd = true;
    std::longjmp(trap.Jump, 1);
}

// A scan's data that stops at the end-of-image marker: the file ends before the picture does,
// as when its bytes run out, only closed properly. libjpeg would go on making up every row
// that is left (a few hundred bytes can claim 256 megapixels, seconds of work); the picture is
// truncated. Another marker may still be followed by data (a restart, a next scan).
bool EndsAtEoi(j_common_ptr info)
{
    return info->err->msg_code == JWRN_HIT_MARKER && info->is_decompressor != 0 &&
           reinterpret_cast<j_decompress_ptr>(info)->unread_marker == JPEG_EOI;
}

void OnMessage(j_common_ptr info, int level)
{
    // Warnings are not printed. Data ending early fails the picture; other damage is noted,
    // for callers that must not trust the data then.
    if (level >= 0)
        return;
    if (info->err->msg_code == JWRN_JPEG_EOF || EndsAtEoi(info))
        TrapOf(info).HitEnd = true;
    else
        TrapOf(info).Corrupt = true;
}

void OnProgress(j_common_ptr info)
{
    if (info->is_decompressor == 0)
        return;
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans)
    {
        TJpegTrap& trap = TrapOf(info);
        std::snprintf(trap.Message, sizeof trap.Message, "too many scans");
        std::longjmp(trap.Jump, 1);
    }
}

void InstallTrap(j_common_ptr info, TJpegTrap& trap)
{
    info->err = jpeg_std_error(&trap.Error);
    trap.Error.error_exit = OnError;
    trap.Error.emit_message = OnMessage;
    info->client_data = &trap; // kept by jpeg_create_*, needed by its errors
}

// The destination grows the string by doubling; a failing allocation becomes libjpeg's
// out-of-memory error, which leaves by the trap rather than by an exception through C code.
std::string& OutputOf(j_compress_ptr info)
{
    return *reinterpret_cast<TJpegStringDestination*>(info->dest)->Out;
}

bool Grow(std::string& out, std::size_t size) noexcept
{
    try
    {
        out.resize(size);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

void InitDestination(j_compress_ptr info)
{
    std::string& out = OutputOf(info);
    if (!Grow(out, kFirstOutputBytes))
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    info->dest->next_output_byte = reinterpret_cast<JOCTET*>(out.data());
    info->dest->free_in_buffer = out.size();
}

boolean EmptyOutputBuffer(j_compress_ptr info)
{
    std::string& out = OutputOf(info);
    const std::size_t used = out.size();
    if (!Grow(out, used * 2))
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
    info->dest->next_output_byte = reinterpret_cast<JOCTET*>(out.data()) + used;
    info->dest->free_in_buffer = out.size() - used;
    return TRUE;
}

void TermDestination(j_compress_ptr info)
{
    std::string& out = OutputOf(info);
    out.resize(out.size() - info->dest->free_in_buffer);
}

// A Huffman-coded scan that starts with the DC coefficients spends at least a bit on every
// block of its components; so does every sequential scan, whatever its header says of the
// coefficients it holds (libjpeg decodes them all). A file whose bytes after the first scan's
// header cannot hold that is cut short: it is known as such now, before the decoder allocates the
// whole picture (a few hundred bytes claiming 16000 x 16000 took a gigabyte). Arithmetic coding can
// spend less than a bit on a block, so it is not judged here.
bool CodedDataTooShort(const jpeg_decompress_struct& info)
{
    if (info.arith_code != 0 || (info.progressive_mode != 0 && info.Ss != 0) || info.src == nullptr)
        return false;
    std::uint64_t blocks = 0;
    for (int i = 0; i < info.comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i)
    {
        const jpeg_component_info* component = info.cur_comp_info[i];
        if (component != nullptr)
            blocks += static_cast<std::uint64_t>(component->width_in_blocks) *
                      component->height_in_blocks;
    }
    return static_cast<std::uint64_t>(info.src->bytes_in_buffer) * 8 < blocks;
}

} // namespace

TJpegDecoder::~TJpegDecoder()
{
    if (Created)
        jpeg_destroy_decompress(&Info);
}

TJpegEncoder::~TJpegEncoder()
{
    if (Created)
        jpeg_destroy_compress(&Info);
}

bool StartJpegDecoder(TJpegDecoder& decoder, std::string_view bytes)
{
    if (setjmp(decoder.Trap.Jump) != 0)
        return false;
    InstallTrap(reinterpret_cast<j_common_ptr>(&decoder.Info), decoder.Trap);
    jpeg_create_decompress(&decoder.Info);
    decoder.Created = true;
    decoder.Trap.Progress.progress_monitor = OnProgress;
    decoder.Info.progress = &decoder.Trap.Progress;
    jpeg_mem_src(&decoder.Info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&decoder.Info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&decoder.Info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&decoder.Info, TRUE);
    if (CodedDataTooShort(decoder.Info))
        decoder.Trap.HitEnd = true;
    return true;
}

bool StartJpegEncoder(TJpegEncoder& encoder, std::string& out)
{
    if (setjmp(encoder.Trap.Jump) != 0)
        return false;
    InstallTrap(reinterpret_cast<j_common_ptr>(&encoder.Info), encoder.Trap);
    jpeg_create_compress(&encoder.Info);
    encoder.Created = true;
    encoder.Destination.Out = &out;
    encoder.Destination.Manager.init_destination = InitDestination;
    encoder.Destination.Manager.empty_output_buffer = EmptyOutputBuffer;
    encoder.Destination.Manager.term_destination = TermDestination;
    encoder.Info.dest = &encoder.Destination.Manager;
    return true;
}

std::string JpegFailure(const TJpegTrap& trap)
{
    if (trap.HitEnd)
        return "truncated JPEG";
    return std::string("bad JPEG: ") + trap.Message;
}

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

std::string IccProfile(const jpeg_decompress_struct& info)
{
    constexpr std::size_t kHeader = 14; // "ICC_PROFILE\0", sequence number, count
    std::vector<std::string_view> chunks;
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next)
    {
        if (m->marker != JPEG_APP0 + 2 || m->data_length < kHeader ||
            std::memcmp(m->data, "ICC_PROFILE\0", 12) != 0)
            continue;
        const unsigned sequence = m->data[12];
        const unsigned count = m->data[13];
        if (chunks.empty())
            chunks.resize(count);
        if (count != chunks.size() || sequence == 0 || sequence > count ||
            !chunks[sequence - 1].empty())
            return "";
        chunks[sequence - 1] = std::string_view(reinterpret_cast<const char*>(m->data) + kHeader,
                                                m->data_length - kHeader);
    }
    std::string profile;
    for (std::string_view chunk : chunks)
    {
        if (chunk.empty())
            return "";
        profile += chunk;
    }
    return profile;
}
