#include "app/imaging/JpegTranscoder.h"

#include <algorithm>
#include <atomic>

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
    bool Transpose = false;   // 5..8
    bool MirrorX = false;     // the stored picture's columns run right to left
    bool MirrorY = false;     // its rows run bottom to top
};

TTransform TransformFor(int orientation)
{
    switch (orientation)
    {
    case 2: return {false, true, false};
    case 3: return {false, true, true};
    case 4: return {false, false, true};
    case 5: return {true, false, false};
    case 6: return {true, false, true};
    case 7: return {true, true, true};
    case 8: return {true, true, false};
    default: return {};
    }
}

// Rescales coefficients of one frequency from the source's quantiser to the target's, rounding
// to the nearest and halves toward zero, and keeps them within what an 8-bit baseline file can
// code (DC differences need at most 11 bits, AC values 10). A half is as far from either
// neighbour, and the one nearer zero costs no more bits: rounding halves away from zero made
// files 1 to 2 % larger for no gain in PSNR. Run for every coefficient of a picture, so
// the division is a multiplication: the quotients that reach it are below 1024 (larger ones
// saturate first), so the product is within 2^-40 of the true quotient, while a quotient that
// is not whole lies at least 1/65535 from the next whole number; the nudge of 2^-20 between
// the two makes the truncation exact.
class TRequantizer
{
public:
    TRequantizer() = default;
    TRequantizer(int from, int to, bool dc)
        : m_from(from), m_half((to - 1) / 2), m_lowest(dc ? -1024 : -1023),
          m_saturate(static_cast<long long>(1024) * to), m_inverse(1.0 / to)
    {
    }

    JCOEF operator()(JCOEF value) const
    {
        if (value == 0)
            return 0;
        const long long scaled = static_cast<long long>(value) * m_from;
        const long long magnitude = (scaled < 0 ? -scaled : scaled) + m_half;
        if (magnitude >= m_saturate)
            return static_cast<JCOEF>(scaled < 0 ? m_lowest : m_limit);
        const auto quotient =
            static_cast<int>(static_cast<double>(magnitude) * m_inverse + 1.0 / (1 << 20));
        return static_cast<JCOEF>(scaled < 0 ? -quotient : quotient);
    }

private:
    int m_from = 1;
    int m_half = 0;
    static constexpr int m_limit = 1023;
    int m_lowest = -1023;
    long long m_saturate = 1024;
    double m_inverse = 1.0;
};

