#include "app/imaging/ColourManagement.h"

#include <array>
#include <cmath>
#include <mutex>
#include <vector>

#include <lcms2.h>

namespace
{

struct TProfileCloser
{
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TTransformDeleter
{
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using TProfile = std::unique_ptr<void, TProfileCloser>;
using TTransform = std::unique_ptr<void, TTransformDeleter>;

// Little CMS reports damaged profiles through a handler; the default one prints nothing, and
// the picture is simply taken as untagged.
void SilenceLittleCms()
{
    static std::once_flag once;
    std::call_once(once, [] { cmsSetLogErrorHandler(nullptr); });
}

TProfile OpenProfile(std::string_view icc)
{
    SilenceLittleCms();
    if (icc.size() < 132 || icc.size() > UINT32_MAX)
        return nullptr;
    return TProfile(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
}

// sRGB's tone curve, IEC 61966-2-1.
cmsToneCurve* NewSrgbCurve()
{
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, parameters);
}

TProfile NewSrgbGreyProfile()
{
    cmsToneCurve* curve = NewSrgbCurve();
    if (curve == nullptr)
        return nullptr;
    TProfile profile(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return profile;
}

bool Near(const cmsCIEXYZ& a, const cmsCIEXYZ& b)
{
    constexpr double kTolerance = 0.005;
    return std::fabs(a.X - b.X) <= kTolerance && std::fabs(a.Y - b.Y) <= kTolerance &&
           std::fabs(a.Z - b.Z) <= kTolerance;
}

bool IsSrgb(void* profile)
{
    if (cmsGetColorSpace(profile) != cmsSigRgbData)
        return false;
    const TProfile srgb(cmsCreate_sRGBProfile());
    if (srgb == nullptr)
        return false;
    const std::array<cmsTagSignature, 3> colorants = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                                      cmsSigBlueColorantTag};
    const std::array<cmsTagSignature, 3> curves = {cmsSigRedTRCTag, cmsSigGreenTRCTag,
                                                   cmsSigBlueTRCTag};
    for (std::size_t c = 0; c < 3; ++c)
    {
        const auto* ours = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, colorants[c]));
        const auto* reference = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.get(), colorants[c]));
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, curves[c]));
        const auto* referenceCurve =
            static_cast<const cmsToneCurve*>(cmsReadTag(srgb.get(), curves[c]));
        if (ours == nullptr || reference == nullptr || curve == nullptr ||
            referenceCurve == nullptr || !Near(*ours, *reference))
            return false;
        // Within a fifth of a level at every one of 65 points.
        for (int i = 0; i <= 64; ++i)
        {
            const auto v = static_cast<cmsFloat32Number>(i / 64.0);
            if (std::fabs(cmsEvalToneCurveFloat(curve, v) -
                          cmsEvalToneCurveFloat(referenceCurve, v)) > 0.2 / 255)
                return false;
        }
    }
    return true;
}

// Pixels of a whole raster through a transform, in place, a row at a time.
void TransformRows(void* transform, TRaster& raster)
{
    for (int y = 0; y < raster.Height; ++y)
        cmsDoTransform(transform, raster.Row(y), raster.Row(y),
                       static_cast<cmsUInt32Number>(raster.Width));
}

// Grey pixels: one channel, or R = G = B in every pixel.
bool AllGrey(const TRaster& raster)
{
    if (raster.Channels == 1)
        return true;
    if (raster.Channels < 3)
        return false;
    const auto step = static_cast<std::size_t>(raster.Channels);
    for (std::size_t i = 0; i < raster.Pixels.size(); i += step)
        if (raster.Pixels[i] != raster.Pixels[i + 1] || raster.Pixels[i] != raster.Pixels[i + 2])
            return false;
    return true;
}

void ConvertGrey(void* profile, TRaster& raster)
{
    if (!AllGrey(raster))
        return;
    const TProfile grey = NewSrgbGreyProfile();
    if (grey == nullptr)
        return;
    const TTransform transform(
        cmsCreateTransform(profile, TYPE_GRAY_8, grey.get(), TYPE_GRAY_8, INTENT_PERCEPTUAL, 0));
    if (transform == nullptr)
        return;
    // A grey profile is one curve: 256 levels say all of it.
    std::array<std::uint8_t, 256> levels{};
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = static_cast<std::uint8_t>(i);
    std::array<std::uint8_t, 256> mapped{};
    cmsDoTransform(transform.get(), levels.data(), mapped.data(), 256);
    const auto step = static_cast<std::size_t>(raster.Channels);
    for (std::size_t i = 0; i < raster.Pixels.size(); i += step)
        for (std::size_t c = 0; c < std::min<std::size_t>(step, 3); ++c)
            raster.Pixels[i + c] = mapped[raster.Pixels[i + c]];
}

} // namespace

bool IsSrgbProfile(std::string_view icc)
{
    const TProfile profile = OpenProfile(icc);
    return profile != nullptr && IsSrgb(profile.get());
}

