#include "app/imaging/JpegTranscoder.h"

#include <algorithm>
#include <atomic>
#include <optional>

#include "app/imaging/ColourManagement.h"
#include "app/imaging/JpegBlocks.h"
#include "app/imaging/JpegEncoder.h"
#include "app/imaging/JpegLib.h"
#include "app/imaging/Raster.h"

namespace
{

std::atomic<bool> g_requantizing{true};

// Where the coefficients of a destination block come from. For the EXIF orientation o the
// upright picture's block (dx, dy) is the stored block (sx, sy) below; inside the block the
// frequencies swap when the picture turns by a quarter, and mirroring an axis negates the odd
// frequencies along it.
struct TTransform
{
    bool Transpose = false; // 5..8
    bool MirrorX = false;   // the stored picture's columns run right to left
    bool MirrorY = false;   // its rows run bottom to top
};

TTransform TransformFor(int orientation)
{
    switch (orientation)
    {
    case 2:
        return {false, true, false};
    case 3:
        return {false, true, true};
    case 4:
        return {false, false, true};
    case 5:
        return {true, false, false};
    case 6:
        return {true, false, true};
    case 7:
        return {true, true, true};
    case 8:
        return {true, true, false};
    default:
        return {};
    }
}

struct TComponentCopy;

struct TPlan
{
    TTransform Transform;
    int Components = 0; // written: 1 (grey, or colour whose chroma is flat) or 3
    int Width = 0;      // upright
    int Height = 0;
    int Quality = 0;
    jvirt_barray_ptr* Source = nullptr;
    jvirt_barray_ptr Target[3] = {};
    std::optional<TRequantTable> Tables[3];
    TComponentCopy* Copies = nullptr; // three
    THuffmanCounts* Counts = nullptr; // two: luma or grey, chroma
};

// The setjmp functions below hold no C++ objects, so the jump from libjpeg destroys nothing;
// the plain functions they call hold none either.

bool ReadCoefficients(TJpegDecoder* decoder, jvirt_barray_ptr** arrays)
{
    if (setjmp(decoder->Trap.Jump) != 0)
        return false;
    *arrays = jpeg_read_coefficients(&decoder->Info);
    return true;
}

// True when every chroma coefficient is 0: Cb = Cr = 128 everywhere, which decodes to R = G = B
// exactly, so the pixel path would write the picture as grey.
bool ChromaIsFlat(TJpegDecoder* decoder, jvirt_barray_ptr* arrays, bool* flat)
{
    if (setjmp(decoder->Trap.Jump) != 0)
        return false;
    j_decompress_ptr info = &decoder->Info;
    *flat = true;
    for (int c = 1; c < 3 && *flat; ++c)
    {
        const jpeg_component_info& component = info->comp_info[c];
        for (JDIMENSION y = 0; y < component.height_in_blocks && *flat; ++y)
        {
            JBLOCKARRAY row = (*info->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(info),
                                                               arrays[c], y, 1, FALSE);
            for (JDIMENSION x = 0; x < component.width_in_blocks && *flat; ++x)
                for (int k = 0; k < DCTSIZE2; ++k)
                    if (row[0][x][k] != 0)
                    {
                        *flat = false;
                        break;
                    }
        }
    }
    return true;
}

// One component's way from the source's arrays to the target's: the block's requantizer (in
// upright frequency order), and where the stored block and its coefficients lie.
struct TComponentCopy
{
    j_decompress_ptr Source = nullptr;
    jvirt_barray_ptr In = nullptr;
    jvirt_barray_ptr Out = nullptr;
    const TRequantTable* Table = nullptr;
    TTransform Transform;
    bool Turned = false;
    JDIMENSION StoredWidth = 0; // in blocks
    JDIMENSION StoredHeight = 0;
    int Index[DCTSIZE2] = {}; // upright coefficient k comes from stored coefficient Index[k]
    int Sign[DCTSIZE2] = {};
};

void PlanCopy(TComponentCopy& copy, const TTransform& transform)
{
    copy.Transform = transform;
    copy.Turned = transform.Transpose || transform.MirrorX || transform.MirrorY;
    for (int k = 0; k < DCTSIZE2; ++k)
    {
        // In the upright block u runs across and v down; they come from the stored block's
        // (v, u) when the picture turns by a quarter. A mirrored stored axis negates its odd
        // frequencies.
        const int v = k / DCTSIZE;
        const int u = k % DCTSIZE;
        const int su = transform.Transpose ? v : u;
        const int sv = transform.Transpose ? u : v;
        copy.Index[k] = sv * DCTSIZE + su;
        const bool negate =
            (transform.MirrorX && (su & 1) != 0) != (transform.MirrorY && (sv & 1) != 0);
        copy.Sign[k] = negate ? -1 : 1;
    }
}

// Requantizes the upright block (x, y) of a turned picture into target from its stored block.
void CopyTurnedBlock(const TComponentCopy& copy, JDIMENSION x, JDIMENSION y, JCOEF* target,
                     int& lastDc, THuffmanCounts& counts)
{
    const TTransform& t = copy.Transform;
    JDIMENSION sx = t.Transpose ? y : x;
    JDIMENSION sy = t.Transpose ? x : y;
    if (t.MirrorX)
        sx = copy.StoredWidth - 1 - sx;
    if (t.MirrorY)
        sy = copy.StoredHeight - 1 - sy;
    JBLOCKARRAY row = (*copy.Source->mem->access_virt_barray)(
        reinterpret_cast<j_common_ptr>(copy.Source), copy.In, sy, 1, FALSE);
    const JCOEF* stored = row[0][sx];
    JCOEF upright[DCTSIZE2];
    for (int k = 0; k < DCTSIZE2; ++k)
        upright[k] = static_cast<JCOEF>(copy.Sign[k] * stored[copy.Index[k]]);
    copy.Table->ApplyAndCount(upright, target, lastDc, counts);
}

// Requantizes the upright block (x, y) of a component into target, which is already the
// stored block itself when nothing turns (the common case, kept apart to be inlined), and
// counts its symbols.
inline void CopyBlock(const TComponentCopy& copy, JDIMENSION x, JDIMENSION y, JCOEF* target,
                      int& lastDc, THuffmanCounts& counts)
{
    if (copy.Turned)
        CopyTurnedBlock(copy, x, y, target, lastDc, counts);
    else
        copy.Table->ApplyAndCount(target, target, lastDc, counts);
}

// Requantizes every block into the target arrays in the order the encoder will write them,
// counting the Huffman symbols on the way: one scan of 4:2:0 MCUs (four Y blocks, Cb, Cr;
// blocks past the picture's edge are the encoder's dummy blocks) or of grey blocks row by row.
void CopyAndCount(j_compress_ptr target, const TComponentCopy* copies, int components,
                  THuffmanCounts* counts)
{
    auto* common = reinterpret_cast<j_common_ptr>(target);
    int lastDc[3] = {0, 0, 0};
    if (components == 1)
    {
        const jpeg_component_info& grey = target->comp_info[0];
        for (JDIMENSION y = 0; y < grey.height_in_blocks; ++y)
        {
            JBLOCKARRAY row = (*target->mem->access_virt_barray)(common, copies[0].Out, y, 1, TRUE);
            for (JDIMENSION x = 0; x < grey.width_in_blocks; ++x)
            {
                CopyBlock(copies[0], x, y, row[0][x], lastDc[0], counts[0]);
            }
        }
        return;
    }
    const jpeg_component_info& luma = target->comp_info[0];
    const jpeg_component_info& chroma = target->comp_info[1];
    for (JDIMENSION my = 0; my < chroma.height_in_blocks; ++my)
    {
        JBLOCKARRAY lumaRows =
            (*target->mem->access_virt_barray)(common, copies[0].Out, 2 * my, 2, TRUE);
        JBLOCKARRAY chromaRows[2];
        for (int c = 1; c < 3; ++c)
            chromaRows[c - 1] =
                (*target->mem->access_virt_barray)(common, copies[c].Out, my, 1, TRUE);
        for (JDIMENSION mx = 0; mx < chroma.width_in_blocks; ++mx)
        {
            for (JDIMENSION dy = 0; dy < 2; ++dy)
                for (JDIMENSION dx = 0; dx < 2; ++dx)
                {
                    const JDIMENSION x = 2 * mx + dx;
                    const JDIMENSION y = 2 * my + dy;
                    if (x >= luma.width_in_blocks || y >= luma.height_in_blocks)
                    {
                        CountDummyBlock(counts[0]);
                        continue;
                    }
                    CopyBlock(copies[0], x, y, lumaRows[dy][x], lastDc[0], counts[0]);
                }
            for (int c = 1; c < 3; ++c)
            {
                CopyBlock(copies[c], mx, my, chromaRows[c - 1][0][mx], lastDc[c], counts[1]);
            }
        }
    }
}

bool WriteCoefficients(TJpegEncoder* encoder, TJpegDecoder* decoder, TPlan* plan)
{
    // Reading the source's arrays may fail too, through the decoder's own trap.
    if (setjmp(encoder->Trap.Jump) != 0)
        return false;
    if (setjmp(decoder->Trap.Jump) != 0)
        return false;
    j_compress_ptr info = &encoder->Info;
    j_decompress_ptr source = &decoder->Info;
    info->image_width = static_cast<JDIMENSION>(plan->Width);
    info->image_height = static_cast<JDIMENSION>(plan->Height);
    SetJpegOutputParameters(*info, plan->Components == 1, plan->Quality);
    // The component sizes in blocks, as jpeg_write_coefficients will find them.
    for (int c = 0; c < plan->Components; ++c)
    {
        jpeg_component_info& component = info->comp_info[c];
        const auto blocks = [](JDIMENSION pixels, int factor, int maxFactor) {
            const JDIMENSION unit = static_cast<JDIMENSION>(maxFactor * DCTSIZE);
            return (pixels * static_cast<JDIMENSION>(factor) + unit - 1) / unit;
        };
        component.width_in_blocks =
            blocks(info->image_width, component.h_samp_factor, plan->Components == 1 ? 1 : 2);
        component.height_in_blocks =
            blocks(info->image_height, component.v_samp_factor, plan->Components == 1 ? 1 : 2);
    }

    const bool turns =
        plan->Transform.Transpose || plan->Transform.MirrorX || plan->Transform.MirrorY;
    for (int c = 0; c < plan->Components; ++c)
    {
        if (!turns)
        {
            plan->Target[c] = plan->Source[c];
            continue;
        }
        // Whole MCUs of rows and columns, as libjpeg reads them when writing.
        const jpeg_component_info& to = info->comp_info[c];
        const int h = to.h_samp_factor;
        const int v = to.v_samp_factor;
        plan->Target[c] = (*info->mem->request_virt_barray)(
            reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, FALSE,
            static_cast<JDIMENSION>((to.width_in_blocks + static_cast<JDIMENSION>(h) - 1) /
                                    static_cast<JDIMENSION>(h) * static_cast<JDIMENSION>(h)),
            static_cast<JDIMENSION>((to.height_in_blocks + static_cast<JDIMENSION>(v) - 1) /
                                    static_cast<JDIMENSION>(v) * static_cast<JDIMENSION>(v)),
            static_cast<JDIMENSION>(v));
    }
    (*info->mem->realize_virt_arrays)(reinterpret_cast<j_common_ptr>(info));

    for (int c = 0; c < plan->Components; ++c)
    {
        const jpeg_component_info& from = source->comp_info[c];
        const JQUANT_TBL* to = info->quant_tbl_ptrs[info->comp_info[c].quant_tbl_no];
        TComponentCopy& copy = plan->Copies[c];
        PlanCopy(copy, plan->Transform);
        std::uint16_t fromUpright[DCTSIZE2];
        for (int k = 0; k < DCTSIZE2; ++k)
            fromUpright[k] = from.quant_table->quantval[copy.Index[k]];
        plan->Tables[c].emplace(fromUpright, to->quantval);
        copy.Source = source;
        copy.In = plan->Source[c];
        copy.Out = plan->Target[c];
        copy.Table = &*plan->Tables[c];
        copy.StoredWidth = from.width_in_blocks;
        copy.StoredHeight = from.height_in_blocks;
    }
    CopyAndCount(info, plan->Copies, plan->Components, plan->Counts);

    // The tables fitted to the counts replace the standard ones; libjpeg would otherwise
    // make a second pass over every block to count the same symbols.
    if (info->optimize_coding)
    {
        bool fitted = true;
        for (int t = 0; t < (plan->Components == 1 ? 1 : 2) && fitted; ++t)
            fitted = BuildHuffmanTable(plan->Counts[t].Dc, *info->dc_huff_tbl_ptrs[t]) &&
                     BuildHuffmanTable(plan->Counts[t].Ac, *info->ac_huff_tbl_ptrs[t]);
        info->optimize_coding = fitted ? FALSE : TRUE;
    }
    jpeg_write_coefficients(info, plan->Target);
    jpeg_finish_compress(info);
    return true;
}

// Why the header rules the file out, or "" when it may be taken.
std::string Refusal(const jpeg_decompress_struct& info, int orientation)
{
    if (info.data_precision != 8)
        return "not 8-bit";
    if (info.arith_code)
        return "arithmetic coding";
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1;
    const bool ycc = info.jpeg_color_space == JCS_YCbCr && info.num_components == 3;
    if (!grey && !ycc)
        return "colour space";
    const jpeg_component_info* c = info.comp_info;
    if (grey && (c[0].h_samp_factor != 1 || c[0].v_samp_factor != 1))
        return "sampling";
    if (ycc && (c[0].h_samp_factor != 2 || c[0].v_samp_factor != 2 || c[1].h_samp_factor != 1 ||
                c[1].v_samp_factor != 1 || c[2].h_samp_factor != 1 || c[2].v_samp_factor != 1))
        return "sampling";
    const std::string profile = IccProfile(info);
    if (!profile.empty() && !IsSrgbProfile(profile))
        return "colour profile";
    const TTransform transform = TransformFor(orientation);
    const unsigned mcuWidth = static_cast<unsigned>(info.max_h_samp_factor) * DCTSIZE;
    const unsigned mcuHeight = static_cast<unsigned>(info.max_v_samp_factor) * DCTSIZE;
    if ((transform.MirrorX && info.image_width % mcuWidth != 0) ||
        (transform.MirrorY && info.image_height % mcuHeight != 0))
        return "orientation not exact for the size";
    return "";
}

} // namespace