struct TPlan
{
    TTransform Transform;
    int Components = 0;       // written: 1 (grey, or colour whose chroma is flat) or 3
    int Width = 0;            // upright
    int Height = 0;
    int Quality = 0;
    jvirt_barray_ptr* Source = nullptr;
    jvirt_barray_ptr Target[3] = {};
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
            JBLOCKARRAY row = (*info->mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(info), arrays[c], y, 1, FALSE);
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

// Requantizes one component from source to target, which may be the same array when nothing
// turns; otherwise the target is indexed in upright block coordinates.
void CopyComponent(j_decompress_ptr source, const jpeg_component_info& from,
                   const JQUANT_TBL& fromTable, j_compress_ptr target, const JQUANT_TBL& toTable,
                   jvirt_barray_ptr in, jvirt_barray_ptr out, const TTransform& transform)
{
    auto* sourceCommon = reinterpret_cast<j_common_ptr>(source);
    auto* targetCommon = reinterpret_cast<j_common_ptr>(target);
    const JDIMENSION sw = from.width_in_blocks;
    const JDIMENSION sh = from.height_in_blocks;
    const JDIMENSION tw = transform.Transpose ? sh : sw;
    const JDIMENSION th = transform.Transpose ? sw : sh;
    TRequantizer requantize[DCTSIZE2];
    int sign[DCTSIZE2];
    int index[DCTSIZE2]; // target position k takes the source coefficient index[k]
    for (int k = 0; k < DCTSIZE2; ++k)
    {
        const int v = k / DCTSIZE;
        const int u = k % DCTSIZE;
        // In the upright block, u runs across and v down; they come from the stored block's
        // (v, u) when the picture turns by a quarter. A mirrored stored axis negates its odd
        // frequencies.
        const int su = transform.Transpose ? v : u;
        const int sv = transform.Transpose ? u : v;
        index[k] = sv * DCTSIZE + su;
        const bool negate = ((transform.MirrorX && (su & 1) != 0) != (transform.MirrorY && (sv & 1) != 0));
        sign[k] = negate ? -1 : 1;
        requantize[k] = TRequantizer(fromTable.quantval[index[k]], toTable.quantval[k], k == 0);
    }
    if (in == out)
    {
        for (JDIMENSION y = 0; y < sh; ++y)
        {
            JBLOCKARRAY row = (*source->mem->access_virt_barray)(sourceCommon, in, y, 1, TRUE);
            for (JDIMENSION x = 0; x < sw; ++x)
            {
                JCOEF* block = row[0][x];
                for (int k = 0; k < DCTSIZE2; ++k)
                    block[k] = requantize[k](block[k]);
            }
        }
        return;
    }
    for (JDIMENSION ty = 0; ty < th; ++ty)
    {
        JBLOCKARRAY targetRow =
            (*target->mem->access_virt_barray)(targetCommon, out, ty, 1, TRUE);
        for (JDIMENSION tx = 0; tx < tw; ++tx)
        {
            JDIMENSION sx = transform.Transpose ? ty : tx;
            JDIMENSION sy = transform.Transpose ? tx : ty;
            if (transform.MirrorX)
                sx = sw - 1 - sx;
            if (transform.MirrorY)
                sy = sh - 1 - sy;
            JBLOCKARRAY sourceRow =
                (*source->mem->access_virt_barray)(sourceCommon, in, sy, 1, FALSE);
            const JCOEF* block = sourceRow[0][sx];
            JCOEF* result = targetRow[0][tx];
            for (int k = 0; k < DCTSIZE2; ++k)
                result[k] = static_cast<JCOEF>(sign[k] * requantize[k](block[index[k]]));
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

    const bool turns = plan->Transform.Transpose || plan->Transform.MirrorX || plan->Transform.MirrorY;
    for (int c = 0; c < plan->Components; ++c)
    {
        if (!turns)
        {
            plan->Target[c] = plan->Source[c];
            continue;
        }
        // The target's rows and columns are whole MCUs, as libjpeg reads them when writing.
        const jpeg_component_info& from = source->comp_info[c];
        const JDIMENSION columns = plan->Transform.Transpose ? from.height_in_blocks : from.width_in_blocks;
        const JDIMENSION rows = plan->Transform.Transpose ? from.width_in_blocks : from.height_in_blocks;
        const int h = info->comp_info[c].h_samp_factor;
        const int v = info->comp_info[c].v_samp_factor;
        plan->Target[c] = (*info->mem->request_virt_barray)(
            reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, TRUE,
            static_cast<JDIMENSION>((columns + h - 1) / h * h),
            static_cast<JDIMENSION>((rows + v - 1) / v * v), static_cast<JDIMENSION>(v));
    }
    (*info->mem->realize_virt_arrays)(reinterpret_cast<j_common_ptr>(info));
    for (int c = 0; c < plan->Components; ++c)
    {
        const jpeg_component_info& from = source->comp_info[c];
        const JQUANT_TBL* to = info->quant_tbl_ptrs[info->comp_info[c].quant_tbl_no];
        CopyComponent(source, from, *from.quant_table, info, *to, plan->Source[c],
                      plan->Target[c], plan->Transform);
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

    TJpegEncoder encoder;
    if (!StartJpegEncoder(encoder, result.Jpeg) || !WriteCoefficients(&encoder, &decoder, &plan))
    {
        result.Jpeg.clear();
        result.Refusal = std::string("cannot write: ") +
                         (encoder.Trap.Message[0] != 0 ? encoder.Trap.Message : decoder.Trap.Message);
    }
    return result;
}
