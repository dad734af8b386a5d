#include "app/imaging/JpegEncoder.h"

#include <atomic>

#include <jerror.h>

#include "app/imaging/JpegBlocks.h"
#include "app/imaging/JpegLib.h"

namespace
{

std::atomic<bool> g_huffmanOptimised{true};

// The settings every JPEG we write shares, whichever path made its coefficients: the
// standard tables scaled to the quality, one grey component or Y at 2 x 2 with Cb and Cr at
// 1 x 1 (4:2:0), and Huffman tables fitted to the picture, which makes files some 10 %
// smaller for the cost of a second pass over the coefficients in memory.
void SetCommonParameters(jpeg_compress_struct& info, bool grey, int quality)
{
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    info.input_components = grey ? 1 : 3;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, grey ? JCS_GRAYSCALE : JCS_YCbCr);
    jpeg_set_quality(&info, quality, TRUE);
    info.optimize_coding = g_huffmanOptimised.load() ? TRUE : FALSE;
}

// The methods of libjpeg's entropy encoder module, as its compressor calls them through
// jpeg_compress_struct::entropy (the module interface of jpegint.h, unchanged since libjpeg 6).
struct TEntropyMethods
{
    void (*StartPass)(j_compress_ptr info, boolean gatherStatistics);
    boolean (*EncodeMcu)(j_compress_ptr info, JBLOCKROW* blocks);
    void (*FinishPass)(j_compress_ptr info);
};

// Fitting the Huffman tables makes libjpeg count every block's symbols in its first pass, in
// plain C at some 700 instructions a block; our counting (CountBlock, BuildHuffmanTable: the
// same counts and the same tables, which the tests check against libjpeg's) takes a quarter of
// that. For that pass it stands in for libjpeg's entropy encoder, and it hands the module back
// with the tables fitted before the pass that writes the file.
struct TCountingEncoder
{
    TEntropyMethods Methods; // first: libjpeg's pointer to the module points to the whole
    TEntropyMethods* Libjpeg = nullptr;
    THuffmanCounts Counts[NUM_HUFF_TBLS];
    int LastDc[MAX_COMPS_IN_SCAN] = {};
};

TCountingEncoder& CountingOf(j_compress_ptr info)
{
    return *reinterpret_cast<TCountingEncoder*>(info->entropy);
}

boolean CountMcu(j_compress_ptr info, JBLOCKROW* blocks)
{
    TCountingEncoder& counting = CountingOf(info);
    for (int b = 0; b < info->blocks_in_MCU; ++b)
    {
        const int c = info->MCU_membership[b];
        const auto table = static_cast<std::size_t>(info->cur_comp_info[c]->dc_tbl_no);
        CountBlock(blocks[b][0], counting.LastDc[c], counting.Counts[table]);
    }
    return TRUE;
}

void FinishCounting(j_compress_ptr info)
{
    TCountingEncoder& counting = CountingOf(info);
    info->entropy = reinterpret_cast<jpeg_entropy_encoder*>(counting.Libjpeg);
    bool fitted[NUM_HUFF_TBLS] = {};
    for (int c = 0; c < info->comps_in_scan; ++c)
    {
        const int table = info->cur_comp_info[c]->dc_tbl_no;
        if (fitted[table])
            continue;
        fitted[table] = true;
        THuffmanCounts& counts = counting.Counts[table];
        // As libjpeg fails for counts no 32-bit code fits (no real picture has them).
        if (!BuildHuffmanTable(counts.Dc, *info->dc_huff_tbl_ptrs[table]) ||
            !BuildHuffmanTable(counts.Ac, *info->ac_huff_tbl_ptrs[table]))
            ERREXIT(info, JERR_HUFF_CLEN_OVERFLOW);
    }
}

void StartCounting(j_compress_ptr info, boolean gatherStatistics)
{
    // Not called in the passes it is installed for; should a pass start anyway, libjpeg's own
    // encoder takes it.
    TEntropyMethods* libjpeg = CountingOf(info).Libjpeg;
    info->entropy = reinterpret_cast<jpeg_entropy_encoder*>(libjpeg);
    (*libjpeg->StartPass)(info, gatherStatistics);
}