void SetJpegRequantizing(bool enabled)
{
    g_requantizing.store(enabled);
}

bool JpegRequantizing()
{
    return g_requantizing.load();
}

TRequantized RequantizeJpeg(std::string_view bytes, int quality)
{
    TRequantized result;
    if (quality < 1 || quality > 100)
    {
        result.Refusal = "quality outside 1..100";
        return result;
    }
    TJpegDecoder decoder;
    if (!StartJpegDecoder(decoder, bytes) || decoder.Trap.HitEnd)
    {
        result.Refusal = JpegFailure(decoder.Trap);
        return result;
    }
    jpeg_decompress_struct& info = decoder.Info;
    try
    {
        CheckPictureSize(info.image_width, info.image_height);
    }
    catch (const EPictureError& e)
    {
        result.Refusal = e.what();
        return result;
    }
    const int orientation = ExifOrientation(info);
    result.Refusal = Refusal(info, orientation);
    if (!result.Refusal.empty())
        return result;

    TPlan plan;
    if (!ReadCoefficients(&decoder, &plan.Source) || decoder.Trap.HitEnd || decoder.Trap.Corrupt)
    {
        result.Refusal = "damaged data: " + JpegFailure(decoder.Trap);
        return result;
    }
    for (int c = 0; c < info.num_components; ++c)
        if (info.comp_info[c].quant_table == nullptr)
        {
            result.Refusal = "a component without data";
            return result;
        }
    bool flat = false;
    if (info.num_components == 3 && !ChromaIsFlat(&decoder, plan.Source, &flat))
    {
        result.Refusal = JpegFailure(decoder.Trap);
        return result;
    }
    plan.Transform = TransformFor(orientation);
    plan.Components = info.num_components == 1 || flat ? 1 : 3;
    const bool turned = plan.Transform.Transpose;
    plan.Width = static_cast<int>(turned ? info.image_height : info.image_width);
    plan.Height = static_cast<int>(turned ? info.image_width : info.image_height);
    plan.Quality = quality;

    TComponentCopy copies[3];
    THuffmanCounts counts[2];
    plan.Copies = copies;
    plan.Counts = counts;
    TJpegEncoder encoder;
    if (!StartJpegEncoder(encoder, result.Jpeg) || !WriteCoefficients(&encoder, &decoder, &plan))
    {
        result.Jpeg.clear();
        result.Refusal =
            std::string("cannot write: ") +
            (encoder.Trap.Message[0] != 0 ? encoder.Trap.Message : decoder.Trap.Message);
    }
    return result;
}
