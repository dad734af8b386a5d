#include "app/imaging/ImagePreparation.h"

#include <new>

#include "app/imaging/GdiPlus.h"

std::string TryReencodeAsJpeg(const std::string& fileName, int quality, TStream& stream)
{
    try
    {
        TGPImage image(fileName);
        if (image.LastStatus() != gsOk)
            return image.LastReason();
        std::int32_t value = quality;
        EncoderParameters parameters;
        parameters.Count = 1;
        parameters.Parameter[0] = {EncoderQuality, 1, EncoderParameterValueTypeLong, &value};
        CLSID clsid;
        if (FindEncoderClsid("image/jpeg", clsid) < 0)
            return "no JPEG encoder";
        if (image.Save(stream, clsid, &parameters) != gsOk)
            return image.LastReason();
        return "";
    }
    catch (const std::bad_alloc&)
    {
        return "out of memory";
    }
    catch (const std::exception& e)
    {
        return e.what();
    }
    catch (...)
    {
        return "unknown failure";
    }
}

void ReencodeAsJpeg(const std::string& fileName, int quality, TStream& stream)
{
    TryReencodeAsJpeg(fileName, quality, stream);
}