void ConvertToSrgb(TRaster& raster, std::string_view icc)
{
    const TProfile profile = OpenProfile(icc);
    if (profile == nullptr)
        return;
    // The header's four bytes as they stand: held in the enum, a value no enumerator spans was
    // undefined behaviour.
    const auto space = static_cast<std::uint32_t>(cmsGetColorSpace(profile.get()));
    if (space == cmsSigGrayData)
    {
        ConvertGrey(profile.get(), raster);
        return;
    }
    if (space != cmsSigRgbData || raster.Channels < 3 || IsSrgb(profile.get()))
        return;
    const TProfile srgb(cmsCreate_sRGBProfile());
    const cmsUInt32Number format = raster.Channels == 4 ? TYPE_RGBA_8 : TYPE_RGB_8;
    const TTransform transform(srgb == nullptr
                                   ? nullptr
                                   : cmsCreateTransform(profile.get(), format, srgb.get(), format,
                                                        INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA));
    if (transform != nullptr)
        TransformRows(transform.get(), raster);
}

std::string ProfileFromGamma(std::uint32_t gamma, const std::uint32_t* chromaticities)
{
    if (gamma == 0)
        return "";
    // The stored value is the encoding exponent; pixels are decoded with its inverse.
    const double exponent = 100000.0 / gamma;
    static constexpr std::array<double, 8> kSrgb = {0.3127, 0.3290, 0.64, 0.33,
                                                    0.30,   0.60,   0.15, 0.06};
    std::array<double, 8> xy = kSrgb;
    bool srgbPrimaries = true;
    if (chromaticities != nullptr)
    {
        for (std::size_t i = 0; i < xy.size(); ++i)
        {
            xy[i] = chromaticities[i] / 100000.0;
            srgbPrimaries = srgbPrimaries && std::fabs(xy[i] - kSrgb[i]) <= 0.001;
        }
        for (std::size_t i = 1; i < xy.size(); i += 2)
            if (!(xy[i] > 0 && xy[i] <= 1 && xy[i - 1] >= 0 && xy[i - 1] <= 1))
                return ""; // no colours at all: taken as untagged
    }
    if ((srgbPrimaries && std::fabs(exponent - 2.2) < 0.05) || exponent < 0.1 || exponent > 10)
        return "";
    SilenceLittleCms();
    const cmsCIExyY white = {xy[0], xy[1], 1.0};
    const cmsCIExyYTRIPLE primaries = {
        {xy[2], xy[3], 1.0}, {xy[4], xy[5], 1.0}, {xy[6], xy[7], 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, exponent);
    if (curve == nullptr)
        return "";
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const TProfile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    cmsUInt32Number size = 0;
    if (profile == nullptr || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0)
        return "";
    std::string bytes(size, '\0');
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size))
        return "";
    bytes.resize(size);
    return bytes;
}

std::unique_ptr<TCmykToSrgb> TCmykToSrgb::Create(std::string_view icc, const TLayout& layout)
{
    if ((layout.BytesPerSample != 1 && layout.BytesPerSample != 2) || layout.ExtraSamples < 0 ||
        layout.ExtraSamples > 7 || (layout.Inverted && layout.BytesPerSample != 1))
        return nullptr;
    const TProfile profile = OpenProfile(icc);
    if (profile == nullptr || cmsGetColorSpace(profile.get()) != cmsSigCmykData)
        return nullptr;
    const TProfile srgb(cmsCreate_sRGBProfile());
    if (srgb == nullptr)
        return nullptr;
    const auto extra = static_cast<cmsUInt32Number>(layout.ExtraSamples);
    const auto bytes = static_cast<cmsUInt32Number>(layout.BytesPerSample);
    const cmsUInt32Number format = COLORSPACE_SH(PT_CMYK) | CHANNELS_SH(4) | BYTES_SH(bytes) |
                                   EXTRA_SH(extra) | FLAVOR_SH(layout.Inverted ? 1U : 0U);
    void* transform =
        cmsCreateTransform(profile.get(), format, srgb.get(), TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    if (transform == nullptr)
        return nullptr;
    return std::unique_ptr<TCmykToSrgb>(
        new TCmykToSrgb(transform, (4 + extra) * static_cast<std::size_t>(bytes)));
}

TCmykToSrgb::~TCmykToSrgb()
{
    cmsDeleteTransform(m_transform);
}

void TCmykToSrgb::Convert(const std::uint8_t* cmyk, std::uint8_t* rgb, std::size_t pixels) const
{
    while (pixels > 0)
    {
        const std::size_t now = std::min<std::size_t>(pixels, 1U << 20);
        cmsDoTransform(m_transform, cmyk, rgb, static_cast<cmsUInt32Number>(now));
        cmyk += now * m_pixelBytes;
        rgb += now * 3;
        pixels -= now;
    }
}