// Puts the counting in place of libjpeg's gathering pass, which jpeg_start_compress has just
// begun, where the file is what it counts for: one sequential scan of every component, a table
// pair per component, no restart intervals.
void CountInPlaceOfLibjpeg(j_compress_ptr info, TCountingEncoder& counting)
{
    if (!info->optimize_coding || info->progressive_mode || info->restart_interval != 0 ||
        info->comps_in_scan != info->num_components)
        return;
    for (int c = 0; c < info->comps_in_scan; ++c)
    {
        const jpeg_component_info* component = info->cur_comp_info[c];
        if (component->dc_tbl_no != component->ac_tbl_no ||
            info->dc_huff_tbl_ptrs[component->dc_tbl_no] == nullptr ||
            info->ac_huff_tbl_ptrs[component->ac_tbl_no] == nullptr)
            return;
    }
    counting.Libjpeg = reinterpret_cast<TEntropyMethods*>(info->entropy);
    counting.Methods = {StartCounting, CountMcu, FinishCounting};
    info->entropy = reinterpret_cast<jpeg_entropy_encoder*>(&counting.Methods);
}

bool Compress(TJpegEncoder* encoder, const TRaster* raster, TCountingEncoder* counting, int quality)
{
    if (setjmp(encoder->Trap.Jump) != 0)
        return false;
    jpeg_compress_struct& info = encoder->Info;
    info.image_width = static_cast<JDIMENSION>(raster->Width);
    info.image_height = static_cast<JDIMENSION>(raster->Height);
    SetCommonParameters(info, raster->Channels == 1, quality);
    // The fast integer transform below quality 96 and the accurate one above, as TurboJPEG
    // chooses: at high qualities the fast one's error would show.
    info.dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_IFAST;
    jpeg_start_compress(&info, TRUE);
    CountInPlaceOfLibjpeg(&info, *counting);
    const std::size_t rowBytes = raster->RowBytes();
    while (info.next_scanline < info.image_height)
    {
        // libjpeg takes rows as non-const pointers but only reads them.
        auto* row = const_cast<JSAMPLE*>(raster->Pixels.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

} // namespace

void SetJpegHuffmanOptimised(bool optimised)
{
    g_huffmanOptimised.store(optimised);
}

bool JpegHuffmanOptimised()
{
    return g_huffmanOptimised.load();
}

void SetJpegOutputParameters(jpeg_compress_struct& info, bool grey, int quality)
{
    SetCommonParameters(info, grey, quality);
}

std::string EncodeJpeg(const TRaster& source, int quality)
{
    const TRaster* raster = &source;
    TRaster converted;
    if (source.Channels == 4)
    {
        converted = source;
        FlattenOntoWhite(converted);
        ReduceToGreyIfNeutral(converted);
        raster = &converted;
    }
    else if (IsNeutralRgb(source))
    {
        // Only the grey plane is made, not a copy of the colour picture: large pictures
        // would otherwise be held twice.
        converted = NewRaster(source.Width, source.Height, 1);
        for (std::size_t i = 0; i < converted.Pixels.size(); ++i)
            converted.Pixels[i] = source.Pixels[i * 3];
        raster = &converted;
    }
    if (raster->Channels != 1 && raster->Channels != 3)
        throw EPictureError("cannot encode a picture of " + std::to_string(raster->Channels) +
                            " channels");
    CheckPictureSize(raster->Width, raster->Height);
    if (quality < 1 || quality > 100)
        throw EPictureError("JPEG encoder: quality " + std::to_string(quality) +
                            " is outside 1..100");

    std::string out;
    TJpegEncoder encoder;
    TCountingEncoder counting;
    if (!StartJpegEncoder(encoder, out) || !Compress(&encoder, raster, &counting, quality))
        throw EPictureError("JPEG encoder: " + std::string(encoder.Trap.Message));
    return out;
}
