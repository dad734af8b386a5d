#include "tests/imaging/TestProfiles.h"

#include <memory>

#include <lcms2.h>

#include "tests/support/TestSupport.h"

namespace
{

struct TProfileCloser
{
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using TProfile = std::unique_ptr<void, TProfileCloser>;

std::string Saved(void* profile)
{
    cmsUInt32Number size = 0;
    if (profile == nullptr || !cmsSaveProfileToMem(profile, nullptr, &size))
        return "";
    std::string bytes(size, '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    return bytes;
}

cmsToneCurve* SrgbCurve()
{
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, parameters);
}

// The CLUT of DimPressCmykIcc: CMYK (0..65535 each) to Lab through sRGB.
cmsInt32Number SamplePress(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo)
{
    const double k = in[3] / 65535.0;
    cmsFloat64Number rgb[3];
    for (int c = 0; c < 3; ++c)
        rgb[c] = 0.8 * (1 - in[c] / 65535.0) * (1 - k);
    cmsCIELab lab;
    cmsDoTransform(cargo, rgb, &lab, 1);
    cmsFloat2LabEncoded(out, &lab);
    return 1;
}

} // namespace

std::string SrgbIcc()
{
    return Saved(TProfile(cmsCreate_sRGBProfile()).get());
}

std::string AdobeRgbIcc()
{
    return ReadFileBytes("/usr/share/color/icc/colord/AdobeRGB1998.icc");
}

std::string DisplayP3Icc()
{
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    cmsToneCurve* curve = SrgbCurve();
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const TProfile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return Saved(profile.get());
}

std::string LinearGreyIcc()
{
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.0);
    const TProfile profile(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return Saved(profile.get());
}

std::string DimPressCmykIcc()
{
    const TProfile srgb(cmsCreate_sRGBProfile());
    const TProfile lab(cmsCreateLab4Profile(nullptr));
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb.get(), TYPE_RGB_DBL, lab.get(), TYPE_Lab_DBL,
                                             INTENT_RELATIVE_COLORIMETRIC, 0);
    const TProfile profile(cmsCreateProfilePlaceholder(nullptr));
    cmsSetProfileVersion(profile.get(), 4.3);
    cmsSetDeviceClass(profile.get(), cmsSigOutputClass);
    cmsSetColorSpace(profile.get(), cmsSigCmykData);
    cmsSetPCS(profile.get(), cmsSigLabData);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    cmsStageSampleCLut16bit(clut, SamplePress, toLab, 0);
    // A version 4 CLUT is stored between curves, identities here.
    cmsPipelineInsertStage(pipeline, cmsAT_BEGIN, clut);
    cmsPipelineInsertStage(pipeline, cmsAT_BEGIN, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile.get(), cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(toLab);
    return Saved(profile.get());
}
